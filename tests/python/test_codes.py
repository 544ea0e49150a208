"""Letter tables, five-bit packing, translation and the compression stubs."""

import random
import unittest

from support import ROOT, bioengine, requires

import bioengine as be


def pack_model(codes: bytes) -> bytes:
    """Straightforward bit-stream packer: code i at bits 5i..5i+4, MSB first."""
    bits = "".join(format(c & 31, "05b") for c in codes)
    bits += "0" * (-len(bits) % 8) + "0" * 8
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def translate_model(codes: bytes, table: bytes) -> bytes:
    out = bytearray()
    for i in range(0, len(codes) - 2, 3):
        index = 16 * codes[i] + 4 * codes[i + 1] + codes[i + 2]
        out.append(table[index] if index <= 63 else 31)
    return bytes(out)


class LetterTables(unittest.TestCase):
    def test_nucleotide_codes(self):
        self.assertEqual(be.encode("ACGTUacgtu"), bytes([0, 1, 2, 3, 3] * 2))
        self.assertEqual(be.encode("NnRY-. 9;*"), bytes([31, 31, 31, 31, 25, 25, 31, 31, 31, 31]))

    def test_protein_codes(self):
        self.assertEqual(be.encode(be.AMINO_ACIDS, protein=True), bytes(range(4, 24)))
        self.assertEqual(be.encode("nU.*-", protein=True), bytes([15, 31, 31, 24, 25]))

    def test_detection(self):
        self.assertFalse(be.looks_like_protein("ACGTN-acgtn"))
        self.assertTrue(be.looks_like_protein("ACGL"))
        self.assertTrue(be.looks_like_protein("ACG*"))
        self.assertEqual(be.encode("MKLV", protein=None), bytes([14, 12, 13, 21]))

    def test_decode(self):
        self.assertEqual(be.decode(bytes([0, 1, 2, 3, 25, 31])), "ACGTNN")
        self.assertEqual(be.decode(be.encode("MKLV*", protein=True), protein=True), "MKLV*")
        rng = random.Random(11)
        text = "".join(rng.choice("ACGT") for _ in range(500))
        self.assertEqual(be.decode(be.encode(text)), text)

    def test_reverse_complement(self):
        self.assertEqual(be.decode(be.reverse_complement(be.encode("AACGTN"))), "NACGTT")

    def test_misuse(self):
        with self.assertRaises(TypeError):
            be.decode("ACGT")
        with self.assertRaises(ValueError):
            be.decode(bytes([40]))
        with self.assertRaises(TypeError):
            be.encode(12)
        with self.assertRaises(TypeError):
            be.encode("ACGT", protein=1)


@requires("bio_pack5", "bio_unpack5", "bio_getitem5")
class Packing(unittest.TestCase):
    def test_known_bytes(self):
        self.assertEqual(be.pack5(bytes([0, 1, 2, 3])), bytes([0x00, 0x44, 0x30, 0x00]))
        self.assertEqual(be.pack5(bytes([31])), bytes([0xF8, 0x00]))
        self.assertEqual(be.pack5(bytes([0, 1, 2, 3, 25, 31, 24, 4])),
                         bytes([0x00, 0x44, 0x3C, 0xFF, 0x04, 0x00]))
        self.assertEqual(be.pack5(b""), b"\x00")
        self.assertEqual(be.unpack5(be.pack5(bytes([40])), 1), bytes([8]))

    def test_against_model_and_round_trip(self):
        rng = random.Random(5)
        for n in list(range(0, 40)) + [rng.randrange(41, 3000) for _ in range(30)]:
            codes = bytes(rng.randrange(256) for _ in range(n))
            packed = be.pack5(codes)
            self.assertEqual(len(packed), be.packed_size(n) + 1)
            self.assertEqual(packed, pack_model(codes))
            masked = bytes(c & 31 for c in codes)
            self.assertEqual(be.unpack5(packed, n), masked)
            self.assertEqual(be.unpack5(packed[:be.packed_size(n)], n), masked)
            for i in range(n):
                self.assertEqual(be.getitem5(packed, i), masked[i])

    def test_accepts_buffers(self):
        codes = bytearray([1, 2, 3, 0])
        self.assertEqual(be.pack5(codes), be.pack5(bytes(codes)))
        self.assertEqual(be.pack5(memoryview(bytes(codes))), be.pack5(bytes(codes)))
        from array import array
        self.assertEqual(be.pack5(array("B", codes)), be.pack5(bytes(codes)))
        with self.assertRaises(TypeError):
            be.pack5(array("i", codes))

    def test_misuse(self):
        packed = be.pack5(bytes([1, 2, 3]))
        with self.assertRaises(ValueError):
            be.unpack5(packed, 100)
        with self.assertRaises(ValueError):
            be.unpack5(packed, -1)
        with self.assertRaises(IndexError):
            be.getitem5(packed, 4)
        with self.assertRaises(ValueError):
            be.getitem5(packed, -1)
        with self.assertRaises(TypeError):
            be.pack5("ACGT")
        with self.assertRaises(TypeError):
            be.pack5([1, 2, 3])
        with self.assertRaises(TypeError):
            be.unpack5(packed, 2.0)


