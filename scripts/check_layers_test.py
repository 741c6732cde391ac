#!/usr/bin/env python3
"""Tests of scripts/check_layers.py on small trees made for each case."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_layers.py")


class CheckLayersTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as file:
            file.write(text)

    def run_check(self):
        done = subprocess.run([sys.executable, SCRIPT, "--root", self.root],
                              capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout

    def make_tree(self):
        self.write("src/util/text.h", "#pragma once\n")
        self.write("src/model/zel_object.h", '#include "util/text.h"\n#include <string>\n')
        self.write("src/transport/frame.cpp", '#include "model/zel_object.h"\n')
        self.write("src/ui/gauge.cpp", '#include "settings/settings.h"\n#include <QWidget>\n')
        self.write("src/app/entry.cpp", '#include "ui/gauge.h"\n#include "net/x.h"\n')
        self.write("tools/inspect/inspect.cpp", '#include "inspect/inspect.h"\n'
                   '#include "transport/frame.h"\n')
        self.write("server/main.cpp", '#include "net/socket.h"\n')

    def test_downward_and_same_layer_includes_pass(self):
        self.make_tree()
        code, out = self.run_check()
        self.assertEqual(code, 0, out)
        self.assertIn("7 files, no upward include", out)

    def test_each_upward_include_is_reported_with_its_line(self):
        self.make_tree()
        self.write("src/model/zel_object.cpp",
                   '#include "model/zel_object.h"\n// #include "ui/gauge.h" is a comment\n'
                   '  #  include <transport/frame.h>\n')
        self.write("src/util/codec.cpp", '#include "app/entry.h"\n')
        code, out = self.run_check()
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines(), [
            "src/util/codec.cpp:1: util includes app/entry.h, but app is above util in the "
            "layer order",
            "src/model/zel_object.cpp:3: model includes transport/frame.h, but transport is "
            "above model in the layer order",
        ])

    def test_a_relative_path_is_placed_by_the_file_it_names(self):
        self.make_tree()
        self.write("src/ui/qt_ui.h", "#pragma once\n")
        self.write("src/model/sneaky.cpp", '#include "../ui/qt_ui.h"\n')
        code, out = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("src/model/sneaky.cpp:1: model includes ../ui/qt_ui.h", out)

    def test_programs_may_use_the_core_but_not_the_windows_or_the_entry(self):
        self.make_tree()
        self.write("tools/inspect/show.cpp", '#include "ui/console_ui.h"\n')
        self.write("server/session.h", '#include "app/entry.h"\n')
        code, out = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("tools/inspect/show.cpp:1: tools includes ui/console_ui.h", out)
        self.assertIn("server/session.h:1: server includes app/entry.h", out)


if __name__ == "__main__":
    unittest.main()
