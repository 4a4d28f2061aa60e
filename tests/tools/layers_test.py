#!/usr/bin/env python3
"""tools/layers, which CI runs to keep the layers' includes pointing down: what it lists on a
small tree of its own, and what it leaves alone."""

import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "layers")
_loader = importlib.machinery.SourceFileLoader("layers", TOOL)
_module = importlib.util.spec_from_loader("layers", _loader)
layers = importlib.util.module_from_spec(_module)
_loader.exec_module(layers)


def tree(files):
    """A scratch tree holding {path: text}; returns its top."""
    top = tempfile.mkdtemp()
    for path, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(top, path)), exist_ok=True)
        with open(os.path.join(top, path), "w") as f:
            f.write(text)
    return top


class UpwardIncludes(unittest.TestCase):
    def test_lists_each_include_that_points_up_with_its_line(self):
        top = tree({
            "core/a.h": '#pragma once\n#include "platform/p.h"\n',
            "kernels/k.S": '  # include "workers/w.h"\n',
            "workers/deep/w_win.cpp": '#include <windows.h>\n\n#include "report/r.h"\n',
        })
        self.assertEqual([("core/a.h", 2, "platform/p.h"), ("kernels/k.S", 1, "workers/w.h"),
                          ("workers/deep/w_win.cpp", 3, "report/r.h")],
                         layers.upward_includes(top))

    def test_leaves_downward_own_layer_and_outside_includes_alone(self):
        top = tree({
            "report/r.cpp": '#include "core/a.h"\n#include "report/r.h"\n#include "startup/s.h"\n',
            "ui/u.cpp": '#include <ui/x.h>\n#include "gtest/gtest.h"\n#include "u.h"\n',
            "ui/notes.txt": '#include "report/r.h"\n',
            "tests/host/t.cpp": '#include "report/r.h"\n',
            "tools/t.cpp": '#include "report/r.h"\n',
        })
        self.assertEqual([], layers.upward_includes(top))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
