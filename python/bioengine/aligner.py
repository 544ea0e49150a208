"""The mapping API of the field's Python modules: an :class:`Aligner` built
once from a reference (a file, or sequences) with a preset, whose
:meth:`Aligner.map` gives the hits of a read as :class:`MappedHit` objects.

The hits are the records the host layer formats for ``bioeng map`` (its PAF
lines, parsed), so the tool and Python agree byte for byte:
``hit.paf_line(...)`` prints the tool's line again.
"""

from __future__ import annotations

import ctypes
import os
import tempfile
from dataclasses import dataclass
from typing import Dict, Iterable, Iterator, List, NamedTuple, Optional, Tuple

from . import _lib
from ._checks import as_bytes
from .codes import decode
from .host import Mapper, PathLike, SeqFile

__all__ = ["Aligner", "MappedHit", "MappedRead", "Codes", "presets"]

_PRESET_FIELDS = ("k", "w", "max_occ", "max_hits", "min_score", "secondary_ratio")


class Codes(bytes):
    """Residue codes (0..31, one byte per position) where letters are
    expected: ``Aligner.map(Codes(record.codes))``. Plain ``bytes`` given to
    the aligner are letters."""


def presets() -> Dict[str, Dict[str, object]]:
    """The tool's presets (``bioeng map -x NAME``) with the options each one
    sets, as the host layer defines them."""
    names = _lib.host_function("bh_map_presets")().decode().split(",")
    return {name: _preset_options(name) for name in names}


def _preset_options(name: str) -> Dict[str, object]:
    """The options preset ``name`` sets (bh_map_options_preset)."""
    if not isinstance(name, str):
        raise TypeError(f"preset must be a str, not {type(name).__name__}")
    opt = _lib.MapOptions()
    _lib.host_function("bh_map_options_init")(ctypes.byref(opt), ctypes.sizeof(opt))
    if _lib.host_function("bh_map_options_preset")(ctypes.byref(opt), name.encode()) != 0:
        known = _lib.host_function("bh_map_presets")().decode().replace(",", ", ")
        raise ValueError(f"unknown preset {name!r}; presets: {known}")
    return {field: getattr(opt, field) for field in _PRESET_FIELDS}


def _letters(seq: object, name: str) -> bytes:
    """Sequence letters as bytes: str, bytes of letters, or Codes decoded."""
    if isinstance(seq, Codes):
        return decode(bytes(seq)).encode("ascii")
    if isinstance(seq, str):
        data = seq.encode("ascii", "replace")
    else:
        data = as_bytes(seq, name)
    if data and min(data) <= 32:
        raise ValueError(f"{name} holds a control byte or space: letters are expected "
                         "(wrap residue codes in bioengine.Codes)")
    return data


def _tag_value(raw: str) -> object:
    kind, value = raw[3], raw[5:]
    if kind == "i":
        return int(value)
    if kind == "f":
        return float(value)
    return value


@dataclass(frozen=True)
class MappedHit:
    """One hit of a read: a PAF record of ``bioeng map``. Coordinates are
    0-based, end-exclusive; ``ref_start``/``ref_end`` lie within ``contig``;
    ``query_start``/``query_end`` within the read as given. ``strand`` is +1
    or -1. ``tags`` holds the record's tags as printed ("NM:i:3", ...), in
    order; :meth:`tag` reads one."""

    contig: str
    contig_length: int
    ref_start: int
    ref_end: int
    query_start: int
    query_end: int
    strand: int
    mapq: int
    matches: int
    block_length: int
    cigar: str
    nm: int
    is_primary: bool
    is_supplementary: bool
    tags: Tuple[str, ...]

    @property
    def is_secondary(self) -> bool:
        return not (self.is_primary or self.is_supplementary)

    def tag(self, name: str, default: object = None) -> object:
        """The value of tag ``name`` (int, float or str), or ``default``."""
        for raw in self.tags:
            if raw[:2] == name:
                return _tag_value(raw)
        return default

    def paf_line(self, query_name: str, query_length: int) -> str:
        """The PAF line of the hit (without its line end), as the tool prints it."""
        columns = [query_name, query_length, self.query_start, self.query_end,
                   "+" if self.strand > 0 else "-", self.contig, self.contig_length,
                   self.ref_start, self.ref_end, self.matches, self.block_length, self.mapq]
        return "\t".join([str(c) for c in columns] + list(self.tags))


def _parse_read(lines: List[List[str]]) -> List[MappedHit]:
    """The hits of one read from its PAF lines. The host layer prints a
    read's primary record first, then its supplementary parts (tp:A:P, or
    tp:A:I for an inverted part), then its secondary hits (tp:A:S)."""
    hits = []
    seen_primary = False
    for cols in lines:
        tags = tuple(cols[12:])
        values = {raw[:2]: raw for raw in tags}
        is_part = values.get("tp", "tp:A:P") != "tp:A:S"
        hits.append(MappedHit(
            contig=cols[5], contig_length=int(cols[6]), ref_start=int(cols[7]),
            ref_end=int(cols[8]), query_start=int(cols[2]), query_end=int(cols[3]),
            strand=1 if cols[4] == "+" else -1, mapq=int(cols[11]), matches=int(cols[9]),
            block_length=int(cols[10]), cigar=values.get("cg", "cg:Z:")[5:],
            nm=int(values.get("NM", "NM:i:0")[5:]),
            is_primary=is_part and not seen_primary,
            is_supplementary=is_part and seen_primary, tags=tags))
        seen_primary = seen_primary or is_part
    return hits


