"""Residue codes, letter tables, five-bit packing and codon translation.

Codes: A=0 C=1 G=2 T/U=3, the twenty amino acids 4..23 in alphabetical order
of their letters, stop 24, gap 25, unknown 31. The letter tables are the
library's own (it applies them inside its readers); they live here so that
hosts can encode sequences they hold as text.
"""

from __future__ import annotations

import ctypes
from typing import Optional

from . import _lib
from ._checks import as_bytes, byte_array, check_int, codes_of

__all__ = ["NT_DECODE", "AA_DECODE", "RC_STOP", "RC_GAP", "RC_UNKNOWN", "AMINO_ACIDS",
           "STANDARD_CODE", "encode", "decode", "looks_like_protein", "packed_size", "pack5",
           "unpack5", "getitem5", "find_atg", "translate", "reverse_complement",
           "has_compression", "is_bgzf"]

RC_STOP = 24
RC_GAP = 25
RC_UNKNOWN = 31
AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY"

#: The library's nucleotide decoder: "ACGT" then 28 "N" (what mapping prints).
NT_DECODE: bytes = b"ACGT" + b"N" * 28
#: A decoder that keeps protein codes readable: amino acids, "*" for stop,
#: "-" for the gap code, "X" for the unused and unknown codes.
AA_DECODE: bytes = b"ACGT" + AMINO_ACIDS.encode() + b"*-" + b"X" * 6


def _table(pairs: dict) -> bytes:
    table = bytearray([RC_UNKNOWN]) * 256
    for letters, code in pairs.items():
        for letter in letters:
            table[ord(letter)] = code
    return bytes(table)


_NT_TABLE = _table({"Aa": 0, "Cc": 1, "Gg": 2, "TtUu": 3, "-.": RC_GAP})
_AA_TABLE = _table({**{aa + aa.lower(): 4 + i for i, aa in enumerate(AMINO_ACIDS)},
                    "*": RC_STOP, "-": RC_GAP})
_AA_ONLY = frozenset(b"EFILPQefilpq*")
_DECODE_NT = NT_DECODE * 8  # 256 entries; codes above 31 are refused before use
_DECODE_AA = AA_DECODE * 8
_COMPLEMENT = bytes([3 - c if c < 4 else c for c in range(256)])

#: The standard genetic code as a 64-entry translation table (codon index
#: 16*c0 + 4*c1 + c2 with A=0 C=1 G=2 T=3), protein codes with stop 24.
STANDARD_CODE: bytes = bytes(
    _AA_TABLE[ord(letter)]
    for letter in "KNKNTTTTRSRSIIMIQHQHPPPPRRRRLLLLEDEDAAAAGGGGVVVV*Y*YSSSS*CWCLFLF")


def looks_like_protein(text: object) -> bool:
    """True when ``text`` holds a letter that only proteins use (E F I L P Q *),
    the rule the readers apply to FASTA records in detect mode."""
    raw = text.encode("latin-1") if isinstance(text, str) else as_bytes(text, "text")
    return not _AA_ONLY.isdisjoint(raw)


def encode(text: object, protein: Optional[bool] = False) -> bytes:
    """Residue codes of ``text`` (str or bytes of letters).

    ``protein``: False uses the nucleotide table, True the protein table,
    None detects as the FASTA reader does."""
    raw = text.encode("latin-1", "replace") if isinstance(text, str) else as_bytes(text, "text")
    if protein is None:
        protein = looks_like_protein(raw)
    if not isinstance(protein, bool):
        raise TypeError("protein must be True, False or None")
    return raw.translate(_AA_TABLE if protein else _NT_TABLE)


def decode(codes: object, protein: bool = False) -> str:
    """Letters of residue ``codes``; nucleotide decoding turns every code above
    3 into "N" exactly as the library does, protein decoding uses AA_DECODE."""
    raw = codes_of(codes, "codes") if not isinstance(codes, str) else None
    if raw is None:
        raise TypeError("codes must be bytes-like residue codes, not str")
    return raw.translate(_DECODE_AA if protein else _DECODE_NT).decode("ascii")


def reverse_complement(codes: object) -> bytes:
    """Reverse complement of nucleotide codes (codes above 3 are kept)."""
    return codes_of(codes, "codes").translate(_COMPLEMENT)[::-1]


def packed_size(n: int) -> int:
    """Bytes of packed data for ``n`` codes: (5n + 7) // 8."""
    n = check_int(n, "n", 0, 429_496_728)
    return (5 * n + 7) // 8


def pack5(codes: object) -> bytes:
    """Five-bit packed form of ``codes`` (low five bits of each byte kept),
    including the extra zero byte the packer writes: packed_size(n) + 1 bytes."""
    raw = as_bytes(codes, "codes")
    n = check_int(len(raw), "number of codes", 0, 429_496_728)
    out = byte_array(packed_size(n) + 1)
    _lib.function("bio_pack5")(raw, n, out)
    return bytes(out)


def unpack5(packed: object, n: int) -> bytes:
    """The first ``n`` codes of a packed sequence."""
    raw = as_bytes(packed, "packed")
    n = check_int(n, "n", 0, 429_496_728)
    if len(raw) < packed_size(n):
        raise ValueError(f"packed holds {len(raw)} bytes, {packed_size(n)} needed for {n} codes")
    out = byte_array(n)
    _lib.function("bio_unpack5")(raw, n, out)
    return ctypes.string_at(out, n)


def getitem5(packed: object, i: int) -> int:
    """Code at position ``i`` of a packed sequence; ``i`` must lie inside the data."""
    raw = as_bytes(packed, "packed")
    i = check_int(i, "i", 0, 2**32 - 1)
    if packed_size(i + 1) > len(raw):
        raise IndexError(f"position {i} lies beyond {len(raw)} packed bytes")
    # A code that straddles two bytes ends inside packed_size(i + 1), so the
    # length check above keeps the library's read within the data.
    return int(_lib.function("bio_getitem5")(raw, i))


def find_atg(codes: object) -> int:
    """Position of the first A,T,G in nucleotide codes (or text), or -1."""
    raw = codes_of(codes, "codes")
    return int(_lib.function("bio_find_atg")(raw, check_int(len(raw), "length", 0)))


def translate(codes: object, table: object = STANDARD_CODE) -> bytes:
    """Translate consecutive codons (a trailing partial codon is ignored)
    through a 64-entry ``table``; codons with a code above 3 give 31."""
    raw = codes_of(codes, "codes")
    tab = as_bytes(table, "table")
    if len(tab) != 64:
        raise ValueError(f"table must have 64 entries, got {len(tab)}")
    n_codons = check_int(len(raw) // 3, "number of codons", 0)
    out = byte_array(n_codons)
    _lib.function("bio_translate")(tab, raw, n_codons, out)
    return ctypes.string_at(out, n_codons)


def has_compression() -> bool:
    """Whether the library can decompress input itself (this build cannot)."""
    return int(_lib.function("bio_has_libdeflate")()) & 0xFFFFFFFF != 0


def is_bgzf(data: object) -> bool:
    """The library's BGZF test of ``data`` (False without compression support)."""
    raw = as_bytes(data, "data")
    return int(_lib.function("bio_is_bgzf")(raw, len(raw))) & 0xFFFFFFFF != 0

