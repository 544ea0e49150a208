"""Minimizers, chaining, the index handle and read mapping."""

import random
import threading
import unittest

from support import mutate, random_dna, requires

import bioengine as be
from bioengine import _lib

INDEX = ("bio_index_build", "bio_index_free", "bio_index_n_minimizers")
MAPPING = INDEX + ("bio_map_read", "bio_map_batch")


def hash64(x: int, k: int) -> int:
    """The k-mer hash, cut to 2k bits, step by step."""
    m = (1 << (2 * k)) - 1
    x = ((x << 21) - x - 1) & m
    x ^= x >> 24
    x = (x * 265) & m
    x ^= x >> 14
    x = (x * 21) & m
    x ^= x >> 28
    return (x + (x << 31)) & m


def minimizers_model(codes: bytes, k: int, w: int):
    """Rescanning (w,k)-minimizer selection with leftmost ties."""
    n = len(codes) - k + 1
    if n <= 0:
        return []
    invalid = (1 << 64) - 1
    values, strands = [], []
    for i in range(n):
        kmer = codes[i:i + k]
        if any(c > 3 for c in kmer):
            values.append(invalid)
            strands.append(0)
            continue
        fwd = rev = 0
        for c in kmer:
            fwd = (fwd << 2) | c
        for c in reversed(kmer):
            rev = (rev << 2) | (3 - c)
        hf, hr = hash64(fwd, k), hash64(rev, k)
        values.append(hr if hr < hf else hf)
        strands.append(1 if hr < hf else 0)
    out, last = [], -1
    for s in range(max(n - w + 1, 1)):
        window = range(s, min(s + w, n))
        j = min(window, key=lambda p: (values[p], p))
        if values[j] != invalid and j != last:
            out.append(be.Minimizer(values[j], j, strands[j]))
            last = j
    return out


@requires("bio_minimizers")
class Minimizers(unittest.TestCase):
    def test_documented_cases(self):
        self.assertEqual(be.minimizers("ACGTACGTAC", 3, 2),
                         [(20, 0, 1), (7, 2, 0), (7, 3, 1), (20, 4, 1), (7, 6, 0)])
        self.assertEqual(be.minimizers("GATTACA", 4, 10), [(7, 3, 1)])
        self.assertEqual([m.pos for m in be.minimizers("AAAAAA", 2, 3)], [0, 1, 2])
        self.assertEqual(be.minimizers("ACG", 4, 1), [])

    def test_against_model(self):
        rng = random.Random(31)
        for _ in range(150):
            text = random_dna(rng, rng.randint(0, 120), "ACGTACGTN")
            k, w = rng.randint(1, 32), rng.randint(1, 12)
            with self.subTest(text=text, k=k, w=w):
                self.assertEqual(be.minimizers(text, k, w),
                                 minimizers_model(be.encode(text), k, w))

    def test_misuse(self):
        for k, w in ((0, 5), (33, 5), (15, 0), (-1, 3)):
            with self.assertRaises(ValueError):
                be.minimizers("ACGTACGT", k, w)
        with self.assertRaises(TypeError):
            be.minimizers("ACGT", "3", 2)
        with self.assertRaises(TypeError):
            be.minimizers(None, 3, 2)


def chain_dp_model(x, y, k, max_dist, max_lookback, gap_scale):
    """The chaining recurrence, anchor by anchor, nearest predecessor first."""
    import math
    f, prev = [], []
    for i in range(len(x)):
        best, best_j = float(k), -1
        for j in range(i - 1, max(0, i - max_lookback) - 1, -1):
            dx = x[i] - x[j]
            if dx > max_dist:
                break
            dy = y[i] - y[j]
            if not (dx > 0 and dy > 0 and dy <= max_dist):
                continue
            g = abs(dx - dy)
            cost = gap_scale * g + 0.5 * math.log2(g) if g > 0 else 0.0
            candidate = f[j] + min(dx, dy, k) - cost
            if candidate > best:
                best, best_j = candidate, j
        f.append(best)
        prev.append(best_j)
    return f, prev


