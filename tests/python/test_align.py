"""The seven aligners against plain DP models, against each other, and on
misuse."""

import random
import unittest

import align_models as model
from support import mutate, random_dna, requires

import bioengine as be

FULL = ("nw_global", "nw_semiglobal", "sw_align")
BANDED = ("nw_banded", "nw_banded_semiglobal", "nw_banded_diag", "nw_banded_diag_simd")


def fields(aln: be.Alignment):
    return (aln.aligned_a, aln.aligned_b, aln.score, aln.n_match, aln.n_mismatch, aln.n_gap)


def random_scores(rng: random.Random):
    return rng.randint(1, 4), rng.randint(-4, 0), rng.randint(-4, -1)


def random_pair(rng: random.Random, max_len: int):
    a = random_dna(rng, rng.randint(0, max_len), "ACGTN" if rng.random() < 0.2 else "ACGT")
    b = mutate(rng, a, 0.15) if rng.random() < 0.7 else random_dna(rng, rng.randint(0, max_len))
    return be.encode(a), be.encode(b)


@requires(*FULL)
class FullMatrix(unittest.TestCase):
    def test_against_model(self):
        rng = random.Random(2024)
        for _ in range(300):
            a, b = random_pair(rng, 14)
            scores = random_scores(rng)
            for name in FULL:
                with self.subTest(name=name, a=a, b=b, scores=scores):
                    got = be.ALIGNERS[name](a, b, *scores)
                    self.assertEqual(fields(got), getattr(model, name)(a, b, *scores))
                    self.assertEqual(got.n_match + got.n_mismatch + got.n_gap, got.length)

    def test_documented_cases(self):
        aln = be.nw_global("A", "C", 1, -2, -1)
        self.assertEqual(fields(aln), ("A", "C", -2, 0, 1, 0))
        aln = be.nw_global("AA", "A", 1, -1, -1)
        self.assertEqual((aln.aligned_a, aln.aligned_b, aln.score), ("AA", "-A", 0))
        aln = be.nw_global("ACG", "", gap=-2)
        self.assertEqual(fields(aln), ("ACG", "---", -6, 0, 0, 3))
        aln = be.nw_semiglobal("CG", "AACGTT", 1, -1, -1)
        self.assertEqual(fields(aln), ("--CG--", "AACGTT", 2, 2, 0, 4))
        aln = be.sw_align("ACGTACGT", "ACGACGT", 2, -1, -2)
        self.assertEqual(fields(aln), ("ACGTACGT", "ACG-ACGT", 12, 7, 0, 1))
        self.assertEqual(aln.cigar, "3M1D4M")
        self.assertEqual(fields(be.sw_align("GGG", "CCC", 1, -1, -1)), ("", "", 0, 0, 0, 0))
        self.assertEqual(be.nw_global("N", "N", 5, -1, -1).score, 5)

    def test_protein_and_custom_decode(self):
        aln = be.nw_global("MKLV", "MKV", 2, -1, -2, decode=be.AA_DECODE, protein=True)
        self.assertEqual((aln.aligned_a, aln.aligned_b), ("MKLV", "MK-V"))
        self.assertEqual(aln.cigar, "2M1D1M")


@requires(*BANDED, "nw_global")
class Banded(unittest.TestCase):
    def test_against_model(self):
        rng = random.Random(77)
        for _ in range(300):
            a, b = random_pair(rng, 14)
            scores = random_scores(rng)
            band = rng.randint(0, 8)
            expected = model.banded(a, b, *scores, band, False)
            expected_semi = model.banded(a, b, *scores, band, True)
            with self.subTest(a=a, b=b, scores=scores, band=band):
                self.assertEqual(fields(be.nw_banded(a, b, band, *scores)), expected)
                self.assertEqual(fields(be.nw_banded_diag(a, b, band, *scores)), expected)
                self.assertEqual(fields(be.nw_banded_diag_simd(a, b, band, *scores)), expected)
                self.assertEqual(fields(be.nw_banded_semiglobal(a, b, band, *scores)),
                                 expected_semi)

    def test_wide_band_equals_global(self):
        rng = random.Random(8)
        for _ in range(50):
            a, b = random_pair(rng, 60)
            wide = max(len(a), len(b))
            expected = fields(be.nw_global(a, b))
            for name in ("nw_banded", "nw_banded_diag", "nw_banded_diag_simd"):
                self.assertEqual(fields(be.BANDED_ALIGNERS[name](a, b, wide)), expected)

    def test_kernels_agree_on_long_sequences(self):
        rng = random.Random(9)
        for length in (300, 12001):
            a = random_dna(rng, length)
            b = mutate(rng, a, 0.02)
            band = 24
            diag = be.nw_banded_diag(a, b, band)
            self.assertEqual(fields(be.nw_banded_diag_simd(a, b, band)), fields(diag))
            if length < 1000:
                self.assertEqual(fields(be.nw_banded(a, b, band)), fields(diag))

    def test_end_cell_outside_band(self):
        aln = be.nw_banded("ACGTAC", "AC", 1, 1, -1, -1)
        self.assertFalse(aln.in_band)
        self.assertEqual(fields(aln), ("ACGTAC", "----AC", be.NEG_INF, 2, 0, 4))


@requires("nw_global", "nw_banded")
class Misuse(unittest.TestCase):
    def test_bad_arguments_raise(self):
        with self.assertRaises(ValueError):
            be.nw_banded("ACGT", "ACGT", -1)
        with self.assertRaises(TypeError):
            be.nw_banded("ACGT", "ACGT", 1.5)
        with self.assertRaises(TypeError):
            be.nw_global(1234, "ACGT")
        with self.assertRaises(TypeError):
            be.nw_global("ACGT", "ACGT", match="2")
        with self.assertRaises(ValueError):
            be.nw_global(bytes([0, 1, 99]), b"\x00")
        with self.assertRaises(ValueError):
            be.nw_global(bytes([0, 1, 9]), b"\x00", decode=b"ACGT")
        with self.assertRaises(ValueError):
            be.nw_global("ACGT", "ACGT", match=2**30)
        with self.assertRaises(ValueError):
            be.nw_banded("A" * 600, "A" * 600, 4, match=2**20)
        with self.assertRaises(ValueError):
            be.nw_global("ACGT", "ACGT", match=2**31)

    def test_results_are_frozen(self):
        aln = be.nw_global("ACGT", "AGT")
        with self.assertRaises(AttributeError):
            aln.score = 3  # type: ignore[misc]


if __name__ == "__main__":
    unittest.main()
