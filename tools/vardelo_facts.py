"""The program's numbers and its window caption, read from the C++ headers that define them, so
that the scripts and the end-to-end tests never hold copies that could drift.

A header line `inline constexpr TYPE NAME = VALUE;` gives NAME its value: an integer (decimal or
hex, an optional u suffix), a sum or shift of integers and names defined above it, or a braced
list of integers. Asking for a name the headers do not define raises KeyError.
"""

import os
import re

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
HEADERS = ("core/constants.h", "core/pages.h", "kernels/block_read_features.h")
CAPTION_HEADER = "ui/resources/caption.h"

_DEFINITION = re.compile(r"^\s*inline constexpr [\w:]+(?: const)? (\w+)(\[\w*\])? = ([^;]+);")
_INTEGER = re.compile(r"(0[xX][0-9A-Fa-f]+|\d+)[uU]?")


def _integer(text, known):
    """An expression of integers, names already read, +, - and << as the headers write them."""
    text = text.strip()
    m = _INTEGER.fullmatch(text)
    if m:
        return int(m.group(1), 0)
    if text in known:
        return known[text]
    for op in ("+", "<<"):
        left, sep, right = text.rpartition(op)
        if sep and left.strip():
            a, b = _integer(left, known), _integer(right, known)
            return a + b if op == "+" else a << b
    if text.startswith("-"):
        return -_integer(text[1:], known)
    raise ValueError("not a value: %r" % text)


def parse_header(text, known=None):
    """{NAME: value} of every `inline constexpr` line of a header's text."""
    facts = dict(known or {})
    for line in text.splitlines():
        m = _DEFINITION.match(line)
        if not m:
            continue
        name, array, value = m.groups()
        value = value.strip()
        if name in facts:
            raise ValueError("%s is defined twice" % name)
        try:
            if array is not None:
                if not (value.startswith("{") and value.endswith("}")):
                    raise ValueError("not a list: %r" % value)
                facts[name] = tuple(_integer(v, facts) for v in value[1:-1].split(","))
            else:
                facts[name] = _integer(value, facts)
        except ValueError as e:
            raise ValueError("%s: %s" % (name, e)) from None
    return facts


class Facts(dict):
    def __missing__(self, name):
        raise KeyError("%s is defined in none of %s" % (name, ", ".join(HEADERS)))

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError as e:
            raise AttributeError(str(e)) from None


def read_facts(top=TOP):
    known = {}
    for header in HEADERS:
        with open(os.path.join(top, header), encoding="utf-8") as f:
            known = parse_header(f.read(), known)
    return Facts(known)


def parse_caption(text):
    """The caption's pattern, "...%s..." with the version's place, from the caption header."""
    m = re.search(r'^#define VARDELO_CAPTION "([^"\\]*)" VARDELO_VERSION "([^"\\]*)"$', text, re.M)
    if not m:
        raise KeyError("VARDELO_CAPTION is not defined in %s" % CAPTION_HEADER)
    return m.group(1) + "%s" + m.group(2)


def caption(version, top=TOP):
    """The main window's caption for a build of `version`."""
    with open(os.path.join(top, CAPTION_HEADER), encoding="utf-8") as f:
        return parse_caption(f.read()) % version


FACTS = read_facts()
