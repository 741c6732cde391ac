#!/usr/bin/env python3
"""Checks the layer order of src/ on the #include lines.

Each folder under src/ is one layer; a layer may include only itself and the
layers before it in this order: util, settings, model, objects, transport, net,
ui, app. The programs in server/ and tools/ may include any core layer (util to
net) but not ui or app. An include is placed by the file it names: a path
relative to the including file when that file exists, otherwise a path under
src/. Prints one line per upward include and exits 1 when there is any.

    scripts/check_layers.py [--root REPO]
"""
import argparse
import os
import re
import sys

LAYERS = ["util", "settings", "model", "objects", "transport", "net", "ui", "app"]
PROGRAMS = {"server": "net", "tools": "net"}  # the highest layer each may use
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')


def layer_of(path, src):
    """The layer a path lies in, or None outside src/'s layers."""
    relative = os.path.relpath(os.path.normpath(path), src)
    first = relative.split(os.sep)[0]
    return first if first in LAYERS and not relative.startswith("..") else None


def included_layer(including_file, name, src):
    beside = os.path.join(os.path.dirname(including_file), name)
    if os.path.exists(beside):
        return layer_of(beside, src)
    return layer_of(os.path.join(src, name), src)


def source_files(folder):
    for directory, _, files in os.walk(folder):
        for file in sorted(files):
            if file.endswith(SOURCE_SUFFIXES):
                yield os.path.join(directory, file)


def check(root):
    """(files checked, list of violation lines)."""
    src = os.path.join(root, "src")
    scopes = [(os.path.join(src, layer), layer, LAYERS.index(layer)) for layer in LAYERS]
    scopes += [(os.path.join(root, program), program, LAYERS.index(highest))
               for program, highest in PROGRAMS.items()]
    checked = 0
    problems = []
    for folder, owner, highest in scopes:
        if not os.path.isdir(folder):
            continue
        for file in source_files(folder):
            checked += 1
            with open(file, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = included_layer(file, match.group(1), src)
                    if target is not None and LAYERS.index(target) > highest:
                        where = os.path.relpath(file, root)
                        problems.append(f"{where}:{number}: {owner} includes {match.group(1)}, "
                                        f"but {target} is above {owner} in the layer order")
    return checked, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    if not os.path.isdir(os.path.join(root, "src")):
        print(f"{root} has no src/ folder", file=sys.stderr)
        return 2
    checked, problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} upward include(s) in {checked} files", file=sys.stderr)
        return 1
    print(f"layer order kept: {checked} files, no upward include")
    return 0


if __name__ == "__main__":
    sys.exit(main())
