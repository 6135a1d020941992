#!/bin/sh
# Renders the manual page and fails on any warning. groff comes with the build
# tools (.ci/install-tools, run by `make test`).
page="$1"
command -v groff >/dev/null 2>&1 || { echo "groff is not installed: run make tools"; exit 1; }
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo "manual page renders without warnings"
