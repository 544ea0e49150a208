#!/usr/bin/env python3
"""Writes the bundled example data: a small multi-sequence reference and reads
simulated from it on both strands with sequencing errors, plus reads that come
from nowhere (they stay unmapped).

    python3 examples/make_examples.py            # examples/ref.fa, examples/reads.fq
    python3 examples/make_examples.py --out DIR --ref-kb 400 400 200 --reads 4000

Python 3 standard library only; the seed is fixed, so the output is the same
on every run. Each read's header carries its true origin after the name:
"<name> <sequence>:<start>-<end>:<strand>" (0-based, half-open, on the
reference), or "random" for reads from nowhere.
"""
import argparse
import os
import random

BASES = "ACGT"
COMPLEMENT = str.maketrans("ACGTN", "TGCAN")


def random_sequence(rng, n, gc=0.45):
    weights = [(1 - gc) / 2, gc / 2, gc / 2, (1 - gc) / 2]
    return "".join(rng.choices(BASES, weights=weights, k=n))


def with_repeats(rng, seq):
    """Copies a few stretches elsewhere so that some reads map twice."""
    seq = list(seq)
    for _ in range(2):
        n = rng.randint(300, 800)
        src = rng.randrange(0, len(seq) - n)
        dst = rng.randrange(0, len(seq) - n)
        seq[dst:dst + n] = seq[src:src + n]
    return "".join(seq)


def mutate(rng, seq, sub_rate, indel_rate):
    out = []
    for base in seq:
        r = rng.random()
        if r < sub_rate:
            out.append(rng.choice([b for b in BASES if b != base]))
        elif r < sub_rate + indel_rate / 2:
            continue  # deletion
        elif r < sub_rate + indel_rate:
            out.append(base)
            out.append(rng.choice(BASES))  # insertion
        else:
            out.append(base)
    return "".join(out)


def quality_line(rng, n):
    return "".join(chr(33 + rng.randint(8, 40)) for _ in range(n))


def wrap(seq, width=60):
    return "\n".join(seq[i:i + width] for i in range(0, len(seq), width))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=here, help="output directory")
    ap.add_argument("--ref-kb", type=int, nargs="+", default=[30, 20, 12],
                    help="reference sequence lengths in kb")
    ap.add_argument("--reads", type=int, default=300, help="number of reads")
    ap.add_argument("--min-len", type=int, default=150)
    ap.add_argument("--max-len", type=int, default=1200)
    ap.add_argument("--seed", type=int, default=20261208)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    refs = []
    for i, kb in enumerate(args.ref_kb):
        name = "chr%s" % chr(ord("A") + i) if i < 26 else "chr%d" % i
        refs.append((name, with_repeats(rng, random_sequence(rng, kb * 1000))))

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "ref.fa"), "w") as f:
        for name, seq in refs:
            f.write(">%s example reference\n%s\n" % (name, wrap(seq)))

    with open(os.path.join(args.out, "reads.fq"), "w") as f:
        for i in range(args.reads):
            n = rng.randint(args.min_len, args.max_len)
            kind = rng.random()
            if kind < 0.06:
                seq, origin = random_sequence(rng, n), "random"
            else:
                name, ref = rng.choice(refs)
                if kind < 0.12:  # runs off one end of its reference sequence
                    start = rng.choice([0, max(0, len(ref) - n // 2)])
                else:
                    start = rng.randrange(0, len(ref) - n)
                end = min(len(ref), start + n)
                seq = ref[start:end]
                strand = "+"
                if rng.random() < 0.5:
                    seq, strand = seq.translate(COMPLEMENT)[::-1], "-"
                seq = mutate(rng, seq, 0.02, 0.01)
                if rng.random() < 0.05:  # a few unknown bases
                    at = rng.randrange(0, len(seq))
                    seq = seq[:at] + "N" * rng.randint(1, 5) + seq[at + 5:]
                origin = "%s:%d-%d:%s" % (name, start, end, strand)
            f.write("@read%04d %s\n%s\n+\n%s\n" % (i + 1, origin, seq,
                                                  quality_line(rng, len(seq))))


if __name__ == "__main__":
    main()
