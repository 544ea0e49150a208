"""Files and mapping through the host layer (libbioeng_host), the code the
command-line tool runs: plain, gzip and BGZF input told apart by content,
the same checks and messages for bad input, batch mapping and PAF/SAM text.
The same files give the same bytes and the same errors as ``bioeng``."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Iterator, List, Optional, Union

from . import _lib
from ._checks import Closable, check_float, check_int
from .seqio import Record

__all__ = ["InputError", "SeqFile", "read_records", "summary", "Mapper"]

PathLike = Union[str, bytes, "os.PathLike[str]"]

BH_ERR_INPUT = -1
BH_ERR_NOMEM = -2
BH_ERR_ARGUMENT = -3
DEFAULT_BATCH_BYTES = 16 << 20


class InputError(ValueError):
    """A missing, unreadable, malformed or corrupt input file. The message
    names the file and is the one the command-line tool prints."""


def _raise(rc: int, message: bytes) -> None:
    text = (message or b"").decode("utf-8", "surrogateescape")
    if rc == BH_ERR_INPUT:
        raise InputError(text)
    if rc == BH_ERR_NOMEM:
        raise MemoryError(text)
    if rc == BH_ERR_ARGUMENT:
        raise ValueError(text)
    raise RuntimeError(text)


def _path_bytes(path: PathLike) -> bytes:
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path must be a file name, not {type(path).__name__}")
    return os.fsencode(path)


def _text(pointer: Optional[int], length: int) -> str:
    return ctypes.string_at(pointer, length).decode("utf-8", "surrogateescape") if length else ""


class _Handle(Closable):
    """Owns one host-layer handle; its calls are serialised (a handle is used
    by one thread at a time)."""

    _new = ""
    _free = ""
    _error = ""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        handle = _lib.host_function(self._new)()
        if not handle:
            raise MemoryError(f"{self._new} could not reserve memory")
        self._handle: Optional[int] = handle

    def _live(self) -> int:
        if self._handle is None:
            raise ValueError("operation on a closed handle")
        return self._handle

    def _check(self, rc: int) -> int:
        if rc < 0:
            _raise(rc, _lib.host_function(self._error)(self._handle))
        return rc

    def close(self) -> None:
        """Release the handle; safe to call more than once."""
        with self._lock:
            handle, self._handle = self._handle, None
        if handle is not None:
            _lib.host_function(self._free)(handle)



def _read_options(threads: int, protein: Optional[bool], keep_empty: bool,
                  batch_bytes: int) -> _lib.ReadOptions:
    opt = _lib.ReadOptions()
    _lib.host_function("bh_read_options_init")(ctypes.byref(opt), ctypes.sizeof(opt))
    opt.threads = check_int(threads, "threads", 0, 1024)
    if protein is not None and not isinstance(protein, bool):
        raise TypeError("protein must be True, False or None (detect per FASTA record)")
    opt.protein = -1 if protein is None else int(protein)
    opt.keep_empty = int(bool(keep_empty))
    opt.batch_bytes = check_int(batch_bytes, "batch_bytes", 1024, 1 << 30)
    return opt


class SeqFile(_Handle):
    """A FASTA/FASTQ file (plain, gzip or BGZF; "-" is standard input) read
    batch by batch with the tool's checks: a truncated or malformed record,
    binary data, an empty file or corrupt compressed data raise
    :class:`InputError`. Iterate it for :class:`Record` objects, or call
    :meth:`batches`. ``keep_empty`` also delivers records without bases."""

    _new, _free, _error = "bh_reader_new", "bh_reader_free", "bh_reader_error"

    def __init__(self, path: PathLike, threads: int = 1, protein: Optional[bool] = False,
                 keep_empty: bool = False, batch_bytes: int = DEFAULT_BATCH_BYTES) -> None:
        raw = _path_bytes(path)
        opt = _read_options(threads, protein, keep_empty, batch_bytes)
        super().__init__()
        self.path = os.fsdecode(raw)
        self._check(_lib.host_function("bh_reader_open")(self._handle, raw, ctypes.byref(opt)))

    @classmethod
    def from_memory(cls, data: bytes, label: str = "memory", threads: int = 1,
                    protein: Optional[bool] = False, keep_empty: bool = False,
                    batch_bytes: int = DEFAULT_BATCH_BYTES) -> "SeqFile":
        """FASTA/FASTQ text (plain, gzip or BGZF) held in ``data``, read and
        checked as a file; ``label`` names it in messages."""
        data = bytes(data)
        opt = _read_options(threads, protein, keep_empty, batch_bytes)
        self = cls.__new__(cls)
        _Handle.__init__(self)
        self.path = label
        self._data = data  # the reader reads it in place
        self._check(_lib.host_function("bh_reader_open_memory")(
            self._handle, data, len(data), label.encode("utf-8", "surrogateescape"),
            ctypes.byref(opt)))
        return self

    @property
    def format(self) -> str:
        """"FASTA" or "FASTQ" (known after the first batch)."""
        return "FASTQ" if _lib.host_function("bh_reader_format")(self._live()) == 2 else "FASTA"

    @property
    def compression(self) -> str:
        """"plain", "gzip" or "bgzf", as found in the file's first bytes."""
        return _lib.host_function("bh_reader_compression")(self._live()).decode()

    def _next(self) -> bool:
        with self._lock:
            return self._check(_lib.host_function("bh_reader_next")(self._live())) == 1

    def _records(self) -> List[Record]:
        fn = _lib.host_function
        handle = self._live()
        out = []
        for i in range(fn("bh_reader_count")(handle)):
            length = fn("bh_reader_length")(handle, i)
            codes = ctypes.create_string_buffer(max(length, 1))
            fn("bh_reader_codes")(handle, i, codes)
            quals = fn("bh_reader_quals")(handle, i)
            header = ctypes.string_at(fn("bh_reader_header")(handle, i))
            out.append(Record(header.decode("utf-8", "surrogateescape"), codes.raw[:length],
                              None if quals is None else ctypes.string_at(quals, length),
                              bool(fn("bh_reader_is_protein")(handle, i))))
        return out

    def _names(self) -> List[str]:
        """Names of the current batch's records as PAF and SAM print them."""
        fn = _lib.host_function
        handle = self._live()
        names = []
        for i in range(fn("bh_reader_count")(handle)):
            length = ctypes.c_size_t()
            start = fn("bh_reader_name")(handle, i, ctypes.byref(length))
            names.append(_text(start, length.value))
        return names

    def batches(self) -> Iterator[List[Record]]:
        """The records, one list per batch of the input."""
        while self._next():
            yield self._records()

    def __iter__(self) -> Iterator[Record]:
        for batch in self.batches():
            yield from batch


