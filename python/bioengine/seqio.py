"""FASTA/FASTQ input: the streaming reader, its batch form and the parallel
in-memory parser, with records as residue codes and Phred values."""

from __future__ import annotations

import ctypes
import os
import threading
from ctypes import c_int32
from dataclasses import dataclass
from typing import Iterator, List, Optional, Sequence, Union

from . import _lib
from ._checks import INT32_MAX, Closable, as_bytes, byte_array, char_array, check_int, typed_array
from .codes import decode, packed_size

__all__ = ["Record", "Batch", "Reader", "parse_mem", "RecordTooLongError", "FASTA", "FASTQ"]

FASTA = 1
FASTQ = 2
#: Longest header the batch reader delivers (longer ones are cut).
BATCH_NAME_MAX = 4096
#: Longest sequence (and quality line) the batch reader accepts.
BATCH_SEQ_MAX = 16_777_216

PathLike = Union[str, bytes, "os.PathLike[str]"]


class RecordTooLongError(ValueError):
    """A record's sequence exceeds what the reader can hold; the reader has
    skipped it (FASTA resumes at the next record)."""


@dataclass(frozen=True)
class Record:
    """One FASTA/FASTQ record.

    ``codes`` holds one residue code per position, ``quals`` the Phred values
    (None for FASTA), ``is_protein`` the alphabet the reader chose."""

    name: str
    codes: bytes
    quals: Optional[bytes] = None
    is_protein: bool = False

    @property
    def sequence(self) -> str:
        """The sequence as letters (nucleotide codes above 3 read as N)."""
        return decode(self.codes, protein=self.is_protein)

    @property
    def quality_string(self) -> Optional[str]:
        """The qualities as FASTQ text (Phred + 33), or None for FASTA."""
        if self.quals is None:
            return None
        return bytes(min(q + 33, 126) for q in self.quals).decode("ascii")

    def __len__(self) -> int:
        return len(self.codes)


def _name_text(raw: bytes) -> str:
    return raw.decode("utf-8", "surrogateescape")


class Batch(Sequence[Record]):
    """Records in the library's flat batch layout: zero-terminated headers,
    five-bit packed sequences and Phred values back to back, with offset
    tables of n + 1 entries. Indexing unpacks one record with bio_unpack5."""

    def __init__(self, names: bytes, name_offs: List[int], packed: bytes, packed_offs: List[int],
                 seq_lens: List[int], is_protein: List[int], quals: Optional[bytes],
                 qual_offs: Optional[List[int]]) -> None:
        self.names_buffer = names
        self.name_offs = name_offs
        self.packed = packed
        self.packed_offs = packed_offs
        self.seq_lens = seq_lens
        self.is_protein = is_protein
        self.quals = quals
        self.qual_offs = qual_offs

    def __len__(self) -> int:
        return len(self.seq_lens)

    def name(self, i: int) -> str:
        """Header of record ``i``."""
        start, end = self.name_offs[i], self.name_offs[i + 1] - 1
        return _name_text(self.names_buffer[start:end])

    @property
    def names(self) -> List[str]:
        """All headers, in record order."""
        return [self.name(i) for i in range(len(self))]

    def codes(self, i: int) -> bytes:
        """Residue codes of record ``i``, unpacked by the library."""
        n = self.seq_lens[i]
        start = self.packed_offs[i]
        out = byte_array(n)
        _lib.function("bio_unpack5")(self.packed[start:start + packed_size(n)], n, out)
        return ctypes.string_at(out, n)

    def qualities(self, i: int) -> Optional[bytes]:
        """Phred values of record ``i``, or None when the batch has none."""
        if self.quals is None or self.qual_offs is None:
            return None
        return self.quals[self.qual_offs[i]:self.qual_offs[i + 1]]

    def __getitem__(self, i):  # type: ignore[override]
        if isinstance(i, slice):
            return [self[j] for j in range(*i.indices(len(self)))]
        n = len(self)
        if not -n <= i < n:
            raise IndexError("batch index out of range")
        i %= n
        return Record(self.name(i), self.codes(i), self.qualities(i), bool(self.is_protein[i]))

    def __iter__(self) -> Iterator[Record]:
        for i in range(len(self)):
            yield self[i]

    def __repr__(self) -> str:
        return f"Batch({len(self)} records, {len(self.packed)} packed bytes)"


