"""The seven pairwise aligners, returning :class:`Alignment` objects.

All share one scoring model (linear gap score per gap column), one result
format and one tie order (diagonal, then up = gap in B, then left = gap in
A). Sequences are residue codes (bytes-like) or text (str, encoded with the
nucleotide table, or the protein table with ``protein=True``).
"""

from __future__ import annotations

import ctypes
from ctypes import c_int32
from dataclasses import dataclass, replace
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
    column counters. ``length`` = n_match + n_mismatch + n_gap.

    ``a_start``/``a_end`` and ``b_start``/``b_end`` (0-based, end-exclusive)
    say where the aligned part lies in A and in B: from the first to the
    last column that pairs two residues, so the end gaps of a semiglobal
    alignment (and of any other) are left out. All four are 0 when no
    column pairs two residues. For ``sw_align`` they locate the local
    alignment within the whole sequences."""

    aligned_a: str
    aligned_b: str
    score: int
    n_match: int
    n_mismatch: int
    n_gap: int
    a_start: int = 0
    a_end: int = 0
    b_start: int = 0
    b_end: int = 0

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


def _span(aligned_a: str, aligned_b: str, a_offset: int, b_offset: int) -> tuple:
    """(a_start, a_end, b_start, b_end) of the columns from the first to the
    last that pair two residues; the strings start at the given offsets."""
    paired = [k for k, (x, y) in enumerate(zip(aligned_a, aligned_b)) if x != "-" and y != "-"]
    if not paired:
        return 0, 0, 0, 0
    first, last = paired[0], paired[-1] + 1

    def residues(text: str, end: int) -> int:
        return end - text.count("-", 0, end)

    return (a_offset + residues(aligned_a, first), a_offset + residues(aligned_a, last),
            b_offset + residues(aligned_b, first), b_offset + residues(aligned_b, last))


def _first_reaching(low: int, high: int, reaches: Callable[[int], bool]) -> int:
    """Smallest n in [low, high] with reaches(n) (reaches(high) holds and is
    monotone in n)."""
    while low < high:
        mid = (low + high) // 2
        if reaches(mid):
            high = mid
        else:
            low = mid + 1
    return low


def _local_offsets(a: bytes, b: bytes, aln: "Alignment", score_of: Callable[[bytes, bytes], int]
                   ) -> tuple:
    """Where the local alignment's substrings start in A and in B. The
    library reports the substrings only; their end cell is the first best
    cell in row order, i.e. the shortest prefix of A, then of B, whose local
    alignment still reaches the score: found by bisection, about
    log2(len_a) + log2(len_b) more alignments of prefixes."""
    used_a = len(aln.aligned_a) - aln.aligned_a.count("-")
    used_b = len(aln.aligned_b) - aln.aligned_b.count("-")
    end_a = end_b = None
    if aln.score > 0:
        end_a = _first_reaching(used_a, len(a), lambda i: score_of(a[:i], b) >= aln.score)
        end_b = _first_reaching(used_b, len(b), lambda j: score_of(a[:end_a], b[:j]) >= aln.score)
    return (end_a or used_a) - used_a, (end_b or used_b) - used_b


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
    aln = Alignment(out_a.raw[:columns].decode("latin-1"), out_b.raw[:columns].decode("latin-1"),
                    score.value, n_match.value, n_mismatch.value, n_gap.value)
    a_offset = b_offset = 0
    if name == "sw_align":
        a_offset, b_offset = _local_offsets(a, b, aln,
                                            lambda x, y: _sw_score(x, y, table, scores))
    return replace(aln, **dict(zip(("a_start", "a_end", "b_start", "b_end"),
                                   _span(aln.aligned_a, aln.aligned_b, a_offset, b_offset))))


def _sw_score(a: bytes, b: bytes, table: bytes, scores: tuple) -> int:
    """Best local score of codes a and b (sw_align's score output only)."""
    cap = len(a) + len(b) + 1
    out_a, out_b = char_array(cap), char_array(cap)
    score, n1, n2, n3 = c_int32(), c_int32(), c_int32(), c_int32()
    if _lib.function("sw_align")(a, len(a), b, len(b), table, *scores, out_a, out_b,
                                 ctypes.byref(score), ctypes.byref(n1), ctypes.byref(n2),
                                 ctypes.byref(n3)) < 0:
        raise MemoryError("sw_align could not reserve working memory")
    return score.value


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
