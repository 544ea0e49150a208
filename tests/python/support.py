"""Helpers shared by the binding's tests: library presence, seeded random
sequences and FASTA/FASTQ writers."""

from __future__ import annotations

import os
import random
import sys
import unittest
from pathlib import Path
from typing import Iterable, Optional, Sequence, Tuple

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))

import bioengine  # noqa: E402

try:
    bioengine.library()
    LIBRARY_ERROR: Optional[str] = None
except OSError as error:  # reported by every test that needs the library
    LIBRARY_ERROR = str(error)


def requires(*symbols: str):
    """Skip a test case while the library (or one of ``symbols``) is missing."""
    if LIBRARY_ERROR is not None:
        return unittest.skip(f"library not loadable: {LIBRARY_ERROR}")
    missing = [s for s in symbols if not bioengine.has_symbol(s)]
    return unittest.skipIf(bool(missing), f"library lacks {', '.join(missing)}")


def random_codes(rng: random.Random, length: int, alphabet: Sequence[int] = (0, 1, 2, 3)) -> bytes:
    return bytes(rng.choice(alphabet) for _ in range(length))


def random_dna(rng: random.Random, length: int, letters: str = "ACGT") -> str:
    return "".join(rng.choice(letters) for _ in range(length))


def mutate(rng: random.Random, text: str, rate: float) -> str:
    """Substitutions, insertions and deletions at ``rate`` each."""
    out = []
    for ch in text:
        roll = rng.random()
        if roll < rate:
            out.append(rng.choice("ACGT"))
        elif roll < 2 * rate:
            out.append(ch + rng.choice("ACGT"))
        elif roll < 3 * rate:
            continue
        else:
            out.append(ch)
    return "".join(out)


def write_fasta(path: Path, records: Iterable[Tuple[str, str]], width: int = 60) -> None:
    with open(path, "w") as handle:
        for name, seq in records:
            handle.write(f">{name}\n")
            for i in range(0, len(seq), width):
                handle.write(seq[i:i + width] + "\n")


def write_fastq(path: Path, records: Iterable[Tuple[str, str, str]]) -> None:
    with open(path, "w") as handle:
        for name, seq, qual in records:
            handle.write(f"@{name}\n{seq}\n+\n{qual}\n")


def tool_path() -> Optional[str]:
    """The command-line tool handed in by CTest, when built."""
    path = os.environ.get("BIOENG")
    return path if path and os.path.isfile(path) else None