@requires("bio_find_atg", "bio_translate")
class Translation(unittest.TestCase):
    def test_find_atg(self):
        self.assertEqual(be.find_atg("CATG"), 1)
        self.assertEqual(be.find_atg("AT"), -1)
        self.assertEqual(be.find_atg("ATG"), 0)
        self.assertEqual(be.find_atg("ATCATG"), 3)
        self.assertEqual(be.find_atg("AUG"), 0)
        self.assertEqual(be.find_atg("ANG"), -1)
        rng = random.Random(3)
        for _ in range(200):
            text = "".join(rng.choice("ACGTN") for _ in range(rng.randrange(0, 40)))
            self.assertEqual(be.find_atg(text), text.find("ATG"))

    def test_translate(self):
        identity = bytes(range(64))
        self.assertEqual(be.translate("AAATTT", identity), bytes([0, 63]))
        self.assertEqual(be.translate(bytes([31, 0, 0]), identity), bytes([31]))
        self.assertEqual(be.translate(bytes([0, 0, 31]), identity), bytes([31]))
        self.assertEqual(be.translate("", identity), b"")
        self.assertEqual(be.decode(be.translate("ATGGCCTAA"), protein=True), "MA*")
        rng = random.Random(4)
        for _ in range(100):
            codes = bytes(rng.choice([0, 1, 2, 3, 3, 31]) for _ in range(rng.randrange(0, 60)))
            self.assertEqual(be.translate(codes, identity), translate_model(codes, identity))

    def test_misuse(self):
        with self.assertRaises(ValueError):
            be.translate("AAA", bytes(63))
        with self.assertRaises(ValueError):
            be.find_atg(bytes([0, 3, 200]))


@requires("bio_has_libdeflate", "bio_is_bgzf")
class Compression(unittest.TestCase):
    def test_reports_no_support(self):
        self.assertFalse(be.has_compression())
        self.assertFalse(be.is_bgzf(b"\x1f\x8b\x08\x04"))


class Loading(unittest.TestCase):
    @requires()
    def test_library_is_loaded_without_holding_the_gil(self):
        import ctypes
        lib = bioengine.library()
        self.assertIsInstance(lib, ctypes.CDLL)
        self.assertNotIsInstance(lib, ctypes.PyDLL)
        self.assertFalse(lib._func_flags_ & ctypes._FUNCFLAG_PYTHONAPI)

    def test_a_wrong_library_path_is_reported(self):
        import os
        import subprocess
        import sys
        env = dict(os.environ, BIOENGINE_LIB=str(ROOT / "no-such-dir" / "libengine.so"),
                   PYTHONPATH=str(ROOT / "python"))
        run = subprocess.run([sys.executable, "-c", "import bioengine; bioengine.library()"],
                             env=env, capture_output=True, text=True)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("BIOENGINE_LIB", run.stderr)

    @requires()
    def test_every_export_is_declared_and_wrapped(self):
        import re
        from bioengine import _lib
        header = (ROOT / "include" / "engine.h").read_text()
        declared = set(re.findall(r"^[a-z][\w ]*?\**\b(\w+)\(", header, re.MULTILINE))
        self.assertEqual(declared, set(_lib.EXPORTED_NAMES))
        sources = "".join(p.read_text() for p in (ROOT / "python" / "bioengine").glob("*.py"))
        for name in _lib.EXPORTED_NAMES:
            self.assertTrue(bioengine.has_symbol(name), name)
            self.assertTrue(callable(_lib.function(name)))
            if not name.startswith(("bio_gzip", "bio_bgzf")):
                self.assertTrue(f'"{name}"' in sources, f"{name} has no wrapper")
        with self.assertRaises(KeyError):
            _lib.function("no_such_function")


if __name__ == "__main__":
    unittest.main()
