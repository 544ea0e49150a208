#!/usr/bin/env python3
"""Cuts a FASTA or FASTQ file into contiguous chunks of whole records, in
input order, one output file per chunk (some may be empty).

    split_reads.py READS CHUNK_0 CHUNK_1 ...

Records are copied byte for byte; gzip input is decompressed. A FASTA record
runs from a ">" line to the next; a FASTQ record is four lines (the framing
the library's parsers use). Records are shared out as evenly as possible:
chunk i takes records [i*n // N, (i+1)*n // N).
"""

import gzip
import sys
from typing import BinaryIO, Iterator, List


def open_input(path: str) -> BinaryIO:
    with open(path, "rb") as probe:
        magic = probe.read(2)
    return gzip.open(path, "rb") if magic == b"\x1f\x8b" else open(path, "rb")


def fasta_records(lines: Iterator[bytes]) -> Iterator[bytes]:
    record: List[bytes] = []
    for line in lines:
        if line.startswith(b">") and record:
            yield b"".join(record)
            record = []
        record.append(line)
    if record:
        yield b"".join(record)


def fastq_records(lines: Iterator[bytes]) -> Iterator[bytes]:
    record: List[bytes] = []
    for line in lines:
        record.append(line)
        if len(record) == 4:
            yield b"".join(record)
            record = []
    if record:
        yield b"".join(record)


def records(path: str) -> Iterator[bytes]:
    with open_input(path) as handle:
        lines = iter(handle)
        first = b""
        for first in lines:  # blank lines before the first record carry nothing
            if first.strip(b"\r\n "):
                break
        if not first.strip(b"\r\n "):
            return
        head = iter([first])
        chained = (line for source in (head, lines) for line in source)
        split = fastq_records if first.lstrip(b" ").startswith(b"@") else fasta_records
        yield from split(chained)


def main(argv: List[str]) -> int:
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, outputs = argv[1], argv[2:]
    total = sum(1 for _ in records(source))
    bounds = [i * total // len(outputs) for i in range(len(outputs) + 1)]
    stream = records(source)
    for i, path in enumerate(outputs):
        with open(path, "wb") as out:
            for _ in range(bounds[i + 1] - bounds[i]):
                record = next(stream)
                out.write(record if record.endswith(b"\n") else record + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
