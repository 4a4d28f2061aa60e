#!/usr/bin/env python3
"""tools/layers, which CI runs to keep the layers' includes pointing down and the files named for
what they need: what it lists on a small tree of its own, and what it leaves alone."""

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


class MisnamedFiles(unittest.TestCase):
    # (case, {path: text}, [(path, line, what)] expected)
    WIN32 = "uses Win32 but is not *_win.*"
    ASM = "has inline assembly but is neither *_x86.* nor *_win.*"
    CASES = [
        ("Win32 headers, a *_win.h header and calling conventions outside *_win.*", {
            "ui/a.h": "#pragma once\n\n#include <Windows.h>\n",
            "platform/b.cpp": '#include "platform/b.h"\n#include <commctrl.h>\n',
            "ui/c.cpp": '#include "ui/ui_win.h"\n',
            "workers/d.h": "unsigned long __stdcall entry(void*);\n",
            "kernels/e_x86.cpp": "int WINAPI f();\n",
        }, [("kernels/e_x86.cpp", 1, WIN32), ("platform/b.cpp", 2, WIN32), ("ui/a.h", 3, WIN32),
            ("ui/c.cpp", 1, WIN32), ("workers/d.h", 1, WIN32)]),
        ("inline assembly outside *_x86.* and *_win.*, once per file", {
            "platform/cpu.cpp": 'void f() {\n  asm volatile("pause");\n  __asm__("nop");\n}\n',
            "core/g.h": "#pragma once\ninline void g() { __asm__ __volatile__ (\"\"); }\n",
        }, [("core/g.h", 2, ASM), ("platform/cpu.cpp", 2, ASM)]),
        ("a *_win.* file that uses nothing of Win32", {
            "report/sections_win.cpp": '#include "report/r.h"\n// CALLBACK, WINAPI\n',
        }, [("report/sections_win.cpp", 0, "is *_win.* but uses nothing of Win32")]),
        ("each kind in a file named for it, guarded declarations, comments, entries, tests", {
            "platform/cpu_x86.cpp": 'void f() { asm volatile("rdtsc"); }\n',
            "kernels/k.S": "  rdtsc\n  movl %eax, (%esp)  # not %rax\n",
            "kernels/k_x64.S": "# 64-bit\n/* code */\n  movq (%rax), %rax\n",
            "platform/p_win.cpp": "#include <windows.h>\nvoid f() { __asm__(\"pause\"); }\n",
            "ui/ui_win.h": "#pragma once\nusing P = long(__stdcall*)(void*);\n",
            "workers/w.h": ("#pragma once\n#ifdef _WIN32\n// a DWORD WINAPI routine\n"
                            "unsigned long __stdcall run(void*);\n#endif\n"
                            "#if defined(_WIN32) && 1\n#if 1\nint CALLBACK g();\n#endif\n#endif\n"),
            "core/notes.h": "// asm(\"nop\") and <windows.h> and __stdcall, in words only\nint disasm(int);\n",
            "startup/vardelo_main.cpp": "#include <windows.h>\nint WINAPI WinMain();\n",
            "tests/host/t.cpp": '#include <windows.h>\nvoid f() { asm("nop"); }\n',
        }, []),
        ("assembly named against its width", {
            "kernels/a.S": "/*\n * %rax in words\n */\n  movl %eax, %ebx\n  addq $8, %r10\n",
            "kernels/b_x64.S": "/* %rax in words */\n  movl %eax, %ebx  # %rcx\n",
        }, [("kernels/a.S", 5, "is x86-64 assembly but not *_x64.S"),
            ("kernels/b_x64.S", 0, "is *_x64.S but names no 64-bit register")]),
        ("Linux system headers outside *_linux.*, once per file", {
            "platform/a.cpp": "#include <cstdio>\n#include <pthread.h>\n#include <sched.h>\n",
            "startup/b.h": "#pragma once\n#include <sys/mman.h>\n",
            "startup/c_linux.cpp": "#include <unistd.h>\n#include <sys/resource.h>\n",
        }, [("platform/a.cpp", 2, "uses Linux but is not *_linux.*"),
            ("startup/b.h", 2, "uses Linux but is not *_linux.*")]),
        ("a calling convention after an #else of _WIN32 is not guarded", {
            "workers/x.h": "#ifdef _WIN32\nint a;\n#else\nint __stdcall b();\n#endif\n",
        }, [("workers/x.h", 4, WIN32)]),
    ]

    def test_lists_each_file_whose_name_does_not_say_what_it_needs(self):
        for case, files, expected in self.CASES:
            with self.subTest(case):
                self.assertEqual(expected, layers.misnamed_files(tree(files)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
