#!/usr/bin/env python3
"""Doxygen's input filter for the public headers: their comments are plain
// comments written for people reading the header, and Doxygen reads only
/// comments. This turns each comment that stands before a declaration into
a /// comment and each trailing comment into ///<, leaves rule lines and
preprocessor lines alone, and escapes what Doxygen would take for markup
(<Corvane/rsa.h> as an HTML tag, # and % before words, backslashes,
@ commands). The headers themselves are not changed.

    doxygen_filter.py HEADER   (prints the filtered text)
"""
import re
import sys

RULE = re.compile(r"^\s*//\s*-{5,}\s*$")
LEADING = re.compile(r"^(\s*)//( ?)(.*)$")
TRAILING = re.compile(r"^(.*?[;,{}])(\s*)//( ?)(.*)$")


def escape(text):
    text = text.replace("\\", "\\\\").replace("@", "\\@")
    text = text.replace("<", "\\<").replace(">", "\\>")
    text = re.sub(r"(?<![\w\\])([#%])(?=\w)", r"\\\1", text)
    return text


def convert(line):
    if RULE.match(line) or line.lstrip().startswith("#"):
        return line
    leading = LEADING.match(line)
    if leading:
        return "%s///%s%s" % (leading.group(1), leading.group(2), escape(leading.group(3)))
    trailing = TRAILING.match(line)
    # A closing brace's comment names what it closes: not documentation.
    if trailing and '"' not in trailing.group(1) and trailing.group(1).strip() not in ("}", "};"):
        return "%s%s///<%s%s" % (trailing.group(1), trailing.group(2), trailing.group(3), escape(trailing.group(4)))
    return line


def main():
    with open(sys.argv[1], encoding="utf-8") as header:
        lines = header.read().split("\n")
    # The file's opening comment (before the include guard) describes the
    # file, not the first declaration: it stays a plain comment.
    first = 0
    while first < len(lines) and lines[first].startswith("//"):
        first += 1
    out = lines[:first]
    hiding = False
    for i in range(first, len(lines)):
        line = lines[i]
        # Specialisations of the standard library's templates (the error
        # code enum's trait) are the compiler's business, and Doxygen
        # cannot place them: they are left out of the reference.
        if line.startswith("template <>") and i + 1 < len(lines) and lines[i + 1].startswith("struct std::"):
            out.append("/// \\cond")
            hiding = True
        out.append(line if hiding else convert(line))
        if hiding and line.rstrip().endswith("};"):
            out.append("/// \\endcond")
            hiding = False
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