@requires("bio_chain_dp")
class Chaining(unittest.TestCase):
    def test_against_model(self):
        rng = random.Random(61)
        for _ in range(200):
            n = rng.randint(0, 80)
            x = sorted(rng.randrange(0, 3000) for _ in range(n))
            y = [v + rng.randint(-40, 40) for v in x]
            k, lookback = rng.randint(5, 20), rng.randint(0, 20)
            max_dist = rng.choice([50, 500, 5000])
            scale = 0.01 * k
            with self.subTest(n=n, k=k, max_dist=max_dist, lookback=lookback):
                self.assertEqual(be.chain_dp(x, y, k, max_dist, lookback, scale),
                                 chain_dp_model(x, y, k, max_dist, lookback, scale))

    def test_documented_cases(self):
        f, prev = be.chain_dp([100, 110], [0, 10], 15, gap_scale=0.15)
        self.assertEqual((f, prev), ([15.0, 25.0], [-1, 0]))
        f, prev = be.chain_dp([100, 120], [0, 10], 15, gap_scale=0.15)
        self.assertAlmostEqual(f[1], 15 + 10 - (10 * 0.15 + 0.5 * 3.321928094887362))
        self.assertEqual(prev, [-1, 0])
        f, prev = be.chain_dp([100, 100, 110], [0, 5, 10], 15, gap_scale=0.15)
        self.assertEqual((f[1], prev), (15.0, [-1, -1, 0]))
        self.assertEqual(be.chain_dp([], [], 15), ([], []))

    def test_misuse(self):
        with self.assertRaises(ValueError):
            be.chain_dp([1, 2], [1], 15)
        with self.assertRaises(ValueError):
            be.chain_dp([5, 1], [1, 2], 15)
        with self.assertRaises(TypeError):
            be.chain_dp([1.5], [1], 15)


def reference(rng: random.Random):
    return [random_dna(rng, 5000), random_dna(rng, 3000)]


def sample_reads(rng: random.Random, refs, count: int):
    reads = []
    for _ in range(count):
        ref = rng.choice(refs)
        start = rng.randrange(0, len(ref) - 600)
        read = mutate(rng, ref[start:start + rng.randint(150, 600)], 0.02)
        if rng.random() < 0.5:
            read = be.decode(be.reverse_complement(be.encode(read)))
        reads.append(read)
    reads += ["ACGT" * 3, "", random_dna(rng, 400)]
    return reads


@requires(*INDEX, "bio_minimizers")
class IndexHandle(unittest.TestCase):
    def test_counts_every_minimizer_without_limit(self):
        rng = random.Random(41)
        seq = random_dna(rng, 4000)
        with be.Index(seq, k=15, w=10, max_occ=0) as index:
            self.assertEqual(index.n_minimizers, len(be.minimizers(seq, 15, 10)))
        with be.Index("ACGT" * 500, k=4, w=1, max_occ=1) as index:
            self.assertEqual(index.n_minimizers, 0)
        with be.Index("ACG", k=15) as index:
            self.assertEqual(index.n_minimizers, 0)

    def test_freed_exactly_once_and_unusable_after(self):
        frees = []
        real_free = _lib.function("bio_index_free")
        _lib._functions["bio_index_free"] = lambda h: (frees.append(h), real_free(h))
        try:
            with be.Index("ACGT" * 100, k=5, w=3) as index:
                pass
            index.close()
            del index
            other = be.Index("ACGT" * 100, k=5, w=3)
            del other
        finally:
            _lib._functions["bio_index_free"] = real_free
        self.assertEqual(len(frees), 2)
        self.assertTrue(all(frees))
        index = be.Index("ACGT" * 100, k=5, w=3)
        index.close()
        self.assertTrue(index.closed)
        with self.assertRaises(ValueError):
            index.n_minimizers
        with self.assertRaises(ValueError):
            index.map("ACGTACGTACGTACGTACGT")
        with self.assertRaises(ValueError):
            index.map_batch(["ACGTACGTACGTACGTACGT"])

    def test_misuse(self):
        for kwargs in ({"k": 0}, {"k": 33}, {"w": 0}, {"max_occ": 2**31}):
            with self.assertRaises(ValueError):
                be.Index("ACGT" * 10, **kwargs)
        with self.assertRaises(TypeError):
            be.Index("ACGT" * 10, k="15")
        with self.assertRaises(ValueError):
            be.Index([])
        with self.assertRaises(ValueError):
            be.Index(["ACGT", "ACGT"], names=["one"])
        with self.assertRaises(ValueError):
            be.Index(bytes([0, 1, 2, 77]))


