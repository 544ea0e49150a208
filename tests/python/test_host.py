"""The host-layer binding against the command-line tool: the same files give
the same PAF and SAM bytes, the same statistics and the same errors."""

import gzip
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from support import ROOT, requires, tool_path

import bioengine as be

sys.path.insert(0, str(ROOT / "tests" / "tools"))
from tool_checks import write_bgzf  # noqa: E402

REF = ROOT / "examples" / "ref.fa"
READS = ROOT / "examples" / "reads.fq"


def tool(*args):
    return subprocess.run([tool_path(), *map(str, args)], capture_output=True)


@requires()
@unittest.skipUnless(tool_path(), "BIOENG does not name the command-line tool")
class SameAsTheTool(unittest.TestCase):
    def test_paf_and_sam_bytes_for_any_thread_count(self):
        for threads in (1, 2):
            for sam in (False, True):
                args = ["map", "-t", threads] + (["-a"] if sam else []) + [REF, READS]
                want = tool(*args).stdout.decode()
                with be.Mapper(REF, threads=threads, sam=sam) as mapper:
                    got = "".join(mapper.map_file(READS, batch_bytes=50_000))
                    if sam:
                        got = mapper.sam_header(" ".join(["bioeng"] + list(map(str, args)))) + got
                self.assertEqual(got, want, f"threads={threads} sam={sam}")

    def test_alignment_options_give_the_tools_bytes(self):
        cases = [({"cs": True}, ["--cs"]), ({"raw_hits": True}, ["--raw-hits"]),
                 ({"secondaries": False}, ["--secondary=no"]),
                 ({"secondary_ratio": 0.3}, ["--secondary-ratio", "0.3"]),
                 ({"sam": True, "md": True}, ["-a", "--MD"])]
        for options, flags in cases:
            args = ["map", *flags, REF, READS]
            want = tool(*args).stdout.decode()
            with be.Mapper(REF, **options) as mapper:
                got = "".join(mapper.map_file(READS))
                if options.get("sam"):
                    got = mapper.sam_header(" ".join(["bioeng"] + list(map(str, args)))) + got
            self.assertEqual(got, want, str(options))

    def test_compressed_inputs_give_the_records_and_stats_of_the_plain_text(self):
        plain = be.read_records(READS)
        with tempfile.TemporaryDirectory() as tmp:
            gz, bgz = Path(tmp) / "reads.fq.gz", Path(tmp) / "reads.bgz"
            gz.write_bytes(gzip.compress(READS.read_bytes()))
            write_bgzf(READS.read_bytes(), str(bgz))
            for path, kind in ((gz, "gzip"), (bgz, "bgzf")):
                self.assertEqual(be.read_records(path), plain)
                row = be.summary(path)
                self.assertEqual(row + "\n", tool("stats", path).stdout.decode().splitlines(True)[1])
                self.assertEqual(row.split("\t")[2], kind)

    def test_bad_files_give_the_tools_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            d = Path(tmp)
            cases = {
                "missing.fq": None,
                "empty.fq": b"",
                "binary.fq": b"@r\nAC\x00GT\n+\nIIII\n",
                "truncated.fq": b"@r\nACGT\n+\nIIII\n@s\nACGT\n",
                "mismatch.fq": b"@r\nACGT\n+\nII\n",
                "corrupt.fq.gz": gzip.compress(b"@r\nACGT\n+\nIIII\n")[:-6] + b"xxxxxx",
            }
            for name, data in cases.items():
                path = d / name
                if data is not None:
                    path.write_bytes(data)
                err = tool("stats", path).stderr.decode().strip()
                self.assertTrue(err.startswith("bioeng stats: "), err)
                with self.assertRaises(be.InputError) as caught:
                    be.read_records(path)
                self.assertEqual(str(caught.exception), err[len("bioeng stats: "):], name)
                with self.assertRaises(be.InputError):
                    list(be.Mapper(REF).map_file(path))


@requires()
class Marshalling(unittest.TestCase):
    def test_records_options_and_misuse(self):
        records = be.read_records(READS)
        self.assertEqual(len(records[0].quals), len(records[0].codes))
        with tempfile.TemporaryDirectory() as tmp:
            fa = Path(tmp) / "e.fa"
            fa.write_bytes(b">e1 x\n>a\nACGT\n")
            self.assertEqual([r.name for r in be.read_records(fa)], ["a"])
            kept = be.read_records(fa, keep_empty=True)
            self.assertEqual([(r.name, r.codes) for r in kept], [("e1 x", b""), ("a", b"\0\1\2\3")])
        with self.assertRaises(ValueError):
            be.SeqFile(READS, batch_bytes=10)
        with self.assertRaises(TypeError):
            be.SeqFile(42)
        with self.assertRaises(ValueError):
            be.Mapper(REF, min_score=float("nan"))
        with be.Mapper(REF) as mapper:
            self.assertEqual(mapper.n_refs, len(be.read_records(REF)))
        with self.assertRaises(ValueError):
            mapper.sam_header()

    def test_index_from_a_compressed_reference(self):
        with tempfile.TemporaryDirectory() as tmp:
            gz = Path(tmp) / "ref.fa.gz"
            gz.write_bytes(gzip.compress(REF.read_bytes()))
            with be.Index.from_fasta(REF) as plain, be.Index.from_fasta(gz) as packed:
                self.assertEqual(plain.names, packed.names)
                self.assertEqual(plain.n_minimizers, packed.n_minimizers)


if __name__ == "__main__":
    unittest.main()
