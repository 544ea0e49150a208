"""Reader, batches and the in-memory parser on files written to a temp dir."""

import gzip
import random
import tempfile
import unittest
from pathlib import Path

from support import random_dna, requires, write_fasta, write_fastq

import bioengine as be


def phred_text(rng: random.Random, n: int) -> str:
    return "".join(chr(33 + rng.randrange(0, 42)) for _ in range(n))


def make_records(rng: random.Random, count: int, fastq: bool):
    records = []
    for i in range(count):
        seq = random_dna(rng, rng.randint(1, 300), "ACGTN")
        name = f"read{i} sample=x{rng.randrange(1000)}"
        records.append((name, seq, phred_text(rng, len(seq))) if fastq else (name, seq))
    return records


def write_records(path: Path, records, fastq: bool) -> Path:
    (write_fastq if fastq else write_fasta)(path, records)
    return path


def record_tuple(record: be.Record):
    return (record.name, record.codes, record.quals, record.is_protein)


class TempDir(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()


@requires("bio_parser_open", "bio_parser_next", "bio_parser_close")
class Records(TempDir):
    def test_fasta_round_trip(self):
        rng = random.Random(1)
        records = make_records(rng, 40, fastq=False)
        path = self.dir / "in.fa"
        write_fasta(path, records, width=50)
        with be.Reader(path) as reader:
            got = list(reader)
        self.assertEqual([(r.name, r.sequence) for r in got], records)
        self.assertTrue(all(r.quals is None for r in got))
        again = self.dir / "again.fa"
        write_fasta(again, [(r.name, r.sequence) for r in got], width=7)
        with be.Reader(again) as reader:
            self.assertEqual([record_tuple(r) for r in reader], [record_tuple(r) for r in got])

    def test_fastq_round_trip(self):
        rng = random.Random(2)
        records = make_records(rng, 40, fastq=True)
        path = self.dir / "in.fq"
        write_fastq(path, records)
        with be.Reader(path) as reader:
            got = list(reader)
        self.assertEqual([(r.name, r.sequence, r.quality_string) for r in got], records)
        self.assertEqual(got[0].quals, bytes(ord(c) - 33 for c in records[0][2]))
        again = self.dir / "again.fq"
        write_fastq(again, [(r.name, r.sequence, r.quality_string) for r in got])
        self.assertEqual(again.read_bytes(), path.read_bytes())

    def test_alphabet_choice(self):
        path = self.dir / "mixed.fa"
        write_fasta(path, [("dna", "ACGTN"), ("prot", "MKLV")])
        with be.Reader(path, protein=None) as reader:
            dna, prot = list(reader)
        self.assertEqual((dna.codes, dna.is_protein), (bytes([0, 1, 2, 3, 31]), False))
        self.assertEqual((prot.codes, prot.is_protein), (bytes([14, 12, 13, 21]), True))
        self.assertEqual(prot.sequence, "MKLV")

    def test_without_qualities(self):
        path = self.dir / "q.fq"
        write_fastq(path, [("a", "ACGT", "IIII")])
        with be.Reader(path, qualities=False) as reader:
            (record,) = list(reader)
        self.assertIsNone(record.quals)

    def test_misuse(self):
        with self.assertRaises(FileNotFoundError):
            be.Reader(self.dir / "missing.fa")
        with self.assertRaises(TypeError):
            be.Reader(42)
        with self.assertRaises(ValueError):
            be.Reader(self.dir)
        with self.assertRaises(TypeError):
            be.Reader(self.dir / "x.fa", protein="yes")
        gz = self.dir / "x.fa.gz"
        gz.write_bytes(gzip.compress(b">a\nACGT\n"))
        with self.assertRaises(ValueError):
            be.Reader(gz)
        path = self.dir / "ok.fa"
        write_fasta(path, [("a", "ACGT")])
        reader = be.Reader(path)
        reader.close()
        reader.close()
        with self.assertRaises(ValueError):
            reader.read()
        with self.assertRaises(ValueError):
            list(reader)

    def test_shared_reader_hands_each_record_out_once(self):
        import threading
        rng = random.Random(6)
        records = make_records(rng, 400, fastq=True)
        path = write_records(self.dir / "shared.fq", records, fastq=True)
        seen, lock = [], threading.Lock()
        with be.Reader(path) as reader:
            def drain() -> None:
                for record in iter(reader.read, None):
                    with lock:
                        seen.append((record.name, record.sequence, record.quality_string))
            threads = [threading.Thread(target=drain) for _ in range(4)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        self.assertEqual(sorted(seen), sorted(records))

    def test_record_longer_than_the_limit_raises(self):
        path = self.dir / "long.fa"
        write_fasta(path, [("long", "A" * 100), ("short", "ACGT")])
        with be.Reader(path, max_record_length=50) as reader:
            with self.assertRaises(be.RecordTooLongError):
                reader.read()
            self.assertEqual(reader.read().name, "short")


@requires("bio_parser_open", "bio_parser_next", "bio_parser_close")
class GilRelease(TempDir):
    def test_a_blocked_library_call_lets_other_threads_run(self):
        """The library opens a named pipe and blocks in fopen until a writer
        appears; the writer is this test's main thread, which can only get
        there if the call released the GIL. (Were it held, this deadlocks.)"""
        import ctypes
        import os
        import threading
        from bioengine import _lib
        pipe = self.dir / "pipe"
        os.mkfifo(pipe)
        got = {}

        def read_through_library() -> None:
            handle = _lib.function("bio_parser_open")(os.fsencode(pipe))
            seq, seq_len = (ctypes.c_uint8 * 16)(), ctypes.c_int32()
            got["result"] = _lib.function("bio_parser_next")(
                handle, None, 0, seq, 16, ctypes.byref(seq_len), 0, None, None, None)
            got["codes"] = bytes(seq[:seq_len.value])
            _lib.function("bio_parser_close")(handle)

        worker = threading.Thread(target=read_through_library)
        worker.start()
        with open(pipe, "w") as writer:  # rendezvous with the library's fopen
            writer.write(">r\nACGT\n")
        worker.join()
        self.assertEqual(got, {"result": 1, "codes": bytes([0, 1, 2, 3])})


@requires("bio_parser_open", "bio_parser_next", "bio_parser_next_batch", "bio_unpack5")
class Batches(TempDir):
    def test_batches_equal_single_records(self):
        rng = random.Random(3)
        for fastq in (False, True):
            path = write_records(self.dir / "b.txt", make_records(rng, 101, fastq), fastq)
            with be.Reader(path) as reader:
                singles = [record_tuple(r) for r in reader]
            for max_records, capacity in ((1, 1), (4, 1 << 20), (1000, 200)):
                with be.Reader(path) as reader:
                    batches = list(reader.batches(max_records, capacity))
                self.assertTrue(all(len(b) <= max_records for b in batches))
                flat = [record_tuple(r) for b in batches for r in b]
                self.assertEqual(flat, singles)

    def test_batch_layout(self):
        path = self.dir / "l.fq"
        write_fastq(path, [("r1", "ACGTA", "IIIII"), ("r2", "GG", "!I")])
        with be.Reader(path) as reader:
            batch = reader.read_batch(10)
            self.assertIsNone(reader.read_batch(10))
        self.assertEqual(batch.name_offs, [0, 3, 6])
        self.assertEqual(batch.packed_offs, [0, 4, 6])
        self.assertEqual(batch.packed, be.pack5(be.encode("ACGTA"))[:4] + be.pack5(b"\2\2")[:2])
        self.assertEqual(batch.qual_offs, [0, 5, 7])
        self.assertEqual(batch.quals, bytes([40] * 5 + [0, 40]))
        self.assertEqual(batch.names, ["r1", "r2"])
        self.assertEqual(batch[-1].sequence, "GG")

    def test_misuse(self):
        path = self.dir / "m.fa"
        write_fasta(path, [("a", "ACGT")])
        with be.Reader(path) as reader:
            with self.assertRaises(ValueError):
                reader.read_batch(0)
            with self.assertRaises(TypeError):
                reader.read_batch("10")
        with self.assertRaises(ValueError):
            reader.read_batch(10)


@requires("bio_parse_mem_parallel", "bio_parser_open", "bio_parser_next", "bio_unpack5")
class InMemory(TempDir):
    def test_equals_reader_on_the_same_file(self):
        rng = random.Random(4)
        for fastq in (False, True):
            path = write_records(self.dir / "p.txt", make_records(rng, 333, fastq), fastq)
            with be.Reader(path) as reader:
                expected = [record_tuple(r) for r in reader]
            text = path.read_bytes()
            for threads in (1, 2, 7, 64):
                batch = be.parse_mem(text, threads=threads)
                self.assertEqual([record_tuple(r) for r in batch], expected)

    def test_formats_and_edges(self):
        self.assertEqual(len(be.parse_mem(b"")), 0)
        batch = be.parse_mem(">a\nAC\n;x\n>b\nGT", fmt="fasta")
        self.assertEqual([r.codes for r in batch], [bytes([0, 1, 31, 31]), bytes([2, 3])])
        batch = be.parse_mem("@r\nACGT\n+\nII\n", fmt="fastq")
        self.assertEqual(batch[0].quals, bytes([40, 40, 0, 0]))
        long_name = "n" * 10000
        self.assertEqual(be.parse_mem(f">{long_name}\nA\n")[0].name, long_name)

    def test_misuse(self):
        with self.assertRaises(ValueError):
            be.parse_mem(">a\nA\n", fmt="sam")
        with self.assertRaises(ValueError):
            be.parse_mem(">a\nA\n", threads=0)
        with self.assertRaises(TypeError):
            be.parse_mem(1234)
        with self.assertRaises(TypeError):
            be.parse_mem(">a\nA\n", protein=2)


if __name__ == "__main__":
    unittest.main()