class MappedRead(NamedTuple):
    """A read of a file with its hits (``Aligner.map_file``)."""

    name: str
    length: int
    hits: List[MappedHit]


def _group_paf(text: str) -> Iterator[MappedRead]:
    """Every read named in the PAF text with its hits, in order."""
    lines: List[List[str]] = []
    for line in text.splitlines():
        cols = line.split("\t")
        if lines and cols[0] != lines[0][0]:
            yield MappedRead(lines[0][0], int(lines[0][1]), _parse_read(lines))
            lines = []
        lines.append(cols)
    if lines:
        yield MappedRead(lines[0][0], int(lines[0][1]), _parse_read(lines))


class Aligner:
    """A reference and its index, built once; map reads with :meth:`map`.

    ``reference`` is a FASTA/FASTQ file (plain, gzip or BGZF), or give
    ``seqs`` (letters, or :class:`Codes`) with optional ``names``.
    ``preset`` is one of the tool's presets ("map-ont", "map-pb", "sr");
    the other keywords override single options as ``bioeng map`` does."""

    def __init__(self, reference: Optional[PathLike] = None, *,
                 seqs: Optional[Iterable[object]] = None, names: Optional[Iterable[str]] = None,
                 preset: Optional[str] = None, threads: int = 1, cs: bool = False,
                 secondaries: bool = True, **options: object) -> None:
        if (reference is None) == (seqs is None):
            raise TypeError("give either a reference file or seqs=")
        settings: Dict[str, object] = dict(_preset_options(preset)) if preset else {}
        unknown = set(options) - set(_PRESET_FIELDS)
        if unknown:
            raise TypeError(f"unknown option(s): {', '.join(sorted(unknown))}")
        settings.update(options)
        settings.update(threads=threads, cs=cs, secondaries=secondaries)
        if reference is not None:
            self._mapper = Mapper(reference, **settings)  # type: ignore[arg-type]
        else:
            self._mapper = self._from_sequences(list(seqs), names, settings)  # type: ignore[arg-type]
        self._names, self._lengths = self._reference_table()

    @staticmethod
    def _from_sequences(seqs: List[object], names: Optional[Iterable[str]],
                        settings: Dict[str, object]) -> Mapper:
        labels = [str(n) for n in names] if names is not None else \
            [f"seq{i}" for i in range(len(seqs))]
        if len(labels) != len(seqs) or not seqs:
            raise ValueError(f"{len(labels)} names for {len(seqs)} sequences (at least one)")
        for label in labels:
            if not label or any(c.isspace() for c in label):
                raise ValueError(f"sequence name {label!r} is empty or holds white space")
        with tempfile.TemporaryDirectory(prefix="bioengine-ref-") as work:
            path = os.path.join(work, "reference.fa")
            with open(path, "wb") as out:
                for label, seq in zip(labels, seqs):
                    out.write(b">" + label.encode() + b"\n" + _letters(seq, "sequence") + b"\n")
            return Mapper(path, **settings)  # type: ignore[arg-type]

    def _reference_table(self) -> Tuple[List[str], List[int]]:
        """Names and lengths of the reference sequences, from the SAM header."""
        names, lengths = [], []
        for line in self._mapper.sam_header().splitlines():
            if line.startswith("@SQ"):
                fields = dict(f.split(":", 1) for f in line.split("\t")[1:])
                names.append(fields["SN"])
                lengths.append(int(fields["LN"]))
        return names, lengths

    @property
    def seq_names(self) -> List[str]:
        """Names of the reference sequences, in order."""
        return list(self._names)

    def seq_length(self, name: str) -> int:
        return self._lengths[self._names.index(name)]

    def map(self, seq: object, name: str = "query") -> List[MappedHit]:
        """The hits of one read: primary first, then supplementary parts,
        then secondary hits; empty when it does not map. ``seq`` is a str or
        bytes of letters, or :class:`Codes`; ``name`` must be one word."""
        letters = _letters(seq, "seq")
        if not name or any(c.isspace() for c in name):
            raise ValueError(f"read name {name!r} is empty or holds white space")
        if not letters:
            return []
        record = b">" + name.encode() + b"\n" + letters + b"\n"
        for read in _group_paf(self._map_text(record, name)):
            return read.hits
        return []

    def _map_text(self, data: bytes, label: str) -> str:
        with SeqFile.from_memory(data, label, threads=1) as reader:
            return self._mapper._map_batch(reader) if reader._next() else ""

    def map_file(self, reads: PathLike) -> Iterator[MappedRead]:
        """Every mapped read of a file (name, length, hits), in file order;
        reads without hits are left out, as in the tool's PAF."""
        for text in self._mapper.map_file(reads):
            yield from _group_paf(text)

    def close(self) -> None:
        self._mapper.close()

    def __enter__(self) -> "Aligner":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"Aligner({len(self._names)} sequences)"