@requires(*MAPPING, "bio_minimizers")
class Mapping(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rng = random.Random(51)
        cls.refs = reference(rng)
        cls.reads = sample_reads(rng, cls.refs, 60)
        cls.index = be.Index(cls.refs, names=["chrA", "chrB"])

    @classmethod
    def tearDownClass(cls):
        cls.index.close()

    def test_exact_read_maps_to_its_place(self):
        read = self.refs[1][1000:1400]
        (hit, *_) = self.index.map(read)
        self.assertEqual((hit.strand, hit.ref_id, self.index.ref_name(hit)), (0, 1, "chrB"))
        self.assertEqual((self.index.local_start(hit), hit.query_start, hit.query_end),
                         (1000, 0, 400))
        self.assertEqual((hit.identity, hit.mapq, hit.cigar), (1.0, 60, "400M"))
        (rev, *_) = self.index.map(be.reverse_complement(be.encode(read)))
        self.assertEqual((rev.strand, rev.ref_start, rev.query_start, rev.query_end),
                         (1, hit.ref_start, 0, 400))

    def test_hits_are_consistent(self):
        for read in self.reads:
            for hit in self.index.map(read):
                ops = {op: 0 for op in "MID"}
                number = ""
                for ch in hit.cigar:
                    if ch.isdigit():
                        number += ch
                    else:
                        ops[ch] += int(number)
                        number = ""
                self.assertEqual(ops["M"] + ops["I"] + ops["D"], hit.aln_len)
                self.assertEqual(ops["M"] + ops["I"], hit.query_end - hit.query_start)
                self.assertEqual(ops["M"] + ops["D"], hit.ref_end - hit.ref_start)
                self.assertEqual(hit.cigar_len, len(hit.cigar))
                self.assertAlmostEqual(hit.identity, hit.n_match / hit.aln_len)

    def test_batch_equals_single_reads_for_any_thread_count(self):
        single = [self.index.map(read) for read in self.reads]
        self.assertTrue(any(single))
        for threads in (1, 2, 0):
            batch = self.index.map_batch(self.reads, threads=threads)
            strip = [[(h.ref_start, h.ref_end, h.query_start, h.query_end, h.strand, h.n_match,
                       h.aln_len, h.mapq, h.ref_id, h.chain_score, h.identity, h.cigar)
                      for h in hits] for hits in batch]
            expected = [[(h.ref_start, h.ref_end, h.query_start, h.query_end, h.strand, h.n_match,
                          h.aln_len, h.mapq, h.ref_id, h.chain_score, h.identity, h.cigar)
                         for h in hits] for hits in single]
            self.assertEqual(strip, expected)
        self.assertEqual(self.index.map_batch([]), [])

    def test_python_threads_map_concurrently(self):
        expected = [self.index.map(read) for read in self.reads]
        results = {}
        errors = []
        barrier = threading.Barrier(4)

        def work(worker: int) -> None:
            try:
                barrier.wait()
                order = list(range(len(self.reads)))
                random.Random(worker).shuffle(order)
                got = {i: self.index.map(self.reads[i]) for i in order}
                got_batch = self.index.map_batch(self.reads, threads=1)
                results[worker] = ([got[i] for i in range(len(self.reads))], got_batch)
            except Exception as error:  # surfaced below
                errors.append(error)

        threads = [threading.Thread(target=work, args=(w,)) for w in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        for single, batch in results.values():
            self.assertEqual(single, expected)
            self.assertEqual([[h.cigar for h in hs] for hs in batch],
                             [[h.cigar for h in hs] for hs in expected])

    def test_close_waits_for_running_mappings(self):
        index = be.Index(self.refs)
        started, release = threading.Event(), threading.Event()
        real_map = _lib.function("bio_map_read")

        def slow_map(*args):
            started.set()
            release.wait()
            return real_map(*args)

        _lib._functions["bio_map_read"] = slow_map
        try:
            result = []
            worker = threading.Thread(target=lambda: result.append(index.map(self.reads[0])))
            worker.start()
            started.wait()
            index.close()
            with self.assertRaises(ValueError):
                index.map(self.reads[0])
            self.assertIsNotNone(index._handle)
            release.set()
            worker.join()
        finally:
            _lib._functions["bio_map_read"] = real_map
        self.assertIsNone(index._handle)
        self.assertEqual(result[0], self.index.map(self.reads[0]))

    def test_misuse(self):
        with self.assertRaises(ValueError):
            self.index.map("ACGT", max_hits=0)
        with self.assertRaises(ValueError):
            self.index.map("ACGT", max_hits=-3)
        with self.assertRaises(TypeError):
            self.index.map(1234)
        with self.assertRaises(TypeError):
            self.index.map("ACGT", min_score="high")
        with self.assertRaises(ValueError):
            self.index.map(bytes([0, 1, 2, 200]))
        with self.assertRaises(ValueError):
            self.index.map_batch(["ACGT"], threads=-1)
        with self.assertRaises(TypeError):
            self.index.map_batch(["ACGT", None])
        self.assertEqual(self.index.map("ACG"), [])


if __name__ == "__main__":
    unittest.main()
