#!/usr/bin/env python3
"""Checks that the instructions back the chip up before they program it.

  check_first_runs.py README.txt.in README.md ...

lptspi erases the whole chip, and on the NT family whichever program runs first also brings up the
driver; so in every document named, the first command that runs lptspi on an image must come
after one that runs lptspi-backup. In README.txt (the package's, named *.txt or *.txt.in) the
driver installation steps must themselves run lptspi-backup, and no lptspi on an image before it.

A command is a line of a code block (```) or an indented line of a plain-text document whose first
word is the program's name. Exit status 0 pass, 1 fail (one line per finding).
"""

import re
import sys

# As typed at a prompt ("$ " in a shell transcript); "lptspi.exe" in a list of files is no command.
PROGRAM = re.compile(r"^(?:\$ )?lptspi\s+(?!-)\S")
FAST = re.compile(r"^(?:\$ )?lptspi\s+--fast\s+\S")
BACKUP = re.compile(r"^(?:\$ )?lptspi-backup\s+\S")


def commands(lines, markdown):
    """(line number, command) for each command line."""
    in_block = False
    for number, line in enumerate(lines, 1):
        if markdown and line.startswith("```"):
            in_block = not in_block
            continue
        if (markdown and in_block) or (not markdown and line.startswith("  ")):
            yield number, line.strip()


def first(found, pattern):
    for number, command in found:
        if pattern.search(command):
            return number
    return None


def check(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    markdown = path.endswith(".md")
    findings = []
    found = list(commands(lines, markdown))
    backup = first(found, BACKUP)
    program = min((n for n in (first(found, PROGRAM), first(found, FAST)) if n), default=None)
    if backup is None:
        findings.append("%s: no command runs lptspi-backup" % path)
    elif program is not None and program < backup:
        findings.append("%s:%d: lptspi runs on an image before any lptspi-backup (first at "
                        "line %d)" % (path, program, backup))
    if not markdown:
        start = next((i for i, l in enumerate(lines) if l.startswith("Installing the driver")),
                     None)
        if start is None:
            findings.append("%s: no section 'Installing the driver'" % path)
        else:
            end = next((i for i in range(start + 2, len(lines))
                        if lines[i].startswith("---") and i > start + 1), len(lines)) - 1
            steps = [(n, c) for n, c in found if start < n <= end]
            step_backup = first(steps, BACKUP)
            step_program = min((n for n in (first(steps, PROGRAM), first(steps, FAST)) if n),
                               default=None)
            if step_backup is None:
                findings.append("%s: the driver installation steps do not run lptspi-backup" %
                                path)
            elif step_program is not None and step_program < step_backup:
                findings.append("%s:%d: the driver installation steps run lptspi on an image "
                                "before lptspi-backup" % (path, step_program))
    return findings


def main():
    findings = []
    for path in sys.argv[1:]:
        findings += check(path)
    for finding in findings:
        print("FAIL " + finding)
    if not findings:
        print("ok   %d documents back the chip up before they program it" % (len(sys.argv) - 1))
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
