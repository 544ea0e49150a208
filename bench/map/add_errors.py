#!/usr/bin/env python3
"""Adds random errors to FASTQ reads (standard input to standard output):
each base is, with probability RATE, substituted, deleted or followed by an
inserted base (one third each). Read names are kept, so the reads' truth
still holds.

    add_errors.py RATE SEED < in.fq > out.fq
"""
import random
import sys


def main():
    rate, seed = float(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    lines = sys.stdin.read().splitlines()
    out = []
    for i in range(0, len(lines) - 3, 4):
        seq = []
        for base in lines[i + 1]:
            r = rng.random()
            if r >= rate:
                seq.append(base)
            elif r < rate / 3:
                seq.append(rng.choice("ACGT".replace(base, "") or "A"))
            elif r < 2 * rate / 3:
                continue
            else:
                seq.append(base + rng.choice("ACGT"))
        seq = "".join(seq)
        out += [lines[i], seq, "+", "I" * len(seq)]
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