class _FlatBuffers:
    """The caller-side arrays of one batch call (flat batch layout), sized
    by the caller; ``quals_cap`` None means no qualities are asked for."""

    def __init__(self, max_records: int, names_cap: int, packed_cap: int,
                 quals_cap: Optional[int]) -> None:
        self.names = char_array(names_cap)
        self.packed = byte_array(packed_cap)
        self.quals = None if quals_cap is None else byte_array(quals_cap)
        self.name_offs = typed_array(c_int32, max_records + 1)
        self.packed_offs = typed_array(c_int32, max_records + 1)
        self.qual_offs = None if quals_cap is None else typed_array(c_int32, max_records + 1)
        self.seq_lens = typed_array(c_int32, max_records)
        self.flags = typed_array(c_int32, max_records)

    def batch(self, n: int) -> Batch:
        """Copy the first ``n`` records out into a :class:`Batch`."""
        quals = qual_offs = None
        if self.quals is not None and self.qual_offs is not None:
            quals = ctypes.string_at(self.quals, self.qual_offs[n])
            qual_offs = _ints(self.qual_offs, n + 1)
        return Batch(ctypes.string_at(self.names, self.name_offs[n]), _ints(self.name_offs, n + 1),
                     ctypes.string_at(self.packed, self.packed_offs[n]),
                     _ints(self.packed_offs, n + 1), _ints(self.seq_lens, n),
                     _ints(self.flags, n), quals, qual_offs)


def _protein_flag(protein: Optional[bool]) -> int:
    if protein is None:
        return -1
    if not isinstance(protein, bool):
        raise TypeError("protein must be True, False or None (detect per FASTA record)")
    return int(protein)


def _ints(array: ctypes.Array, count: int) -> List[int]:  # type: ignore[type-arg]
    return list(array[:count])


def _first_marker(path: str) -> int:
    """Format the reader will choose: FASTQ when the first byte that is not a
    line feed, carriage return or space is "@"."""
    with open(path, "rb") as handle:
        while True:
            block = handle.read(65536)
            if not block:
                return FASTA
            stripped = block.lstrip(b"\n\r ")
            if stripped:
                return FASTQ if stripped[:1] == b"@" else FASTA


