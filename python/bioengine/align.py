"""The seven pairwise aligners, returning :class:`Alignment` objects.

All share one scoring model (linear gap score per gap column), one result
format and one tie order (diagonal, then up = gap in B, then left = gap in
A). Sequences are residue codes (bytes-like) or text (str, encoded with the
nucleotide table, or the protein table with ``protein=True``).
"""

from __future__ import annotations

import ctypes
from ctypes import c_int32
from dataclasses import dataclass
from itertools import groupby
from typing import Callable, Optional

from . import _lib
from ._checks import INT32_MAX, as_bytes, char_array, check_int, codes_of
from .codes import NT_DECODE

__all__ = ["Alignment", "NEG_INF", "nw_global", "nw_semiglobal", "sw_align", "nw_banded",
           "nw_banded_semiglobal", "nw_banded_diag", "nw_banded_diag_simd", "ALIGNERS",
           "BANDED_ALIGNERS"]

#: Score reported by the banded aligners when the end cell lies outside the band.
NEG_INF = -1073741824


@dataclass(frozen=True)
class Alignment:
    """One pairwise alignment: the gapped strings (A over B), its score and
    column counters. ``length`` = n_match + n_mismatch + n_gap."""

    aligned_a: str
    aligned_b: str
    score: int
    n_match: int
    n_mismatch: int
    n_gap: int

    @property
    def length(self) -> int:
        """Number of alignment columns."""
        return len(self.aligned_a)

    @property
    def identity(self) -> float:
        """n_match / length (0 for an empty alignment)."""
        return self.n_match / self.length if self.length else 0.0

    @property
    def in_band(self) -> bool:
        """False when a banded aligner found its end cell outside the band."""
        return self.score != NEG_INF

    @property
    def cigar(self) -> str:
        """CIGAR with A as the reference: M pairs two residues, I is a gap in
        A (a residue of B only), D a gap in B."""
        ops = ("I" if ca == "-" else "D" if cb == "-" else "M"
               for ca, cb in zip(self.aligned_a, self.aligned_b))
        return "".join(f"{sum(1 for _ in run)}{op}" for op, run in groupby(ops))


def _score_limit(a: int, b: int, scores: tuple, limit: int) -> None:
    largest = max(abs(s) for s in scores)
    if (a + b) * largest >= limit:
        raise ValueError(f"scores could overflow: (len_a + len_b) * {largest} must stay below "
                         f"{limit}")


def _prepare(seq_a: object, seq_b: object, decode: object, protein: bool) -> tuple:
    a = codes_of(seq_a, "seq_a", protein)
    b = codes_of(seq_b, "seq_b", protein)
    table = as_bytes(decode, "decode")
    present = set(a) | set(b)
    if present and max(present) >= len(table):
        raise ValueError(f"decode has {len(table)} entries but code {max(present)} occurs")
    if any(table[c] in (0, ord("-")) for c in present):
        raise ValueError("decode must not map a code that occurs to '-' or a zero byte")
    if len(a) + len(b) >= INT32_MAX:
        raise ValueError("sequences too long: len_a + len_b must stay below 2**31 - 1")
    return a, b, table


def _run(name: str, seq_a: object, seq_b: object, match: int, mismatch: int, gap: int,
         band: Optional[int], decode: object, protein: bool) -> Alignment:
    a, b, table = _prepare(seq_a, seq_b, decode, protein)
    scores = tuple(check_int(v, label) for v, label in
                   ((match, "match"), (mismatch, "mismatch"), (gap, "gap")))
    _score_limit(len(a), len(b), scores, 2**30 if band is not None else 2**31)
    cap = len(a) + len(b) + 1
    out_a = char_array(cap)
    out_b = char_array(cap)
    score, n_match, n_mismatch, n_gap = c_int32(), c_int32(), c_int32(), c_int32()
    extra = [] if band is None else [check_int(band, "band", 0)]
    columns = _lib.function(name)(a, len(a), b, len(b), table, *scores, *extra, out_a, out_b,
                                  ctypes.byref(score), ctypes.byref(n_match),
                                  ctypes.byref(n_mismatch), ctypes.byref(n_gap))
    if columns < 0:
        raise MemoryError(f"{name} could not reserve working memory for {len(a)} x {len(b)}")
    return Alignment(out_a.raw[:columns].decode("latin-1"), out_b.raw[:columns].decode("latin-1"),
                     score.value, n_match.value, n_mismatch.value, n_gap.value)


def nw_global(seq_a: object, seq_b: object, match: int = 2, mismatch: int = -1, gap: int = -2,
              decode: object = NT_DECODE, protein: bool = False) -> Alignment:
    """Global (end-to-end) alignment over the full matrix."""
    return _run("nw_global", seq_a, seq_b, match, mismatch, gap, None, decode, protein)


def nw_semiglobal(seq_a: object, seq_b: object, match: int = 2, mismatch: int = -1,
                  gap: int = -2, decode: object = NT_DECODE, protein: bool = False) -> Alignment:
    """B's leading residues free; at the end B's or A's trailing residues free."""
    return _run("nw_semiglobal", seq_a, seq_b, match, mismatch, gap, None, decode, protein)


def sw_align(seq_a: object, seq_b: object, match: int = 2, mismatch: int = -1, gap: int = -2,
             decode: object = NT_DECODE, protein: bool = False) -> Alignment:
    """Best local alignment (score never negative; empty when nothing scores)."""
    return _run("sw_align", seq_a, seq_b, match, mismatch, gap, None, decode, protein)


def nw_banded(seq_a: object, seq_b: object, band: int, match: int = 2, mismatch: int = -1,
              gap: int = -2, decode: object = NT_DECODE, protein: bool = False) -> Alignment:
    """Global alignment over the cells with |j - i| <= band."""
    return _run("nw_banded", seq_a, seq_b, match, mismatch, gap, band, decode, protein)


def nw_banded_semiglobal(seq_a: object, seq_b: object, band: int, match: int = 2,
                         mismatch: int = -1, gap: int = -2, decode: object = NT_DECODE,
                         protein: bool = False) -> Alignment:
    """Banded, with B's leading residues inside the band and A's tail free."""
    return _run("nw_banded_semiglobal", seq_a, seq_b, match, mismatch, gap, band, decode, protein)


def nw_banded_diag(seq_a: object, seq_b: object, band: int, match: int = 2, mismatch: int = -1,
                   gap: int = -2, decode: object = NT_DECODE, protein: bool = False) -> Alignment:
    """nw_banded's results, swept along anti-diagonals."""
    return _run("nw_banded_diag", seq_a, seq_b, match, mismatch, gap, band, decode, protein)


def nw_banded_diag_simd(seq_a: object, seq_b: object, band: int, match: int = 2,
                        mismatch: int = -1, gap: int = -2, decode: object = NT_DECODE,
                        protein: bool = False) -> Alignment:
    """nw_banded_diag's results, computed with AVX2 vectors."""
    return _run("nw_banded_diag_simd", seq_a, seq_b, match, mismatch, gap, band, decode, protein)


ALIGNERS: "dict[str, Callable[..., Alignment]]" = {
    "nw_global": nw_global, "nw_semiglobal": nw_semiglobal, "sw_align": sw_align}
BANDED_ALIGNERS: "dict[str, Callable[..., Alignment]]" = {
    "nw_banded": nw_banded, "nw_banded_semiglobal": nw_banded_semiglobal,
    "nw_banded_diag": nw_banded_diag, "nw_banded_diag_simd": nw_banded_diag_simd}
