#!/usr/bin/env python3
"""Writes the generated seed files of the fuzz corpora (fixed seeds, so the
files are reproducible): multi-block BGZF and mixed gzip inputs for the tool
input target, and reference-plus-reads inputs for the mapping and alignment
targets. Usage: make_seeds.py [corpus dir]"""
import os
import random
import struct
import sys
import zlib


def gzip_member(data, level=6):
    body = zlib.compressobj(level, zlib.DEFLATED, -15)
    deflated = body.compress(data) + body.flush()
    return (b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff" + deflated +
            struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF))


def bgzf_block(data, level=6):
    body = zlib.compressobj(level, zlib.DEFLATED, -15)
    deflated = body.compress(data) + body.flush()
    bsize = 18 + len(deflated) + 8 - 1
    return (b"\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00BC\x02\x00" +
            struct.pack("<H", bsize) + deflated +
            struct.pack("<II", zlib.crc32(data), len(data)))


def bgzf(data, block=65280):
    blocks = [bgzf_block(data[i:i + block]) for i in range(0, len(data), block)]
    return b"".join(blocks) + bgzf_block(b"")


def fastq(rng, n, length):
    # A few distinct reads over and over: long text, small compressed files.
    pool = ["".join(rng.choice("ACGT") for _ in range(length)) for _ in range(4)]
    out = []
    for i in range(n):
        seq = pool[i % len(pool)]
        out.append(f"@r{i}\n{seq}\n+\n{'I' * length}\n")
    return "".join(out).encode()


def tool_input_seeds(rng):
    text = fastq(rng, 900, 100)  # about 110 KB: two BGZF blocks and a bit
    return {
        "fastq_bgzf_3blocks": bgzf(text),
        "fastq_bgzf_then_gzip": bgzf(text[:70000]) + gzip_member(text[70000:]),
        "fastq_gz_zero_padded": gzip_member(text[:5000]) + bytes(512),
        "fastq_bgzf_no_eof": bgzf(text)[:-28],
    }


def map_seed(rng, ref_len, reads):
    ref = bytes(rng.randrange(4) for _ in range(ref_len))
    params = bytes([0x3B, 0x00, 0x52, 0x03])  # k 15, w 4, no max_occ, 2 hits, 2 threads, 2 refs
    left = 1 + len(ref) + 7 * reads
    share = (len(ref) * 65536 + left - 1) // left
    descriptors = b""
    for i in range(reads):
        start = rng.randrange(ref_len)
        descriptors += bytes([i % 3 if i % 3 != 2 else 0, 60, start >> 8, start & 255, 1, 7, 2])
    return params + struct.pack(">H", share) + bytes([128]) + ref + descriptors


def align_seed(rng, n, divergence, band, scores):
    a = [rng.randrange(4) for _ in range(n)]
    b = [c if rng.random() > divergence else rng.randrange(4) for c in a]
    cut = n * 65536 // (2 * n)
    return bytes([band] + [s & 255 for s in scores] + [0]) + struct.pack(">H", cut) + bytes(a + b)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    rng = random.Random(13)
    seeds = {"tool_input/" + k: v for k, v in tool_input_seeds(rng).items()}
    seeds["map/two_refs"] = map_seed(rng, 3000, 12)
    seeds["map/small"] = map_seed(rng, 400, 4)
    seeds["align/mapping_scores"] = align_seed(rng, 700, 0.1, 64, (2, -1, -2))
    seeds["align/narrow_band"] = align_seed(rng, 200, 0.2, 5, (1, -1, -1))
    seeds["align/positive_gap"] = align_seed(rng, 120, 0.3, 20, (3, -2, 1))
    for name, data in seeds.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
