#!/usr/bin/env python3
"""Every example command line of README.md and the manual page runs as printed.

Usage: check_doc_examples.py <rorarodi binary> <source directory>

An example is a line of a README code block, or of a .nf/.fi block of the manual,
that starts with "rorarodi " (the synopsis "rorarodi <filename.dbf|pattern> ..." is no
example), or a `rorarodi ...` code span of README without an optional part "[...]". Each one must
- pass `sh -n` and `bash -n` (dash and bash read it alike);
- run in dash and in bash, with a stand-in `rorarodi` that records its arguments, as
  one call of the program with the words the line shows: no word run as a command of
  its own (';', '|', '&'), no word lost to a comment ('#'), no redirection ('<', '>'),
  no variable ('$', under `set -u`) and no wildcard left to the shell (bash's failglob,
  in an empty directory); both shells must pass the same arguments;
- when it works on the sample table (customers.dbf), run through the program itself on
  a copy of examples/customers.dbf with exit status 0, no "Unknown function" and no
  usage text.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

STUB = """#!/bin/sh
for argument do printf '%s\\0' "$argument"; done >>"$RORARODI_ARGUMENTS"
printf '\\n' >>"$RORARODI_ARGUMENTS"
"""


def readme_examples(path):
    examples = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = re.match(r"^ {4,}(rorarodi .*)$", line.rstrip("\n"))
            if match and not match.group(1).startswith("rorarodi <"):
                examples.append((f"README.md:{number}", match.group(1)))
            # Command lines in the text; "[...]" marks an optional part of a form.
            for span in re.findall(r"`(rorarodi [^`]*)`", line):
                if "[" not in span:
                    examples.append((f"README.md:{number}", span))
    return examples


def roff_text(line):
    line = re.sub(r"\\\[u([0-9A-Fa-f]{4,6})\]", lambda m: chr(int(m.group(1), 16)), line)
    for escape, text in (("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\&", ""), ("\\e", "\\")):
        line = line.replace(escape, text)
    return line


def manual_examples(path):
    examples = []
    in_block = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith((".nf", ".EX")):
                in_block = True
            elif line.startswith((".fi", ".EE")):
                in_block = False
            elif in_block and line.startswith("rorarodi "):
                examples.append((f"docs/rorarodi.1:{number}", roff_text(line)))
    return examples


def run_with_stub(shell, line, work):
    """The argument lists the stand-in received, or an error text."""
    stub_dir = os.path.join(work, "bin")
    scratch = tempfile.mkdtemp(dir=work)
    log = os.path.join(work, "arguments")
    open(log, "w").close()
    prefix = "set -u; shopt -s failglob; " if shell == "bash" else "set -u; "
    result = subprocess.run([shutil.which(shell), "-c", prefix + line], cwd=scratch, capture_output=True,
                            env={"PATH": stub_dir, "RORARODI_ARGUMENTS": log}, timeout=30)
    created = os.listdir(scratch)
    if result.returncode != 0:
        return f"{shell} exits {result.returncode}: {result.stderr.decode(errors='replace').strip()}"
    if created:
        return f"{shell} created {created}"
    with open(log, "rb") as f:
        calls = [call.split(b"\0")[:-1] for call in f.read().split(b"\n")[:-1]]
    if not calls or not calls[0]:
        return f"{shell} called rorarodi without arguments (a '#' made them a comment?)"
    return calls


def main():
    binary, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    examples = readme_examples(os.path.join(source, "README.md")) + \
        manual_examples(os.path.join(source, "docs", "rorarodi.1"))
    failures = []
    with tempfile.TemporaryDirectory() as work:
        os.mkdir(os.path.join(work, "bin"))
        stub = os.path.join(work, "bin", "rorarodi")
        with open(stub, "w") as f:
            f.write(STUB)
        os.chmod(stub, 0o755)
        program_dir = os.path.join(work, "program")
        os.mkdir(program_dir)
        os.symlink(binary, os.path.join(program_dir, "rorarodi"))
        sample_runs = 0
        for place, line in examples:
            for shell in ("sh", "bash"):
                syntax = subprocess.run([shutil.which(shell), "-n", "-c", line], capture_output=True)
                if syntax.returncode != 0:
                    failures.append(f"{place}: {shell} -n: {syntax.stderr.decode(errors='replace').strip()}")
            calls = {shell: run_with_stub(shell, line, work) for shell in ("dash", "bash")}
            for shell, outcome in calls.items():
                if isinstance(outcome, str):
                    failures.append(f"{place}: {outcome}\n    {line}")
            if all(isinstance(c, list) for c in calls.values()) and calls["dash"] != calls["bash"]:
                failures.append(f"{place}: dash and bash pass different arguments\n    {line}")
            if not re.search(r"(^|\s)customers\.dbf(\s|$)", line):
                continue
            sample_runs += 1
            with tempfile.TemporaryDirectory(dir=work) as run_dir:
                shutil.copy(os.path.join(source, "examples", "customers.dbf"), run_dir)
                result = subprocess.run(["/bin/sh", "-c", line], cwd=run_dir, capture_output=True, timeout=60,
                                        env={"PATH": program_dir + ":/usr/bin:/bin"})
                output = result.stdout.decode("latin-1")
                if result.returncode != 0 or "Unknown function" in output or \
                        output.startswith("ORTA Command Line utility"):
                    failures.append(f"{place}: exit {result.returncode} on the sample table\n    {line}\n"
                                    f"    {output.strip()[:300]}")
    for failure in failures:
        print(failure)
    print(f"{len(examples)} examples, {sample_runs} run on the sample table, {len(failures)} failures")
    return 1 if failures or len(examples) < 50 or sample_runs < 5 else 0


if __name__ == "__main__":
    sys.exit(main())
