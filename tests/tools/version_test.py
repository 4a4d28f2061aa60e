#!/usr/bin/env python3
"""The version has one home, project(VERSION) in CMakeLists.txt: the build generates
vardelo_version.h from it, and everything else takes it from there. Checks that the generated
version is a plain one, that no source, test or tool writes a version of its own, and that the
README, which cannot include it, quotes the same one everywhere it names it."""

import os
import re
import sys
import unittest

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# CTest names the build's generated folder; by hand, the default host build's.
GENERATED = os.environ.get("VARDELO_GENERATED_DIR",
                           os.path.join(TOP, "build", "host", "generated"))

# Places where a version is written out for people or file names.
VERSION_USES = [
    (r"Memory benchmark v(\d[\w.]*) \(alpha\)", "the caption"),
    (r"Vardelo version (\d[\w.]*) alpha", "the About page"),
    (r"vardelo-(\d[\w.]*)\.zip", "the dist zip"),
    (r'"version": "(\d[\w.]*)"', "the report's JSON"),
]
# Where those may not appear with a literal version: everything that can take it from the build.
SEARCHED = ["core", "platform", "kernels", "workers", "ui", "startup", "report", "tests", "tools",
            "cmake", "Makefile", "CMakeLists.txt", ".ci"]


def generated_version():
    with open(os.path.join(GENERATED, "vardelo_version.h")) as f:
        m = re.search(r'^#define VARDELO_VERSION "([^"]*)"$', f.read(), re.M)
    return m.group(1) if m else None


def files_under(name):
    path = os.path.join(TOP, name)
    if os.path.isfile(path):
        yield path
        return
    for folder, dirs, files in os.walk(path):
        dirs[:] = [d for d in dirs if d not in ("data", "bench_data")]
        for f in files:
            yield os.path.join(folder, f)


def literal_uses(path):
    """[(line number, what, version)] of the versions written out in a file."""
    found = []
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except (UnicodeDecodeError, OSError):
        return found
    for number, line in enumerate(lines, 1):
        for pattern, what in VERSION_USES:
            for m in re.finditer(pattern, line):
                found.append((number, what, m.group(1)))
    return found


class Version(unittest.TestCase):
    def test_the_build_has_a_plain_version(self):
        version = generated_version()
        self.assertIsNotNone(version, "no VARDELO_VERSION in %s" % GENERATED)
        self.assertRegex(version, r"^\d+\.\d+\.\d+$")

    def test_no_file_writes_a_version_of_its_own(self):
        here = os.path.abspath(__file__)
        found = []
        for name in SEARCHED:
            for path in files_under(name):
                if os.path.abspath(path) == here:
                    continue
                for number, what, version in literal_uses(path):
                    found.append("%s:%d: %s %s" % (os.path.relpath(path, TOP), number, what,
                                                   version))
        self.assertEqual(found, [], "versions written out instead of taken from the build")

    def test_the_readme_quotes_the_built_version(self):
        uses = literal_uses(os.path.join(TOP, "README.md"))
        whats = {what for _, what, _ in uses}
        for what in ("the caption", "the dist zip", "the report's JSON"):
            self.assertIn(what, whats, "the README names %s" % what)
        version = generated_version()
        wrong = ["README.md:%d: %s %s" % use for use in uses if use[2] != version]
        self.assertEqual(wrong, [], "expected version %s everywhere" % version)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
