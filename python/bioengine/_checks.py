"""Argument checks and conversions shared by the wrappers.

The library validates almost nothing (lengths, capacities and pointers are the
caller's contract), so every wrapper funnels its inputs through these helpers
before any call: a bad argument becomes a Python exception, never a crash.
"""

from __future__ import annotations

import ctypes
import mmap

INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1

def check_int(value: object, name: str, low: int = -(2**31), high: int = INT32_MAX) -> int:
    """``value`` as an int within [low, high]; bool and non-integers raise TypeError."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    number = value.__index__()  # type: ignore[union-attr]
    if not low <= number <= high:
        raise ValueError(f"{name} must be between {low} and {high}, got {number}")
    return number


def check_float(value: object, name: str) -> float:
    """``value`` as a finite-or-infinite float; strings and None raise TypeError."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    number = float(value)
    if number != number:
        raise ValueError(f"{name} must not be NaN")
    return number


def as_bytes(data: object, name: str) -> bytes:
    """Bytes view of a one-byte-element buffer; str and other objects raise TypeError."""
    if isinstance(data, bytes):
        return data
    if isinstance(data, str):
        raise TypeError(f"{name} must be bytes-like, not str")
    try:
        view = memoryview(data)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be bytes-like, not {type(data).__name__}") from None
    if view.itemsize != 1:
        raise TypeError(f"{name} must have one-byte elements, got item size {view.itemsize}")
    return view.tobytes()


def codes_of(seq: object, name: str, protein: bool = False) -> bytes:
    """Residue codes of ``seq``: a str is encoded letter by letter, bytes-like
    input is taken as codes already and must hold values 0 to 31, and a
    record (anything with a ``codes`` attribute of bytes) gives its codes."""
    record_codes = getattr(seq, "codes", None)
    if isinstance(record_codes, bytes):
        seq = record_codes
    if isinstance(seq, str):
        from .codes import encode
        return encode(seq, protein=protein)
    codes = as_bytes(seq, name)
    if codes and max(codes) > 31:
        raise ValueError(f"{name} holds a value above 31; residue codes are 0 to 31 "
                         "(pass a str to encode letters)")
    return codes


#: Buffers from this size up are anonymous memory maps: their pages stay
#: untouched (and cost nothing) until the library writes into them, so a
#: reader can offer room for the longest possible record without paying for it.
LAZY_BUFFER_BYTES = 1 << 20


def _lazy(ctype: type, size: int) -> ctypes.Array:  # type: ignore[type-arg]
    mapping = mmap.mmap(-1, size)
    return (ctype * size).from_buffer(mapping)  # the array keeps the map alive


def byte_array(size: int) -> ctypes.Array:  # type: ignore[type-arg]
    """Zeroed output buffer of ``size`` bytes (at least one, so it has an address)."""
    size = max(size, 1)
    return _lazy(ctypes.c_uint8, size) if size >= LAZY_BUFFER_BYTES else (ctypes.c_uint8 * size)()


def char_array(size: int) -> ctypes.Array:  # type: ignore[type-arg]
    """Zeroed output buffer of ``size`` characters, for text the library writes."""
    size = max(size, 1)
    return _lazy(ctypes.c_char, size) if size >= LAZY_BUFFER_BYTES else (ctypes.c_char * size)()


def typed_array(ctype: type, count: int) -> ctypes.Array:  # type: ignore[type-arg]
    """Zeroed output array of ``count`` elements (at least one)."""
    return (ctype * max(count, 1))()


class Closable:
    """``with`` support and a finaliser for an object that owns a library
    handle and releases it in ``close`` (which must be safe to repeat)."""

    def close(self) -> None:
        raise NotImplementedError

    def __enter__(self):  # type: ignore[no-untyped-def]
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass
