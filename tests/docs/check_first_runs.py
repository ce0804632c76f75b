#!/usr/bin/env python3
"""Checks that the instructions back the chip up before they program it.

  check_first_runs.py DOCUMENT ...

lptspi erases the whole chip, and on the NT family whichever program runs first also brings up
the driver. In every document that runs lptspi on an image, the first command that does must
come after one that runs lptspi-backup, and README.txt's driver installation steps must run lptspi-backup. A
command is a line of a code block (```) in Markdown, an indented line in plain text. Exit status 0
pass, 1 fail (one line per finding).
"""

import re
import sys

# As typed, on an image, after the options of a run that writes (--verify writes nothing).
PROGRAM = re.compile(r"^(?:\$ )?lptspi\s+(?:(?:--fast|--port\s+\S+)\s+)*[^-\s]")
BACKUP = re.compile(r"^(?:\$ )?lptspi-backup\s+\S")


def findings(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    markdown, in_block, commands, install = path.endswith(".md"), False, [], None
    for number, line in enumerate(lines, 1):
        if line.startswith("Installing the driver"):
            install = number
        if markdown and line.startswith("```"):
            in_block = not in_block
        elif in_block or (not markdown and line.startswith("  ")):
            commands.append((number, line.strip()))
    first = {name: next((n for n, c in commands if pattern.search(c)), None)
             for name, pattern in (("program", PROGRAM), ("backup", BACKUP))}
    if first["program"] is not None and (first["backup"] is None
                                         or first["program"] < first["backup"]):
        yield "%s:%s: lptspi runs on an image before any lptspi-backup" % (path, first["program"])
    if not markdown:
        end = next((i for i in range((install or 0) + 2, len(lines))
                    if lines[i].startswith("---")), len(lines))
        steps = [c for n, c in commands if install and install < n < end]
        ran = [c for c in steps if PROGRAM.search(c) or BACKUP.search(c)]
        if not ran or not BACKUP.search(ran[0]):
            yield "%s: the driver installation steps do not run lptspi-backup first" % path


def main():
    found = [finding for path in sys.argv[1:] for finding in findings(path)]
    for finding in found:
        print("FAIL " + finding)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
