"""The Aligner API: hits equal to the tool's records, the reference from a
file or from sequences, presets, letters against codes, misuse; and where
alignments start and end."""

import random
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

from support import ROOT, random_dna, requires, tool_path, write_fasta

import bioengine as be

REF = ROOT / "examples" / "ref.fa"
READS = ROOT / "examples" / "reads.fq"


def example_reads():
    return [(r.name.split()[0], r) for r in be.read_records(READS)]


@requires()
class AlignerHits(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.aligner = be.Aligner(REF, threads=2)
        cls.reads = example_reads()

    @classmethod
    def tearDownClass(cls):
        cls.aligner.close()

    @unittest.skipUnless(tool_path(), "BIOENG does not name the command-line tool")
    def test_preset_as_the_tool(self):
        want = subprocess.run([tool_path(), "map", "-x", "map-pb", "-t", "1", REF, READS],
                              capture_output=True, check=True).stdout.decode()
        with be.Aligner(REF, preset="map-pb") as aligner:
            got = "".join(h.paf_line(read.name, read.length) + "\n"
                          for read in aligner.map_file(READS) for h in read.hits)
        self.assertEqual(got, want)

    @unittest.skipUnless(tool_path(), "BIOENG does not name the command-line tool")
    def test_hits_print_the_tools_paf(self):
        want = subprocess.run([tool_path(), "map", "-t", "2", "--cs", REF, READS],
                              capture_output=True, check=True).stdout.decode()
        with be.Aligner(REF, threads=2, cs=True) as aligner:
            one = "".join(h.paf_line(name, len(r.codes)) + "\n"
                          for name, r in self.reads for h in aligner.map(r.sequence, name))
            by_file = "".join(h.paf_line(read.name, read.length) + "\n"
                              for read in aligner.map_file(READS) for h in read.hits)
        self.assertEqual(one, want)
        self.assertEqual(by_file, want)

    def test_fields_flags_and_equality(self):
        sizes = dict(zip(self.aligner.seq_names,
                         map(self.aligner.seq_length, self.aligner.seq_names)))
        for name, record in self.reads[:40]:
            hits = self.aligner.map(record.sequence, name)
            self.assertEqual(hits, self.aligner.map(record.sequence, name))
            if not hits:
                continue
            self.assertTrue(hits[0].is_primary)
            self.assertEqual(sum(h.is_primary for h in hits), 1)
            for h in hits:
                self.assertIn(h.strand, (1, -1))
                self.assertEqual(h.contig_length, sizes[h.contig])
                self.assertTrue(0 <= h.ref_start < h.ref_end <= h.contig_length)
                self.assertTrue(0 <= h.query_start < h.query_end <= len(record.codes))
                self.assertEqual(h.tag("NM"), h.nm)
                self.assertEqual(h.tag("cg"), h.cigar)
                self.assertEqual(h.tag("tp"), "S" if h.is_secondary else "P")

    def test_letters_as_str_bytes_or_codes(self):
        name, record = self.reads[0]
        want = self.aligner.map(record.sequence)
        self.assertTrue(want)
        self.assertEqual(self.aligner.map(record.sequence.encode()), want)
        self.assertEqual(self.aligner.map(bytearray(record.sequence.encode())), want)
        self.assertEqual(self.aligner.map(be.Codes(record.codes)), want)
        with self.assertRaises(ValueError):  # codes where letters are expected
            self.aligner.map(record.codes)
        self.assertEqual(self.aligner.map(""), [])

    def test_concurrent_maps_match_serial_ones(self):
        reads = [r.sequence for _, r in self.reads[:24]]
        want = [self.aligner.map(s) for s in reads]
        got = [None] * len(reads)

        def work(k):
            for i in range(k, len(reads), 3):
                got[i] = self.aligner.map(reads[i])
        threads = [threading.Thread(target=work, args=(k,)) for k in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(got, want)


@requires()
class AlignerConstruction(unittest.TestCase):
    def test_from_sequences_equals_from_file(self):
        refs = be.read_records(REF)
        names = [r.name.split()[0] for r in refs]
        reads = example_reads()[:30]
        with be.Aligner(REF) as by_file, \
                be.Aligner(seqs=[r.sequence for r in refs], names=names) as by_seqs, \
                be.Aligner(seqs=[be.Codes(r.codes) for r in refs], names=names) as by_codes:
            for name, r in reads:
                want = by_file.map(r.sequence, name)
                self.assertEqual(by_seqs.map(r.sequence, name), want)
                self.assertEqual(by_codes.map(r.sequence, name), want)

    def test_flags_agree_with_the_sam_records(self):
        rng = random.Random(11)
        ref = random_dna(rng, 20000)
        turned = ref[5000:6000][::-1].translate(str.maketrans("ACGT", "TGCA"))
        reads = {"chimera": ref[2000:3000] + ref[12000:13000],
                 "inversion": ref[2000:5000] + turned + ref[6000:9000]}
        for name, read in reads.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as work:
                write_fasta(Path(work) / "ref.fa", [("chr1", ref)])
                write_fasta(Path(work) / "read.fa", [(name, read)])
                with be.Aligner(Path(work) / "ref.fa") as aligner:
                    hits = aligner.map(read, name)
                with be.Mapper(Path(work) / "ref.fa", sam=True) as mapper:
                    sam = "".join(mapper.map_file(Path(work) / "read.fa")).splitlines()
                flags = [int(line.split("\t")[1]) for line in sam]
                self.assertEqual([bool(f & 2048) for f in flags], [h.is_supplementary for h in hits])
                self.assertEqual([bool(f & 256) for f in flags], [h.is_secondary for h in hits])
                self.assertTrue(any(h.is_supplementary for h in hits))
                self.assertEqual([h.tag("tp") for h in hits].count("I"), 1 if name == "inversion" else 0)

    def test_presets_and_overrides(self):
        self.assertEqual(set(be.presets()), {"map-ont", "map-pb", "sr"})
        rng = random.Random(7)
        ref = random_dna(rng, 3000)
        read = ref[1000:1150]
        for preset in be.presets():
            with be.Aligner(seqs=[ref], preset=preset) as aligner:
                hits = aligner.map(read)
                self.assertEqual((hits[0].ref_start, hits[0].ref_end), (1000, 1150), preset)
        sr = dict(be.presets()["sr"], k=17)
        with be.Aligner(seqs=[ref], preset="sr", k=17) as a, be.Aligner(seqs=[ref], **sr) as b:
            self.assertEqual(a.map(read), b.map(read))

    def test_misuse(self):
        with self.assertRaises(ValueError):
            be.Aligner(REF, preset="map-hifi")
        with self.assertRaises(TypeError):
            be.Aligner(REF, seqs=["ACGT"])
        with self.assertRaises(TypeError):
            be.Aligner(REF, kmer=15)
        with self.assertRaises(ValueError):
            be.Aligner(seqs=["ACGT"], names=["a", "b"])
        with self.assertRaises(be.InputError):
            be.Aligner(ROOT / "no-such-file.fa")
        aligner = be.Aligner(REF)
        with self.assertRaises(ValueError):
            aligner.map("ACGT", name="two words")
        aligner.close()
        with self.assertRaises(ValueError):
            aligner.map("ACGT")


@requires("sw_align", "nw_semiglobal")
class AlignmentSpans(unittest.TestCase):
    def test_local_alignment_located_in_both_sequences(self):
        rng = random.Random(3)
        for _ in range(30):
            a, b = random_dna(rng, rng.randrange(0, 60)), random_dna(rng, rng.randrange(0, 60))
            aln = be.sw_align(a, b)
            self.assertEqual(a[aln.a_start:aln.a_end], aln.aligned_a.replace("-", ""))
            self.assertEqual(b[aln.b_start:aln.b_end], aln.aligned_b.replace("-", ""))
        # Two equal best places: the first in the aligner's order is reported.
        aln = be.sw_align("ACGTAAAACGT", "GGACGTGG")
        self.assertEqual((aln.a_start, aln.a_end, aln.b_start, aln.b_end), (0, 4, 2, 6))

    def test_semiglobal_leaves_end_gaps_out(self):
        aln = be.nw_semiglobal("CG", "AACGTT", match=1, mismatch=-1, gap=-1)
        self.assertEqual((aln.a_start, aln.a_end, aln.b_start, aln.b_end), (0, 2, 2, 4))
        aln = be.nw_semiglobal("ACGTT", "GTTCA", match=1, mismatch=-1, gap=-1)
        self.assertEqual((aln.a_start, aln.a_end, aln.b_start, aln.b_end), (2, 5, 0, 3))


if __name__ == "__main__":
    unittest.main()
