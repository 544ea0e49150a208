"""Minimizers, chaining, the minimizer index and read mapping."""

from __future__ import annotations

import ctypes
import os
import threading
from ctypes import c_double, c_int32, c_int64, c_uint8, c_uint64
from dataclasses import dataclass, field, fields
from typing import Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _lib
from ._checks import (INT32_MAX, INT64_MAX, char_array, check_float, check_int, codes_of,
                      typed_array)

__all__ = ["Minimizer", "minimizers", "chain_dp", "Hit", "Index", "CIGAR_RESERVE",
           "REF_SEPARATOR", "DEFAULT_K", "DEFAULT_W", "DEFAULT_MAX_OCC", "DEFAULT_MAX_HITS",
           "DEFAULT_MIN_SCORE"]

#: Bytes the mapper keeps free at the end of a CIGAR area before each run.
CIGAR_RESERVE = 15
DEFAULT_K = 15
DEFAULT_W = 10
DEFAULT_MAX_OCC = 500
DEFAULT_MAX_HITS = 5
DEFAULT_MIN_SCORE = 40.0
#: Code placed between two reference sequences: it is above 3, so no indexed
#: k-mer spans the junction of two unrelated sequences.
REF_SEPARATOR = 31


class Minimizer(NamedTuple):
    """One (w,k)-minimizer: its hash, the k-mer's start and its strand."""

    hash: int
    pos: int
    strand: int


def _check_kw(k: int, w: int) -> Tuple[int, int]:
    return check_int(k, "k", 1, 32), check_int(w, "w", 1)


def minimizers(seq: object, k: int, w: int) -> List[Minimizer]:
    """(w,k)-minimizers of nucleotide codes (or text), in increasing position."""
    codes = codes_of(seq, "seq")
    k, w = _check_kw(k, w)
    n = len(codes) - k + 1
    if n <= 0:
        return []
    hashes, positions, strands = (typed_array(c_uint64, n), typed_array(c_int64, n),
                                  typed_array(c_uint8, n))
    count = _lib.function("bio_minimizers")(codes, len(codes), k, w, hashes, positions, strands)
    if count < 0:
        raise MemoryError("bio_minimizers could not reserve working memory")
    return [Minimizer(h, p, s) for h, p, s in zip(hashes[:count], positions[:count],
                                                  strands[:count])]


def chain_dp(x: Sequence[int], y: Sequence[int], k: int, max_dist: int = 5000,
             max_lookback: int = 64, gap_scale: Optional[float] = None
             ) -> Tuple[List[float], List[int]]:
    """Colinear chaining over anchors (x ascending): best chain score ending at
    each anchor and its predecessor (-1 when the chain starts there).
    ``gap_scale`` defaults to 0.01 * k, what the mapper uses."""
    if len(x) != len(y):
        raise ValueError(f"x and y differ in length ({len(x)} != {len(y)})")
    n = check_int(len(x), "number of anchors", 0)
    xs = (c_int64 * max(n, 1))(*[check_int(v, "x", -INT64_MAX - 1, INT64_MAX) for v in x])
    ys = (c_int64 * max(n, 1))(*[check_int(v, "y", -INT64_MAX - 1, INT64_MAX) for v in y])
    if any(xs[i] > xs[i + 1] for i in range(n - 1)):
        raise ValueError("x must be ascending")
    k = check_int(k, "k")
    max_dist = check_int(max_dist, "max_dist", -INT64_MAX - 1, INT64_MAX)
    max_lookback = check_int(max_lookback, "max_lookback")
    scale = 0.01 * k if gap_scale is None else check_float(gap_scale, "gap_scale")
    f, prev = typed_array(c_double, n), typed_array(c_int32, n)
    _lib.function("bio_chain_dp")(xs, ys, n, k, max_dist, max_lookback, scale, f, prev)
    return list(f[:n]), list(prev[:n])


@dataclass(frozen=True)
class Hit:
    """One alignment hit of a read (the fields of bio_map_hit_t plus the
    CIGAR text). Reference coordinates are in the concatenated reference;
    query coordinates in the read's input orientation. ``cigar_off`` is the
    offset the library reported in its own CIGAR buffer; it does not take
    part in comparisons, so equal hits compare equal."""

    identity: float
    chain_score: float
    ref_start: int
    ref_end: int
    query_start: int
    query_end: int
    strand: int
    n_match: int
    aln_len: int
    mapq: int
    ref_id: int
    cigar_off: int = field(compare=False)
    cigar_len: int
    cigar: str

    @property
    def is_reverse(self) -> bool:
        """True for a hit on the reverse complement of the read."""
        return self.strand == 1


_HIT_FIELDS = [f.name for f in fields(Hit) if f.name != "cigar"]


def _hit(raw: _lib.MapHit, cigar: ctypes.Array) -> Hit:  # type: ignore[type-arg]
    values = [getattr(raw, name) for name in _HIT_FIELDS]
    text = ctypes.string_at(ctypes.addressof(cigar) + raw.cigar_off, raw.cigar_len)
    return Hit(*values, cigar=text.decode("ascii"))