class Reader(Closable):
    """The library's own streaming FASTA/FASTQ reader (bio_parser_*) over one
    plain-text file, as specified: it checks nothing and reads no compressed
    input. For files as the command-line tool reads them (gzip, BGZF, checks
    with located messages) use :class:`bioengine.SeqFile`.

    Iterate it for :class:`Record` objects (bio_parser_next) or call
    :meth:`batches` for :class:`Batch` objects (bio_parser_next_batch). A
    record held back by a batch call is delivered by the next batch call,
    not by single-record iteration. Use it as a context manager, or call
    :meth:`close`; a closed reader raises ValueError. One thread at a time.

    ``protein``: False nucleotide table, True protein table, None detect per
    FASTA record. ``max_record_length`` bounds the single-record buffers
    (records are also bounded by the file size)."""

    def __init__(self, path: PathLike, protein: Optional[bool] = False, qualities: bool = True,
                 max_record_length: int = 1 << 28) -> None:
        self._handle: Optional[int] = None
        if not isinstance(path, (str, bytes, os.PathLike)):
            raise TypeError(f"path must be a file name, not {type(path).__name__}")
        self.path = os.fsdecode(path)
        self.protein = _protein_flag(protein)
        self.qualities = bool(qualities)
        self._max_record = check_int(max_record_length, "max_record_length", 1, INT32_MAX - 1)
        self._lock = threading.Lock()
        if not os.path.exists(self.path):
            raise FileNotFoundError(f"no such file: {self.path!r}")
        if not os.path.isfile(self.path):
            raise ValueError(f"{self.path!r} is not a regular file (pipes and directories are "
                             "not read; use parse_mem on their contents)")
        with open(self.path, "rb") as handle:
            if handle.read(2) == b"\x1f\x8b":
                raise ValueError(f"{self.path!r} is gzip-compressed; read it with SeqFile")
        self.format = _first_marker(self.path)
        self._size = os.path.getsize(self.path)
        handle = _lib.function("bio_parser_open")(os.fsencode(self.path))
        if not handle:
            raise OSError(f"the library could not open {self.path!r}")
        self._handle = handle
        self._single: Optional[tuple] = None
        self._batch_shape: Optional[tuple] = None
        self._batch_buffers: Optional[_FlatBuffers] = None

    # -- lifecycle -------------------------------------------------------
    @property
    def closed(self) -> bool:
        """True once the reader has been closed."""
        return self._handle is None

    def close(self) -> None:
        """Release the library's reader; safe to call more than once."""
        with self._lock:
            handle, self._handle = self._handle, None
        if handle is not None:
            _lib.function("bio_parser_close")(handle)

    def _live(self) -> int:
        if self._handle is None:
            raise ValueError("I/O operation on a closed reader")
        return self._handle

    # -- single records --------------------------------------------------
    def _single_buffers(self) -> tuple:
        if self._single is None:
            cap = max(1, min(self._size + 1, self._max_record))
            quals = byte_array(cap) if self.qualities and self.format == FASTQ else None
            self._single = (char_array(cap), byte_array(cap), quals, cap)
        return self._single

    def read(self) -> Optional[Record]:
        """The next record, or None at the end of input."""
        with self._lock:  # the buffers are shared by every call on this reader
            handle = self._live()
            name, seq, quals, cap = self._single_buffers()
            seq_len, is_protein, qual_len = c_int32(), c_int32(), c_int32()
            result = _lib.function("bio_parser_next")(
                handle, name, cap, seq, cap, ctypes.byref(seq_len), self.protein,
                ctypes.byref(is_protein), quals, ctypes.byref(qual_len) if quals else None)
            if result != 1:
                return self._no_record(result, cap)
            qual = None if quals is None else ctypes.string_at(quals, qual_len.value)
            return Record(_name_text(name.value), ctypes.string_at(seq, seq_len.value), qual,
                          bool(is_protein.value))

    def _no_record(self, result: int, cap: int) -> None:
        if result == 0:
            return None
        if result == -2:
            raise RecordTooLongError(f"a record of {self.path!r} is longer than {cap - 1} "
                                     "residues (raise max_record_length); it was skipped")
        raise RuntimeError(f"bio_parser_next failed with {result}")

    def __iter__(self) -> Iterator[Record]:
        while True:
            record = self.read()
            if record is None:
                return
            yield record

    # -- batches ---------------------------------------------------------
    def read_batch(self, max_records: int = 4096, capacity: int = 1 << 23) -> Optional[Batch]:
        """Up to ``max_records`` records in one library call, or None at the end.

        ``capacity`` is the size, in bytes, of the packed-sequence and quality
        buffers; they are always large enough for the longest record the
        library accepts (16,777,216 residues), so a batch always makes
        progress and no record is lost to a buffer that is too small."""
        max_records = check_int(max_records, "max_records", 1, INT32_MAX - 1)
        capacity = check_int(capacity, "capacity", 1, INT32_MAX)
        longest = min(BATCH_SEQ_MAX, self._size)
        names_cap = min(INT32_MAX, max(BATCH_NAME_MAX, capacity // 8))
        packed_cap = min(INT32_MAX, max(packed_size(longest) + 1, capacity))
        quals_cap = min(INT32_MAX, max(longest, capacity))
        want_quals = self.qualities and self.format == FASTQ
        shape = (max_records, names_cap, packed_cap, quals_cap if want_quals else None)
        with self._lock:  # the arrays are reused while the sizes stay the same
            if self._batch_shape != shape or self._batch_buffers is None:
                self._batch_buffers, self._batch_shape = _FlatBuffers(*shape), shape
            out = self._batch_buffers
            n = _lib.function("bio_parser_next_batch")(
                self._live(), max_records, self.protein, out.names, names_cap, out.name_offs,
                out.packed, packed_cap, out.packed_offs, out.seq_lens, out.flags, out.quals,
                quals_cap if want_quals else 0, out.qual_offs)
            if n > 0:
                return out.batch(n)
        if n == -2:
            raise RecordTooLongError(f"a record of {self.path!r} has more than {BATCH_SEQ_MAX} "
                                     "residues; it was skipped with the records read before it "
                                     "in this batch")
        if n < 0:
            raise MemoryError("the library could not reserve its batch scratch memory")
        return None

    def batches(self, max_records: int = 4096, capacity: int = 1 << 23) -> Iterator[Batch]:
        """Iterate :meth:`read_batch` until the end of input."""
        while True:
            batch = self.read_batch(max_records, capacity)
            if batch is None:
                return
            yield batch


def _format_of(text: bytes, fmt: Union[None, str, int]) -> int:
    if fmt is None:
        return FASTQ if text.lstrip(b"\n\r ")[:1] == b"@" else FASTA
    if isinstance(fmt, str):
        lowered = fmt.lower()
        if lowered in ("fasta", "fa"):
            return FASTA
        if lowered in ("fastq", "fq"):
            return FASTQ
        raise ValueError(f"fmt must be 'fasta' or 'fastq', got {fmt!r}")
    value = check_int(fmt, "fmt", FASTA, FASTQ)
    return value


def parse_mem(text: Union[str, bytes, bytearray, memoryview], fmt: Union[None, str, int] = None,
              threads: int = 1, protein: Optional[bool] = False,
              qualities: bool = True) -> Batch:
    """Parse a whole FASTA or FASTQ text on ``threads`` OpenMP threads
    (bio_parse_mem_parallel). Records come out in text order whatever the
    thread count; FASTQ qualities are cut or padded to the sequence length.

    ``fmt`` is "fasta", "fastq" or None to decide by the first marker; the
    text must start with a record (no leading junk for FASTQ)."""
    raw = text.encode("utf-8") if isinstance(text, str) else as_bytes(text, "text")
    threads = check_int(threads, "threads", 1, 1 << 16)
    flag = _protein_flag(protein)
    fmt_code = _format_of(raw, fmt)
    if not raw:
        return _FlatBuffers(0, 1, 1, 1 if fmt_code == FASTQ and qualities else None).batch(0)
    # Upper bounds that hold for any text, so the call never reports -2:
    # records start at the first line or at a marker line (FASTA) or every
    # fourth line (FASTQ); headers, packed codes and qualities never exceed
    # the text they come from plus one byte per record.
    lines = raw.count(b"\n") + 1
    max_records = raw.count(b"\n>") + 2 if fmt_code == FASTA else lines // 4 + 2
    if max_records > INT32_MAX - 1 or len(raw) + max_records + 2 > INT32_MAX:
        raise ValueError("text too large for one call; split it into parts")
    want_quals = qualities and fmt_code == FASTQ
    names_cap = len(raw) + max_records + 1
    packed_cap = len(raw) + max_records + 2
    quals_cap = len(raw) + 1
    out = _FlatBuffers(max_records, names_cap, packed_cap, quals_cap if want_quals else None)
    n = _lib.function("bio_parse_mem_parallel")(
        raw, len(raw), fmt_code, threads, flag, out.names, names_cap, out.name_offs, out.packed,
        packed_cap, out.packed_offs, out.seq_lens, out.flags, out.quals,
        quals_cap if want_quals else 0, out.qual_offs, max_records)
    if n == -1:
        raise MemoryError("bio_parse_mem_parallel could not reserve memory")
    if n < 0:
        raise RuntimeError(f"bio_parse_mem_parallel reported {n} despite sufficient buffers")
    return out.batch(n)
