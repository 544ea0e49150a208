"""Python binding of libengine: FASTA/FASTQ input, five-bit packing, codon
translation, pairwise alignment, minimizers and read mapping; and of its host
layer, libbioeng_host: checked plain/gzip/BGZF input (:class:`SeqFile`),
file mapping to PAF/SAM (:class:`Mapper`) and summaries, byte for byte as the
``bioeng`` tool; and the mapping API of the field's Python modules
(:class:`Aligner`, whose hits are the tool's records).

The library is loaded with ctypes from ``$BIOENGINE_LIB`` (an override),
else from inside this package (a wheel), else from the library directory of
a CMake installation, else from next to this package or the source tree's
``build/`` directory, else by name through the system's library search.
Library calls release the GIL.
"""

from ._lib import MissingSymbolError, has_symbol, library, library_path
from .aligner import Aligner, Codes, MappedHit, MappedRead, presets
from .align import (ALIGNERS, BANDED_ALIGNERS, NEG_INF, Alignment, nw_banded, nw_banded_diag,
                    nw_banded_diag_simd, nw_banded_semiglobal, nw_global, nw_semiglobal,
                    sw_align)
from .codes import (AA_DECODE, AMINO_ACIDS, NT_DECODE, RC_GAP, RC_STOP, RC_UNKNOWN,
                    STANDARD_CODE, decode, encode, find_atg, getitem5, has_compression, is_bgzf,
                    looks_like_protein, pack5, packed_size, reverse_complement, translate,
                    unpack5)
from .host import InputError, Mapper, SeqFile, read_records, summary
from .mapping import Hit, Index, Minimizer, chain_dp, minimizers
from .seqio import FASTA, FASTQ, Batch, Reader, Record, RecordTooLongError, parse_mem

__version__ = "0.1.0"

__all__ = [
    "MissingSymbolError", "has_symbol", "library", "library_path",
    "ALIGNERS", "BANDED_ALIGNERS", "NEG_INF", "Alignment", "nw_banded", "nw_banded_diag",
    "nw_banded_diag_simd", "nw_banded_semiglobal", "nw_global", "nw_semiglobal", "sw_align",
    "AA_DECODE", "AMINO_ACIDS", "NT_DECODE", "RC_GAP", "RC_STOP", "RC_UNKNOWN", "STANDARD_CODE",
    "decode", "encode", "find_atg", "getitem5", "has_compression", "is_bgzf",
    "looks_like_protein", "pack5", "packed_size", "reverse_complement", "translate", "unpack5",
    "presets", "Aligner", "Codes", "MappedHit", "MappedRead",
    "InputError", "Mapper", "SeqFile", "read_records", "summary",
    "Hit", "Index", "Minimizer", "chain_dp", "minimizers",
    "FASTA", "FASTQ", "Batch", "Reader", "Record", "RecordTooLongError", "parse_mem",
]
