#!/usr/bin/env python3
"""Writes big.fastq (reads of 100..1,000 bases) and big.fasta (records of
1..5 Mb in 70-column lines) of about SIZE_MB megabytes each into DIR.
Usage: make_reader_data.py DIR SIZE_MB"""
import os, random, sys

out_dir, size_mb = sys.argv[1], int(sys.argv[2])
target = size_mb * 1_000_000
rng = random.Random(7)
bases = rng.choices(b"ACGT", k=1 << 22)
pool = bytes(bases)
quals = bytes(rng.choices(range(35, 74), k=1 << 22))

def piece(src, n):
    start = rng.randrange(0, len(src) - n)
    return src[start:start + n]

with open(os.path.join(out_dir, "big.fastq"), "wb") as f:
    written, i = 0, 0
    while written < target:
        n = rng.randrange(100, 1001)
        rec = b"@read%d\n%s\n+\n%s\n" % (i, piece(pool, n), piece(quals, n))
        f.write(rec)
        written += len(rec)
        i += 1

with open(os.path.join(out_dir, "big.fasta"), "wb") as f:
    written, i = 0, 0
    while written < target:
        n = rng.randrange(1_000_000, 5_000_001)
        seq = b"".join(piece(pool, 1 << 20) for _ in range(n // (1 << 20) + 1))[:n]
        body = b"\n".join(seq[k:k + 70] for k in range(0, n, 70))
        rec = b">contig%d some description\n%s\n" % (i, body)
        f.write(rec)
        written += len(rec)
        i += 1
