#!/usr/bin/env python3
"""Checks that #include lines go down the layers of the tree.

    runtime/core/      includes only runtime/core/ (and generated/, the build
                       tree's generated headers)
    runtime/ (rest)    includes nothing from runtime/io/, console/ or gui/
    runtime/io/        includes nothing from console/ or gui/

Prints each include that goes up and exits 1 when there is one.
Usage: check_layers.py [ROOT]   (ROOT: the source tree, default: this file's parent's parent)
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

# (folder of the including file, folders it may not include from); the
# first rule whose folder holds the file applies.
RULES = [
    ("runtime/core/", lambda target: not target.startswith(("runtime/core/", "generated/"))),
    ("runtime/io/", lambda target: target.startswith(("console/", "gui/"))),
    ("runtime/", lambda target: target.startswith(("runtime/io/", "console/", "gui/"))),
]


def upward_includes(root):
    found = []
    for path in sorted(root.joinpath("runtime").rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc"):
            continue
        name = path.relative_to(root).as_posix()
        rule = next((forbidden for folder, forbidden in RULES if name.startswith(folder)), None)
        if rule is None:
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            # Includes next to the file ("x.inc") and generated ones stay in place.
            if match and "/" in match.group(1) and rule(match.group(1)):
                found.append(f"{name}:{number}: includes {match.group(1)}, which is above it")
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = upward_includes(root)
    for line in found:
        print(line)
    print(f"{len(found)} upward includes")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
