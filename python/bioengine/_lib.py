"""Locating libengine.so and declaring the C prototypes of its exports.

Every export is declared once here, with exact argument and result types, so
that ctypes converts Python integers to the right widths and never guesses.
The library is loaded with :class:`ctypes.CDLL`, which releases the GIL for
the duration of each call: host threads run library code in parallel.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from ctypes import (POINTER, Structure, c_char_p, c_double, c_int32, c_int64, c_uint32,
                    c_void_p)
from pathlib import Path
from typing import Callable, Dict, List, Tuple

__all__ = ["MapHit", "EXPORTED_NAMES", "library", "library_path", "has_symbol", "function",
           "MissingSymbolError", "host_function", "host_library_path"]


class MissingSymbolError(NotImplementedError):
    """The loaded library does not export the requested function."""


class MapHit(Structure):
    """ctypes mirror of ``bio_map_hit_t`` (natural alignment, 80 bytes)."""

    _fields_ = [
        ("identity", c_double),
        ("chain_score", c_double),
        ("ref_start", c_int64),
        ("ref_end", c_int64),
        ("query_start", c_int32),
        ("query_end", c_int32),
        ("strand", c_int32),
        ("n_match", c_int32),
        ("aln_len", c_int32),
        ("mapq", c_int32),
        ("ref_id", c_int32),
        ("cigar_off", c_int32),
        ("cigar_len", c_int32),
    ]


_P = c_void_p  # every buffer travels as a plain address; the wrappers size them
_ALIGNER = [_P, c_int32, _P, c_int32, _P, c_int32, c_int32, c_int32,
            _P, _P, POINTER(c_int32), POINTER(c_int32), POINTER(c_int32), POINTER(c_int32)]
_BANDED = _ALIGNER[:8] + [c_int32] + _ALIGNER[8:]

# name -> (result type, argument types)
_PROTOTYPES: Dict[str, Tuple[object, List[object]]] = {
    "bio_pack5": (None, [_P, c_int32, _P]),
    "bio_unpack5": (None, [_P, c_int32, _P]),
    "bio_getitem5": (c_int32, [_P, c_uint32]),
    "bio_has_libdeflate": (c_int64, []),
    "bio_gzip_decompress": (c_int64, [_P, c_int64, _P, c_int64]),
    "bio_is_bgzf": (c_int64, [_P, c_int64]),
    "bio_bgzf_usize": (c_int64, [_P, c_int64]),
    "bio_bgzf_decompress_parallel": (c_int64, [_P, c_int64, _P, c_int64, c_int32]),
    "bio_bgzf_compress": (c_int64, [_P, c_int64, _P, c_int64, c_int32]),
    "bio_parser_open": (c_void_p, [c_char_p]),
    "bio_parser_next": (c_int32, [c_void_p, _P, c_int32, _P, c_int32, POINTER(c_int32), c_int32,
                                  POINTER(c_int32), _P, POINTER(c_int32)]),
    "bio_parser_close": (None, [c_void_p]),
    "bio_parser_next_batch": (c_int32, [c_void_p, c_int32, c_int32, _P, c_int32, _P, _P, c_int32,
                                        _P, _P, _P, _P, c_int32, _P]),
    "bio_parse_mem_parallel": (c_int32, [_P, c_int64, c_int32, c_int32, c_int32, _P, c_int32, _P,
                                         _P, c_int64, _P, _P, _P, _P, c_int64, _P, c_int32]),
    "bio_find_atg": (c_int32, [_P, c_int32]),
    "bio_translate": (None, [_P, _P, c_int32, _P]),
    "nw_global": (c_int32, _ALIGNER),
    "nw_semiglobal": (c_int32, _ALIGNER),
    "sw_align": (c_int32, _ALIGNER),
    "nw_banded": (c_int32, _BANDED),
    "nw_banded_semiglobal": (c_int32, _BANDED),
    "nw_banded_diag": (c_int32, _BANDED),
    "nw_banded_diag_simd": (c_int32, _BANDED),
    "bio_minimizers": (c_int64, [_P, c_int64, c_int32, c_int32, _P, _P, _P]),
    "bio_index_build": (c_void_p, [_P, c_int64, c_int32, c_int32, c_int32, _P, _P, c_int32]),
    "bio_index_n_minimizers": (c_int64, [c_void_p]),
    "bio_index_free": (None, [c_void_p]),
    "bio_chain_dp": (None, [_P, _P, c_int32, c_int32, c_int64, c_int32, c_double, _P, _P]),
    "bio_map_read": (c_int32, [c_void_p, _P, c_int32, c_int32, _P, c_int32, c_double, _P,
                               c_int32]),
    "bio_map_batch": (c_int32, [c_void_p, _P, _P, c_int32, c_int32, _P, c_double, _P, _P, _P,
                                c_int32]),
}

EXPORTED_NAMES: Tuple[str, ...] = tuple(_PROTOTYPES)

_lock = threading.Lock()
_state: Dict[str, object] = {}


def _installed_libdir() -> List[Path]:
    """The library directory of a CMake installation of this package, which
    records it relative to the package in _libdir.py."""
    try:
        from ._libdir import LIBDIR  # type: ignore[import-not-found]
    except ImportError:
        return []
    return [Path(__file__).resolve().parent / LIBDIR]


def _candidates() -> List[Path]:
    """Places searched for the library, in order of preference: the
    override, the copy inside the package (a wheel), the installation's
    library directory, next to the package, the source tree's build."""
    here = Path(__file__).resolve().parent
    found: List[Path] = []
    env = os.environ.get("BIOENGINE_LIB")
    if env:
        found.append(Path(env))
    found += [here / "libengine.so.0", here / "libengine.so"]
    found += [d / "libengine.so.0" for d in _installed_libdir()]
    found += [here.parent / "libengine.so", here.parent.parent / "build" / "libengine.so"]
    return found