def _cigar_capacity(qlen: int, max_hits: int) -> int:
    """CIGAR bytes that always suffice for ``max_hits`` hits of a read.

    A hit aligns at most qlen residues of each side, hence at most 2 * qlen
    columns; a run of r columns prints at most 2r characters; and the mapper
    wants CIGAR_RESERVE bytes free before each run plus the final zero."""
    return max_hits * 4 * qlen + CIGAR_RESERVE + 1


SeqInput = Union[str, bytes, bytearray, memoryview]


class Index:
    """Minimizer index over one or more reference sequences.

    The sequences are concatenated in order, with ``separator`` (a code
    above 3, or None for none) between two of them, exactly as the
    command-line tool builds its index; ``ref_offsets`` and ``ref_lengths``
    describe them and a hit's ``ref_id`` indexes them. The
    handle is freed exactly once: by :meth:`close`, by leaving a ``with``
    block, or when the object is collected; any use afterwards raises
    ValueError. Mapping releases the GIL, so many threads may map at once;
    closing while mappings run defers the free until the last one ends."""

    def __init__(self, sequences: Union[SeqInput, Iterable[SeqInput]], k: int = DEFAULT_K,
                 w: int = DEFAULT_W, max_occ: int = DEFAULT_MAX_OCC,
                 names: Optional[Sequence[str]] = None,
                 separator: Optional[int] = REF_SEPARATOR) -> None:
        self._handle: Optional[int] = None
        self._lock = threading.Lock()
        self._users = 0
        self._closed = False
        if isinstance(sequences, (str, bytes, bytearray, memoryview)):
            sequences = [sequences]
        codes = [codes_of(s, "reference sequence") for s in sequences]
        if not codes:
            raise ValueError("an index needs at least one reference sequence")
        self.k, self.w = _check_kw(k, w)
        self.max_occ = check_int(max_occ, "max_occ")
        self.names: List[str] = ([str(n) for n in names] if names is not None
                                 else [f"ref{i}" for i in range(len(codes))])
        if len(self.names) != len(codes):
            raise ValueError(f"{len(self.names)} names for {len(codes)} sequences")
        n_refs = check_int(len(codes), "number of references", 1)
        gap = b"" if separator is None else bytes([check_int(separator, "separator", 0, 31)])
        self.ref_lengths: List[int] = [len(c) for c in codes]
        self.ref_offsets: List[int] = []
        total = 0
        for length in self.ref_lengths:
            self.ref_offsets.append(total)
            total += length + len(gap)
        ref = gap.join(codes)
        offsets = (c_int64 * n_refs)(*self.ref_offsets)
        lengths = (c_int64 * n_refs)(*self.ref_lengths)
        handle = _lib.function("bio_index_build")(ref, len(ref), self.k, self.w, self.max_occ,
                                                  offsets, lengths, n_refs)
        if not handle:
            raise MemoryError("bio_index_build could not reserve memory for the index")
        self._handle = handle

    @classmethod
    def from_fasta(cls, path: Union[str, "os.PathLike[str]"], k: int = DEFAULT_K,
                   w: int = DEFAULT_W, max_occ: int = DEFAULT_MAX_OCC) -> "Index":
        """Index every record of a FASTA or FASTQ file (plain, gzip or BGZF),
        read and checked by the host layer as the command-line tool reads its
        reference; names are the header up to the first space or tab ("*"
        if empty)."""
        from .host import SeqFile
        names: List[str] = []
        seqs: List[bytes] = []
        with SeqFile(path, threads=os.cpu_count() or 1) as reader:
            for batch in reader.batches():
                names += reader._names()
                seqs += [record.codes for record in batch]
        return cls(seqs, k=k, w=w, max_occ=max_occ, names=names)

    # -- lifecycle -------------------------------------------------------
    @property
    def closed(self) -> bool:
        """True once :meth:`close` has been called."""
        return self._closed

    def _acquire(self) -> int:
        with self._lock:
            if self._closed or self._handle is None:
                raise ValueError("operation on a closed index")
            self._users += 1
            return self._handle

    def _release(self) -> None:
        with self._lock:
            self._users -= 1
            handle = self._take_if_idle()
        self._free(handle)

    def _take_if_idle(self) -> Optional[int]:
        if self._closed and self._users == 0:
            handle, self._handle = self._handle, None
            return handle
        return None

    @staticmethod
    def _free(handle: Optional[int]) -> None:
        if handle is not None:
            _lib.function("bio_index_free")(handle)

    def close(self) -> None:
        """Free the index (at once, or when the last running mapping ends)."""
        with self._lock:
            self._closed = True
            handle = self._take_if_idle()
        self._free(handle)

    def __enter__(self) -> "Index":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if getattr(self, "_lock", None) is not None:
                self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass

    # -- queries ---------------------------------------------------------
    @property
    def n_minimizers(self) -> int:
        """Number of index entries (bio_index_n_minimizers)."""
        handle = self._acquire()
        try:
            return int(_lib.function("bio_index_n_minimizers")(handle))
        finally:
            self._release()

    def ref_name(self, hit: Hit) -> str:
        """Name of the reference sequence that holds ``hit``."""
        return self.names[hit.ref_id]

    def local_start(self, hit: Hit) -> int:
        """``hit.ref_start`` as a position within its reference sequence."""
        return hit.ref_start - self.ref_offsets[hit.ref_id]

    def local_end(self, hit: Hit) -> int:
        """``hit.ref_end`` as a position within its reference sequence."""
        return hit.ref_end - self.ref_offsets[hit.ref_id]

    @staticmethod
    def _settings(max_hits: int, min_score: float) -> Tuple[int, float]:
        return check_int(max_hits, "max_hits", 1), check_float(min_score, "min_score")

    def map(self, read: object, max_hits: int = DEFAULT_MAX_HITS,
            min_score: float = DEFAULT_MIN_SCORE, max_chains: Optional[int] = None) -> List[Hit]:
        """Map one read (bio_map_read); best chain first. ``max_chains``
        (default ``max_hits``) is the number of best chains aligned."""
        codes = codes_of(read, "read")
        qlen = check_int(len(codes), "read length", 0)
        max_hits, min_score = self._settings(max_hits, min_score)
        chains = max_hits if max_chains is None else check_int(max_chains, "max_chains", 1)
        cap = _cigar_capacity(qlen, max_hits)
        if cap > INT32_MAX:
            raise ValueError("read too long for one CIGAR area; lower max_hits")
        hits = (_lib.MapHit * max_hits)()
        cigar = char_array(cap)
        handle = self._acquire()
        try:
            n = _lib.function("bio_map_read")(handle, codes, qlen, chains, hits, max_hits,
                                              min_score, cigar, cap)
        finally:
            self._release()
        if n < 0:
            raise MemoryError("bio_map_read could not reserve working memory")
        return [_hit(hits[i], cigar) for i in range(n)]

    def map_batch(self, reads: Iterable[object], threads: int = 0,
                  max_hits: int = DEFAULT_MAX_HITS,
                  min_score: float = DEFAULT_MIN_SCORE) -> List[List[Hit]]:
        """Map many reads on ``threads`` OpenMP threads (0: all processors) with
        bio_map_batch; result i holds the hits of read i. Results do not
        depend on the thread count. ``max_hits`` also bounds the chains
        aligned per read."""
        codes = [codes_of(r, "read") for r in reads]
        threads = check_int(threads, "threads", 0, 1 << 16)
        max_hits, min_score = self._settings(max_hits, min_score)
        for c in codes:
            check_int(len(c), "read length", 0)
        results: List[List[Hit]] = []
        for start, end in self._slices(codes, max_hits):
            results += self._map_slice(codes[start:end], threads, max_hits, min_score)
        return results

    @staticmethod
    def _slices(codes: List[bytes], max_hits: int) -> Iterable[Tuple[int, int]]:
        """Consecutive read ranges whose CIGAR areas stay below 2**31 bytes,
        the limit of the hits' 32-bit CIGAR offsets."""
        start, used = 0, 0
        for i, c in enumerate(codes):
            need = _cigar_capacity(len(c), max_hits)
            if need > INT32_MAX:
                raise ValueError(f"read {i} too long for one CIGAR area; lower max_hits")
            if used + need > INT32_MAX and i > start:
                yield start, i
                start, used = i, 0
            used += need
        if start < len(codes) or not codes:
            yield start, len(codes)

    def _map_slice(self, codes: List[bytes], threads: int, max_hits: int,
                   min_score: float) -> List[List[Hit]]:
        n = len(codes)
        if n == 0:
            return []
        seq_offs = (c_int64 * (n + 1))()
        cigar_offs = (c_int64 * (n + 1))()
        for i, c in enumerate(codes):
            seq_offs[i + 1] = seq_offs[i] + len(c)
            cigar_offs[i + 1] = cigar_offs[i] + _cigar_capacity(len(c), max_hits)
        seqs = b"".join(codes)
        hits = (_lib.MapHit * (n * max_hits))()
        n_hits = (c_int32 * n)()
        cigar = char_array(max(cigar_offs[n], 1))
        handle = self._acquire()
        try:
            result = _lib.function("bio_map_batch")(handle, seqs, seq_offs, n, max_hits, hits,
                                                    min_score, n_hits, cigar, cigar_offs, threads)
        finally:
            self._release()
        if result < 0:
            raise MemoryError("bio_map_batch: some reads could not reserve working memory")
        return [[_hit(hits[i * max_hits + j], cigar) for j in range(n_hits[i])]
                for i in range(n)]

    def __repr__(self) -> str:
        state = "closed" if self._closed else f"{len(self.names)} sequences"
        return f"Index(k={self.k}, w={self.w}, {state})"
