#!/usr/bin/env python3
"""The include checker on a small made-up tree: each boundary crossed once, and the includes
each part may use, one case at a time.

    check_includes_test.py QT_INCLUDE_ROOT
"""

import contextlib
import io
import os
import sys
import tempfile
import unittest

# The checker is imported from the source tree, which must stay free of byte code.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402

QT_ROOT = None

TREE = ("engine/FFmpeg.h", "engine/FFmpeg.cpp", "engine/vf_eq.h", "player/FFPlayer.cpp",
        "player/PacketQueue.h", "player/libsdl.h", "player/qt/PlayerScreen.h",
        "player/qt/PlayerScreen.cpp", "controls/SkPanel.cpp", "controls/SkDraw.h", "app/U_Main.h",
        "app/U_Main.cpp", "app/core/Settings.cpp")

# (file, include, what the report says; None where the include is allowed)
CASES = (
    ("engine/FFmpeg.cpp", "<QString>", "the engine never depends on Qt"),
    ("player/FFPlayer.cpp", "<QtCore/QObject>", "the player never depends on Qt"),
    ("player/libsdl.h", "<qglobal.h>", "the player never depends on Qt"),
    ("controls/SkPanel.cpp", '"FFmpeg.h"', "the control library depends on Qt only"),
    ("controls/SkPanel.cpp", '"../app/U_Main.h"', "the control library depends on Qt only"),
    ("app/U_Main.cpp", '"FFmpeg.h"', "not a public header of the engine"),
    ("app/core/Settings.cpp", '"PacketQueue.h"', "not a public header of the player"),
    ("app/core/Settings.cpp", "<QImage>", "the application's core needs no screen"),
    ("app/core/Settings.cpp", "<QtWidgets/QApplication>", "the application's core needs no screen"),
    ("player/qt/PlayerScreen.cpp", "<QWidget>", None),
    ("engine/FFmpeg.cpp", "<libavformat/avformat.h>", None),
    ("controls/SkPanel.cpp", '"SkDraw.h"', None),
    ("controls/SkPanel.cpp", "<QPainter>", None),
    ("app/U_Main.cpp", '"vf_eq.h"', None),
    ("app/U_Main.cpp", '"PlayerScreen.h"', None),
    ("app/U_Main.cpp", "<QWidget>", None),
    ("app/core/Settings.cpp", "<QString>", None),
)


def make_tree(root, file, include):
    for path in TREE:
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as source:
            source.write("// a unit\n\n")
            if path == file:
                source.write(f"#include {include}\n")


class CheckIncludes(unittest.TestCase):
    def test_each_crossing_is_reported_with_its_file_and_line(self):
        for file, include, what in CASES:
            with self.subTest(file=file, include=include), tempfile.TemporaryDirectory() as root:
                make_tree(root, file, include)
                found = check_includes.violations(root, QT_ROOT)
                if what is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertTrue(found[0].startswith(f"{file}:3: "), found[0])
                    self.assertIn(what, found[0])

    def test_a_crossing_fails_the_run(self):
        with tempfile.TemporaryDirectory() as root, contextlib.redirect_stdout(io.StringIO()) as out:
            make_tree(root, "engine/FFmpeg.cpp", "<QString>")
            self.assertEqual(check_includes.main(["check_includes.py", root, QT_ROOT]), 1)
        self.assertIn("engine/FFmpeg.cpp:3:", out.getvalue())


if __name__ == "__main__":
    QT_ROOT = sys.argv.pop(1)
    unittest.main()