def _load_from(candidates: List[Path], env_name: str, name: str, hint: str
               ) -> Tuple[ctypes.CDLL, str]:
    """The first candidate that is a file, else the system's search for
    ``name``; an environment variable that names no file is an error."""
    env = os.environ.get(env_name)
    for path in candidates:
        if path.is_file():
            return ctypes.CDLL(str(path)), str(path)
        if env and str(path) == env:
            raise OSError(f"{env_name} points to {env!r}, which is not a file")
    found = ctypes.util.find_library(name)
    if found is None:
        raise OSError(f"lib{name}.so not found: set {env_name} to its path, {hint}")
    return ctypes.CDLL(found), found


def _load() -> Tuple[ctypes.CDLL, str]:
    return _load_from(_candidates(), "BIOENGINE_LIB", "engine",
                      "place it next to the bioengine package, or build it into build/")


def _loaded(key: str, load: Callable[[], Tuple[ctypes.CDLL, str]]) -> ctypes.CDLL:
    """The library kept under ``key`` (its path under key + "_path"), loaded
    by ``load`` on first use."""
    with _lock:
        if key not in _state:
            _state[key], _state[key + "_path"] = load()
        return _state[key]  # type: ignore[return-value]


def library() -> ctypes.CDLL:
    """The loaded library (loaded on first use)."""
    return _loaded("lib", _load)


def library_path() -> str:
    """File name the library was loaded from."""
    library()
    return str(_state["lib_path"])


def has_symbol(name: str) -> bool:
    """Whether the loaded library exports ``name``."""
    try:
        getattr(library(), name)
    except AttributeError:
        return False
    return True


_functions: Dict[str, Callable[..., object]] = {}


def _bound(name: str, lib: Callable[[], ctypes.CDLL], path: Callable[[], str],
           prototypes: Dict[str, Tuple[object, List[object]]]) -> Callable[..., object]:
    fn = _functions.get(name)
    if fn is not None:
        return fn
    restype, argtypes = prototypes[name]
    try:
        fn = getattr(lib(), name)
    except AttributeError:
        raise MissingSymbolError(f"{path()} does not export {name}") from None
    fn.restype = restype
    fn.argtypes = argtypes
    _functions[name] = fn
    return fn


def function(name: str) -> Callable[..., object]:
    """The export ``name`` with its prototype applied.

    Raises :class:`MissingSymbolError` when the library lacks it."""
    return _bound(name, library, library_path, _PROTOTYPES)


# -- the host layer (libbioeng_host.so, header bioeng_host.h) ---------------

class ReadOptions(Structure):
    """ctypes mirror of ``bh_read_options``."""

    _fields_ = [("size", c_uint32), ("threads", c_int32), ("protein", c_int32),
                ("keep_empty", c_int32), ("batch_bytes", c_int64)]


