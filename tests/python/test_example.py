"""Mapping the bundled example through the binding gives exactly the hits of
the command-line tool's PAF output."""

import subprocess
import unittest

from support import ROOT, requires, tool_path

import bioengine as be

REF = ROOT / "examples" / "ref.fa"
READS = ROOT / "examples" / "reads.fq"


@requires("bio_index_build", "bio_map_batch", "bio_map_read", "bio_parse_mem_parallel")
@unittest.skipUnless(tool_path(), "BIOENG does not name the command-line tool")
class BundledExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        run = subprocess.run([tool_path(), "map", "-t", "2", str(REF), str(READS)],
                             check=True, capture_output=True, text=True)
        cls.tool_lines = run.stdout.splitlines()
        with be.Reader(READS) as reader:
            cls.reads = list(reader)

    def test_batch_mapping_equals_the_tool(self):
        with be.Index.from_fasta(REF) as index:
            hits = index.map_batch(self.reads, threads=2)
            lines = [line for read, read_hits in zip(self.reads, hits)
                     for line in index.paf(read.name, len(read), read_hits)]
        self.assertGreater(len(lines), len(self.reads) // 2)
        self.assertEqual(lines, self.tool_lines)

    def test_single_read_mapping_equals_the_tool(self):
        with be.Index.from_fasta(REF) as index:
            lines = [line for read in self.reads
                     for line in index.paf(read.name, len(read), index.map(read.codes))]
        self.assertEqual(lines, self.tool_lines)


if __name__ == "__main__":
    unittest.main()
