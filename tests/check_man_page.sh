#!/bin/sh
# Renders the manual page and fails on any warning; skipped (77) without groff.
page="$1"
command -v groff >/dev/null 2>&1 || { echo "groff not installed: skipped"; exit 77; }
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo "manual page renders without warnings"
