#!/usr/bin/env python3
"""Concatenates per-chunk SAM outputs of `bioeng map -a` in chunk order.

    merge_sam.py --reads READS --output OUT.sam CHUNK_0.sam CHUNK_1.sam ...

The header is taken once, from the first chunk that has one. Its @PG line
records the command that mapped the chunk; the chunk's file name (the last
word) is replaced by READS and the "--paf FILE" that wrote the chunk's PAF
beside it is dropped, so the header is the one a single run of the same
command over the whole reads file prints.
"""

import argparse
import sys
from typing import List, Optional


def fix_program_line(line: str, reads: str) -> str:
    if not line.startswith("@PG\t"):
        return line
    fields = line.rstrip("\n").split("\t")
    for i, field in enumerate(fields):
        if field.startswith("CL:"):
            words = field.split(" ")
            words[-1] = reads
            if "--paf" in words[:-1]:
                at = words.index("--paf")
                del words[at:at + 2]
            fields[i] = " ".join(words)
    return "\t".join(fields) + "\n"


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reads", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("chunks", nargs="+")
    args = parser.parse_args(argv)
    header_done = False
    with open(args.output, "w") as out:
        for path in args.chunks:
            had_header = False
            with open(path) as chunk:
                for line in chunk:
                    if line.startswith("@"):
                        had_header = True
                        if not header_done:
                            out.write(fix_program_line(line, args.reads))
                    else:
                        out.write(line)
            header_done = header_done or had_header
    return 0


if __name__ == "__main__":
    sys.exit(main())
