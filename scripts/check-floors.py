#!/usr/bin/env python3
"""Checks that every product folder includes only its own folder and the floors below it.

    scripts/check-floors.py [SOURCE_DIR]

The floors, lowest first. A folder may include a folder on a lower floor, never
one on its own floor (other than itself) or above; velmora/ is the generated
version header, open to all. Prints each offending include as
"file:line: folder -> folder" and exits 1 when there is any.
"""
import os
import re
import sys

FLOORS = [
    ["velmora"],
    ["serial", "emulator"],
    ["base"],
    ["sdx", "shop"],
    ["transfer"],
    ["ui", "cli"],
    ["ui/qt", "ui/win32"],
    ["app"],
    ["tests", "bench"],
]
FLOOR_OF = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".hpp", ".cpp", ".cc")


def folder_of(path):
    """The longest folder of FLOORS that holds path, or None."""
    parts = path.split("/")
    for length in range(len(parts) - 1, 0, -1):
        folder = "/".join(parts[:length])
        if folder in FLOOR_OF:
            return folder
    return None


def offences(root):
    for top in sorted(folder for folder in FLOOR_OF if "/" not in folder):
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
                source = folder_of(path)
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = folder_of(match.group(1))
                        if target is None or target == source:
                            continue
                        if FLOOR_OF[target] >= FLOOR_OF[source]:
                            yield f"{path}:{number}: {source} -> {target}"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = list(offences(root))
    for offence in found:
        print(offence)
    if found:
        print(f"{len(found)} include(s) against the floors, lowest first: "
              + " | ".join(", ".join(folders) for folders in FLOORS))
        return 1
    print("include floors: no folder includes one on its own floor or above")
    return 0


if __name__ == "__main__":
    sys.exit(main())
