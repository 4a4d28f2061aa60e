#!/usr/bin/env python3
"""tools/vardelo_facts.py reads the program's numbers from its headers: the forms the headers
write them in, and a loud failure on a name no header defines or a line it cannot read."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

import vardelo_facts as facts  # noqa: E402


class Header(unittest.TestCase):
    def test_the_forms_the_headers_use(self):
        text = "\n".join([
            "inline constexpr std::uint32_t NO_POINT = 0xFFFFFFFFu;",
            "inline constexpr int FIRST = -3072;",
            "inline constexpr u8 MODE = 4;",
            "inline constexpr unsigned MESSAGE = 0x400 + 5;",
            "inline constexpr unsigned AFTER = MESSAGE + 1;  // a comment; with a semicolon",
            "inline constexpr std::uint32_t BIG = 2u << 20;",
            "inline constexpr u32 BIT = 1u << 27;",
            "inline constexpr std::uint32_t BLOCKS[KINDS] = {32, 64, 128, 256};",
            "constexpr int NOT_INLINE = 7;",
            "  inline constexpr int INDENTED = 3;",
        ])
        self.assertEqual(facts.parse_header(text), {
            "NO_POINT": 0xFFFFFFFF, "FIRST": -3072, "MODE": 4, "MESSAGE": 0x405, "AFTER": 0x406,
            "BIG": 2 << 20, "BIT": 1 << 27, "BLOCKS": (32, 64, 128, 256), "INDENTED": 3})

    def test_failures_are_loud(self):
        for text in ("inline constexpr int A = B + 1;", "inline constexpr int A = 1;\n"
                     "inline constexpr int A = 1;", "inline constexpr int A[2] = 1;"):
            with self.assertRaises(ValueError, msg=text):
                facts.parse_header(text)
        with self.assertRaises(KeyError):
            facts.FACTS["NO_SUCH_NAME"]
        with self.assertRaises(AttributeError):
            facts.FACTS.NO_SUCH_NAME

    def test_the_caption(self):
        text = '#pragma once\n#define VARDELO_CAPTION "Memory benchmark v" VARDELO_VERSION " (x)"\n'
        self.assertEqual(facts.parse_caption(text) % "9.9", "Memory benchmark v9.9 (x)")
        with self.assertRaises(KeyError):
            facts.parse_caption('#define VARDELO_CAPTION "Memory benchmark"\n')

    def test_the_real_headers_read(self):
        self.assertEqual(facts.read_facts().RAM_BLOCK_BYTES, (32, 64, 128, 256))
        self.assertEqual(facts.caption("<version>"), "Memory benchmark v<version> (alpha)")

if __name__ == "__main__":
    unittest.main()
