#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the relative links of the documentation: README.md and docs/*.md
under ROOT (the repository by default). Every link to a file must lead to one
that exists, and every #anchor to a heading of the page it names, as the
repository's web view makes anchors of headings. Links with a scheme
(https:, mailto:) are not followed; code blocks and code spans are skipped.

usage: check_links.py [ROOT]
Prints each broken link as FILE:LINE: what is missing, then the count."""
import os
import re
import sys

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")


def lines_outside_code(text):
    """(number, line) for the lines outside fenced code."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        if fence:
            if stripped.startswith(fence):
                fence = None
            continue
        if stripped.startswith("```") or stripped.startswith("~~~"):
            fence = stripped[:3]
            continue
        yield number, line


def slug(heading):
    """The anchor the web view gives a heading: its text without markup,
    lower case, punctuation dropped, spaces made hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = text.replace("`", "").lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        with open(path, encoding="utf-8") as page:
            for _, line in lines_outside_code(page.read()):
                match = HEADING.match(line)
                if match:
                    base = slug(match.group(2))
                    n = seen.get(base, 0)
                    seen[base] = n + 1
                    found.add(base if n == 0 else f"{base}-{n}")
        cache[path] = found
    return cache[path]


def check(root):
    pages = [os.path.join(root, "README.md")] if os.path.isfile(os.path.join(root, "README.md")) else []
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        pages += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
    broken = links = 0
    for page in pages:
        with open(page, encoding="utf-8") as f:
            text = f.read()
        for number, line in lines_outside_code(text):
            line = re.sub(r"`+[^`]*`+", "``", line)  # code spans hold no links
            targets = [m.group(1) for m in LINK.finditer(line)]
            ref = REFERENCE.match(line)
            if ref:
                targets.append(ref.group(1))
            for target in targets:
                if re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                    continue
                links += 1
                name, _, anchor = target.partition("#")
                where = os.path.normpath(os.path.join(os.path.dirname(page), name)) if name else page
                problem = None
                if not os.path.exists(where):
                    problem = f"no file {name}"
                elif anchor and where.endswith(".md") and anchor not in anchors(where):
                    problem = f"no heading #{anchor} in {os.path.relpath(where, os.path.dirname(page))}"
                if problem:
                    broken += 1
                    print(f"{os.path.relpath(page, root)}:{number}: {problem}")
    print(f"{len(pages)} pages, {links} relative links, {broken} broken links")
    return broken == 0 and len(pages) > 0


if __name__ == "__main__":
    sys.exit(0 if check(sys.argv[1] if len(sys.argv) > 1 else ".") else 1)