class MapOptions(Structure):
    """ctypes mirror of ``bh_map_options``."""

    _fields_ = [("size", c_uint32), ("k", c_int32), ("w", c_int32), ("max_occ", c_int32),
                ("max_hits", c_int32), ("min_score", c_double), ("threads", c_int32),
                ("sam", c_int32), ("raw_hits", c_int32), ("cs", c_int32), ("md", c_int32),
                ("secondaries", c_int32), ("secondary_ratio", c_double),
                ("read_group", c_char_p), ("paf_beside_sam", c_int32)]


_H = c_void_p
_SIZE = ctypes.c_size_t
_HOST_PROTOTYPES: Dict[str, Tuple[object, List[object]]] = {
    "bh_version": (c_char_p, []),
    "bh_read_options_init": (None, [POINTER(ReadOptions), _SIZE]),
    "bh_reader_new": (_H, []),
    "bh_reader_free": (None, [_H]),
    "bh_reader_open": (c_int32, [_H, c_char_p, POINTER(ReadOptions)]),
    "bh_reader_open_memory": (c_int32, [_H, _P, _SIZE, c_char_p, POINTER(ReadOptions)]),
    "bh_reader_next": (c_int32, [_H]),
    "bh_reader_count": (c_int32, [_H]),
    "bh_reader_header": (_P, [_H, c_int32]),
    "bh_reader_name": (_P, [_H, c_int32, POINTER(_SIZE)]),
    "bh_reader_length": (c_int32, [_H, c_int32]),
    "bh_reader_is_protein": (c_int32, [_H, c_int32]),
    "bh_reader_codes": (None, [_H, c_int32, _P]),
    "bh_reader_quals": (_P, [_H, c_int32]),
    "bh_reader_format": (c_int32, [_H]),
    "bh_reader_compression": (c_char_p, [_H]),
    "bh_reader_bytes_read": (ctypes.c_uint64, [_H]),
    "bh_reader_error": (c_char_p, [_H]),
    "bh_stats_new": (_H, []),
    "bh_stats_free": (None, [_H]),
    "bh_stats_add": (c_int32, [_H, _H]),
    "bh_stats_records": (ctypes.c_uint64, [_H]),
    "bh_stats_row": (c_char_p, [_H]),
    "bh_stats_error": (c_char_p, [_H]),
    "bh_map_options_init": (None, [POINTER(MapOptions), _SIZE]),
    "bh_map_options_preset": (c_int32, [POINTER(MapOptions), c_char_p]),
    "bh_map_presets": (c_char_p, []),
    "bh_mapper_new": (_H, []),
    "bh_mapper_free": (None, [_H]),
    "bh_mapper_load": (c_int32, [_H, c_char_p, POINTER(MapOptions)]),
    "bh_mapper_sam_header": (c_int32, [_H, c_char_p, POINTER(_P), POINTER(_SIZE)]),
    "bh_mapper_map": (c_int32, [_H, _H, POINTER(_P), POINTER(_SIZE)]),
    "bh_mapper_n_refs": (c_int32, [_H]),
    "bh_mapper_error": (c_char_p, [_H]),
}


def _host_candidates() -> List[Path]:
    found: List[Path] = []
    env = os.environ.get("BIOENGINE_HOST_LIB")
    if env:
        found.append(Path(env))
    engine_dir = Path(str(_state["lib_path"])).resolve().parent
    here = Path(__file__).resolve().parent
    found += [engine_dir / "libbioeng_host.so.0", engine_dir / "libbioeng_host.so",
              engine_dir / "host" / "libbioeng_host.so", here / "libbioeng_host.so",
              here.parent.parent / "build" / "host" / "libbioeng_host.so"]
    return found


def _load_host() -> Tuple[ctypes.CDLL, str]:
    return _load_from(_host_candidates(), "BIOENGINE_HOST_LIB", "bioeng_host",
                      "or place it next to libengine.so")


def host_library_path() -> str:
    """File name the host library was loaded from (loaded on first use)."""
    _host()
    return str(_state["host_path"])


def _host() -> ctypes.CDLL:
    library()  # libengine first: the host library needs it loaded
    return _loaded("host", _load_host)


def host_function(name: str) -> Callable[..., object]:
    """The host library's export ``name`` with its prototype applied."""
    return _bound(name, _host, host_library_path, _HOST_PROTOTYPES)