def read_records(path: PathLike, **options: object) -> List[Record]:
    """Every record of a file, read as :class:`SeqFile` reads it."""
    with SeqFile(path, **options) as reader:  # type: ignore[arg-type]
        return list(reader)


class _Stats(_Handle):
    _new, _free, _error = "bh_stats_new", "bh_stats_free", "bh_stats_error"


def summary(path: PathLike, threads: int = 0, batch_bytes: int = DEFAULT_BATCH_BYTES) -> str:
    """The line ``bioeng stats`` prints for the file (without its line end):
    file, format, compression, records, bases, min_len, max_len, avg_len,
    N50 and GC. Records without bases count."""
    with SeqFile(path, threads=threads, keep_empty=True, batch_bytes=batch_bytes) as reader, \
            _Stats() as stats:
        while reader._next():
            stats._check(_lib.host_function("bh_stats_add")(stats._live(), reader._live()))
        row = _lib.host_function("bh_stats_row")(stats._live())
        if row is None:
            raise MemoryError("bh_stats_row could not reserve memory")
        return "\t".join([reader.path, reader.format, reader.compression, row.decode()])


class Mapper(_Handle):
    """A reference file (plain, gzip or BGZF) with its minimizer index, for
    mapping read files to PAF lines or SAM records exactly as ``bioeng map``
    prints them, for any thread count."""

    _new, _free, _error = "bh_mapper_new", "bh_mapper_free", "bh_mapper_error"

    def __init__(self, reference: PathLike, k: int = 15, w: int = 10, max_occ: int = 500,
                 max_hits: int = 5, min_score: float = 40.0, threads: int = 0,
                 sam: bool = False, raw_hits: bool = False, cs: bool = False, md: bool = False,
                 secondaries: bool = True, secondary_ratio: float = 0.8) -> None:
        raw = _path_bytes(reference)
        opt = _lib.MapOptions()
        _lib.host_function("bh_map_options_init")(ctypes.byref(opt), ctypes.sizeof(opt))
        opt.k = check_int(k, "k", 1, 32)
        opt.w = check_int(w, "w", 1, 1000000)
        opt.max_occ = check_int(max_occ, "max_occ", 0)
        opt.max_hits = check_int(max_hits, "max_hits", 1, 1000)
        opt.min_score = check_float(min_score, "min_score")
        opt.threads = check_int(threads, "threads", 0, 1024)
        opt.sam = int(bool(sam))
        opt.raw_hits = int(bool(raw_hits))
        opt.cs = int(bool(cs))
        opt.md = int(bool(md))
        opt.secondaries = int(bool(secondaries))
        opt.secondary_ratio = check_float(secondary_ratio, "secondary_ratio")
        if not 0.0 <= opt.secondary_ratio <= 1.0:
            raise ValueError("secondary_ratio must lie between 0 and 1")
        super().__init__()
        self.threads = opt.threads
        self.sam = bool(sam)
        self._check(_lib.host_function("bh_mapper_load")(self._handle, raw, ctypes.byref(opt)))

    @property
    def n_refs(self) -> int:
        """Number of reference sequences."""
        return int(_lib.host_function("bh_mapper_n_refs")(self._live()))

    def sam_header(self, command_line: str = "") -> str:
        """@HD, one @SQ per reference sequence and @PG with ``command_line``."""
        text, length = ctypes.c_void_p(), ctypes.c_size_t()
        with self._lock:
            self._check(_lib.host_function("bh_mapper_sam_header")(
                self._live(), command_line.encode("utf-8", "surrogateescape"),
                ctypes.byref(text), ctypes.byref(length)))
            return _text(text.value, length.value)

    def map_file(self, reads: PathLike, batch_bytes: int = DEFAULT_BATCH_BYTES
                 ) -> Iterator[str]:
        """The records of every read of the file, one text per batch (PAF
        lines, or SAM records without the header; reads without bases are
        unmapped SAM records)."""
        with SeqFile(reads, threads=self.threads, keep_empty=True,
                     batch_bytes=batch_bytes) as reader:
            while reader._next():
                yield self._map_batch(reader)

    def _map_batch(self, reader: SeqFile) -> str:
        """The records of the reader's current batch."""
        text, length = ctypes.c_void_p(), ctypes.c_size_t()
        with self._lock:
            self._check(_lib.host_function("bh_mapper_map")(
                self._live(), reader._live(), ctypes.byref(text), ctypes.byref(length)))
            return _text(text.value, length.value)

    def __repr__(self) -> str:
        state = "closed" if self._handle is None else f"{self.n_refs} sequences"
        return f"Mapper({state}, {'SAM' if self.sam else 'PAF'})"
