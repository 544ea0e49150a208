#!/usr/bin/env python3
"""Rewrites one group's section of bench/RESULTS.md.

  results.py RESULTS.md GROUP SECTION.md

The section lies between the lines "<!-- GROUP: begin -->" and
"<!-- GROUP: end -->"; it is replaced, or appended when absent. Everything
outside the markers is left as it is.
"""
import sys


def main():
    results, group, section_path = sys.argv[1:4]
    begin, end = f"<!-- {group}: begin -->", f"<!-- {group}: end -->"
    with open(results) as f:
        text = f.read()
    with open(section_path) as f:
        section = f"{begin}\n{f.read().rstrip()}\n{end}"
    if begin in text and end in text:
        head, rest = text.split(begin, 1)
        tail = rest.split(end, 1)[1]
        text = head + section + tail
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    with open(results, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
