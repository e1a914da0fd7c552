#!/usr/bin/env python3
"""Checks the include lines of the source tree against the boundaries between its parts.

    check_includes.py SOURCE_ROOT QT_INCLUDE_ROOT

Prints "file:line: what" for every include that crosses a boundary and exits with 1 when
there is one. The rules:
  - the engine and the player (apart from the player's Qt adapter in player/qt/) never see Qt;
  - the control library includes nothing of ours from outside controls/;
  - the application includes only the public headers of the engine and the player;
  - the application's core (app/core/) includes nothing of Qt GUI or Qt Widgets.

Qt's headers are recognised by Qt's own include folder (QT_INCLUDE_ROOT, holding QtCore/,
QtGui/ ...), so that a class or a lowercase header added in a later Qt is known too. Our own
headers are found by their path in the tree: first beside the including file, else by the
include's path at the end of any header of engine/, player/, controls/ or app/.
"""

import fnmatch
import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".cxx")
SUBSYSTEMS = ("engine", "player", "controls", "app")
INCLUDE_LINE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')

# What the application may include of the engine and the player.
PUBLIC_HEADERS = ("FFEncode.h", "FFDecode.h", "FFPlayer.h", "FFLoad.h", "FFBaseComponent.h",
                  "Previewer.h", "MyUtils.h", "FFUtils.h", "vf_*.h", "PlayerScreen.h")
GUI_MODULES = ("QtGui", "QtWidgets")


def part_of(path):
    """The part of the tree a path (relative to the root, with "/") belongs to."""
    if path.startswith("player/qt/"):
        return "player/qt"
    if path.startswith("app/core/"):
        return "app/core"
    return path.split("/", 1)[0]


class QtHeaders:
    """The names Qt's include folder offers: module folders and the headers inside them."""

    def __init__(self, root):
        self.modules = {m for m in os.listdir(root) if m.startswith("Qt")}
        self.module_of = {}
        for module in sorted(self.modules):
            folder = os.path.join(root, module)
            for name in os.listdir(folder):
                if os.path.isfile(os.path.join(folder, name)):
                    self.module_of.setdefault(name, module)

    def module(self, include):
        """The Qt module an include names, or None when it is no Qt header."""
        first = include.split("/", 1)[0]
        if "/" in include:
            return first if first in self.modules else None
        return self.module_of.get(include)


class Tree:
    def __init__(self, root):
        self.root = root
        self.sources = []
        for sub in SUBSYSTEMS:
            for folder, _, names in os.walk(os.path.join(root, sub)):
                for name in sorted(names):
                    if name.endswith(SOURCE_SUFFIXES):
                        path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                        self.sources.append(path)
        self.headers = [p for p in self.sources if not p.endswith((".c", ".cc", ".cpp", ".cxx"))]

    def resolve(self, including, include):
        """Our own files an include may name: the one beside the including file, else every
        header whose path ends with the include's."""
        beside = os.path.normpath(os.path.join(os.path.dirname(including), include)).replace(os.sep, "/")
        if os.path.isfile(os.path.join(self.root, beside)):
            return [beside]
        return [h for h in self.headers if h == include or h.endswith("/" + include)]


def violation(tree, qt, path, include):
    """What is wrong with the include in the file, or None."""
    part = part_of(path)
    ours = tree.resolve(path, include)
    module = None if ours else qt.module(include)
    if part in ("engine", "player") and module:
        return f"includes <{include}> of {module}: the {part} never depends on Qt"
    if part == "app/core" and module in GUI_MODULES:
        return f"includes <{include}> of {module}: the application's core needs no screen"
    for header in ours:
        owner = part_of(header)
        if part == "controls" and owner != "controls":
            return f'includes "{include}" ({header}): the control library depends on Qt only'
        if part.startswith("app") and owner.startswith(("engine", "player")):
            if not any(fnmatch.fnmatchcase(os.path.basename(header), p) for p in PUBLIC_HEADERS):
                return f'includes "{include}" ({header}), which is not a public header of the {owner}'
    return None


def violations(root, qt_root):
    tree = Tree(root)
    qt = QtHeaders(qt_root)
    found = []
    for path in tree.sources:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE_LINE.match(line)
                what = match and violation(tree, qt, path, match.group(1))
                if what:
                    found.append(f"{path}:{number}: {what}")
    return found


def main(argv):
    if len(argv) != 3:
        print("usage: check_includes.py SOURCE_ROOT QT_INCLUDE_ROOT", file=sys.stderr)
        return 2
    found = violations(argv[1], argv[2])
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
