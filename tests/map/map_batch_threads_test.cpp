#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <random>
#include <vector>

#include "map/mapping_model.h"
#include "support/allocation_failure.h"

namespace {

using namespace map_test;

// Reads laid out back to back with their offset tables, and the output
// areas of one batch call (filled with markers so untouched bytes show).
struct Batch {
    std::vector<Codes> reads;
    std::vector<std::uint8_t> seqs;
    std::vector<std::int64_t> seq_offs;
    std::vector<std::int64_t> cigar_offs;
    std::int32_t max_hits = 3;
    double min_score = 0.0;

    std::int32_t n_reads() const { return static_cast<std::int32_t>(reads.size()); }
    std::int32_t region_cap(std::int32_t i) const {
        return static_cast<std::int32_t>(cigar_offs[i + 1] - cigar_offs[i]);
    }
};

struct BatchOutput {
    std::int32_t result = 0;
    std::vector<bio_map_hit_t> hits;
    std::vector<std::int32_t> n_hits;
    std::vector<char> cigar;
};

inline constexpr std::int32_t COUNT_MARK = -7;

// seq_base and cigar_base put the first read and region away from offset 0,
// so offsets are not mistaken for positions within a region.
Batch make_batch(std::vector<Codes> reads, std::mt19937_64 &rng, std::int64_t seq_base,
                 std::int64_t cigar_base) {
    Batch b;
    b.reads = std::move(reads);
    b.seqs.assign(static_cast<std::size_t>(seq_base), 0);
    b.seq_offs.push_back(seq_base);
    b.cigar_offs.push_back(cigar_base);
    const std::int64_t sizes[] = {0, 5, 15, 16, 17, 30, 60, 200, 4000};
    for (const Codes &r : b.reads) {
        b.seqs.insert(b.seqs.end(), r.begin(), r.end());
        b.seq_offs.push_back(static_cast<std::int64_t>(b.seqs.size()));
        b.cigar_offs.push_back(b.cigar_offs.back() + sizes[rng() % 9]);
    }
    return b;
}

BatchOutput fresh_batch_output(const Batch &b) {
    BatchOutput out;
    const std::size_t slots =
        static_cast<std::size_t>(b.n_reads()) * static_cast<std::size_t>(std::max(b.max_hits, 0));
    out.hits.resize(slots + 1);
    std::memset(static_cast<void *>(out.hits.data()), HIT_MARK,
                out.hits.size() * sizeof(bio_map_hit_t));
    out.n_hits.assign(static_cast<std::size_t>(b.n_reads()) + 1, COUNT_MARK);
    out.cigar.assign(static_cast<std::size_t>(b.cigar_offs.back()) + 16, CIGAR_MARK);
    return out;
}

BatchOutput run_batch(const bio_index_t *idx, const Batch &b, std::int32_t n_threads) {
    BatchOutput out = fresh_batch_output(b);
    out.result = bio_map_batch(idx, b.seqs.data(), b.seq_offs.data(), b.n_reads(), b.max_hits,
                               out.hits.data(), b.min_score, out.n_hits.data(), out.cigar.data(),
                               b.cigar_offs.data(), n_threads);
    return out;
}

// What the batch must equal: every read mapped on its own by bio_map_read
// into its slots and region, offsets made absolute.
BatchOutput one_by_one(const bio_index_t *idx, const Batch &b) {
    BatchOutput out = fresh_batch_output(b);
    for (std::int32_t i = 0; i < b.n_reads(); ++i) {
        bio_map_hit_t *block = out.hits.data() + static_cast<std::size_t>(i) * b.max_hits;
        const std::int32_t n = bio_map_read(
            idx, b.seqs.data() + b.seq_offs[i], static_cast<std::int32_t>(b.reads[i].size()),
            b.max_hits, block, b.max_hits, b.min_score, out.cigar.data() + b.cigar_offs[i],
            b.region_cap(i));
        for (std::int32_t j = 0; j < n; ++j) block[j].cigar_off += static_cast<std::int32_t>(b.cigar_offs[i]);
        out.n_hits[i] = std::max(n, 0);
        if (n < 0) out.result = -1;
    }
    return out;
}

void expect_same_batch(const BatchOutput &got, const BatchOutput &want) {
    ASSERT_EQ(got.result, want.result);
    ASSERT_EQ(got.n_hits, want.n_hits);
    ASSERT_EQ(got.hits.size(), want.hits.size());
    for (std::size_t s = 0; s < got.hits.size(); ++s)
        ASSERT_EQ(std::memcmp(&got.hits[s], &want.hits[s], sizeof(bio_map_hit_t)), 0)
            << "slot " << s << ": " << describe(got.hits[s]) << " vs " << describe(want.hits[s]);
    ASSERT_EQ(got.cigar, want.cigar);
}

class MapBatch : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 rng(555);
        ref = repetitive_reference(rng);
        while (ref.codes.size() < 6000) ref = repetitive_reference(rng);
        idx = build_index(ref, 15, 10);
        ASSERT_NE(idx, nullptr);
    }

    std::vector<Codes> reads(std::mt19937_64 &rng, int n) {
        std::vector<Codes> out;
        for (int i = 0; i < n; ++i) out.push_back(random_read(rng, ref, 15));
        return out;
    }

    Reference ref;
    IndexPtr idx;
};

TEST_F(MapBatch, EqualsOneReadAtATimeForAnyThreadCount) {
    std::mt19937_64 rng(1);
    for (const std::int32_t max_hits : {1, 3, 6}) {
        Batch b = make_batch(reads(rng, 300), rng, 17, 9);
        b.max_hits = max_hits;
        const BatchOutput want = one_by_one(idx.get(), b);
        int hits = 0;
        for (std::int32_t i = 0; i < b.n_reads(); ++i) hits += want.n_hits[i];
        EXPECT_GT(hits, 100);
        for (const std::int32_t threads : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << "max_hits " << max_hits << " threads " << threads);
            ASSERT_NO_FATAL_FAILURE(expect_same_batch(run_batch(idx.get(), b, threads), want));
        }
    }
}

TEST_F(MapBatch, CigarOffsetsCountFromTheStartOfTheWholeBuffer) {
    std::mt19937_64 rng(2);
    Batch b = make_batch(reads(rng, 64), rng, 0, 1000);
    const BatchOutput out = run_batch(idx.get(), b, 2);
    ASSERT_EQ(out.result, 0);
    for (std::int32_t i = 0; i < b.n_reads(); ++i)
        for (std::int32_t j = 0; j < out.n_hits[i]; ++j) {
            const bio_map_hit_t &h = out.hits[static_cast<std::size_t>(i) * b.max_hits + j];
            if (h.cigar_len == 0) continue;
            EXPECT_GE(h.cigar_off, b.cigar_offs[i]);
            EXPECT_LE(h.cigar_off + h.cigar_len + 1, b.cigar_offs[i + 1]);
        }
}

TEST_F(MapBatch, SmallCigarRegionsGiveHitsWithoutCigar) {
    std::mt19937_64 rng(3);
    Batch b = make_batch(reads(rng, 40), rng, 0, 0);
    for (std::size_t i = 0; i < b.cigar_offs.size(); ++i)
        b.cigar_offs[i] = static_cast<std::int64_t>(i) * 15;
    const BatchOutput out = run_batch(idx.get(), b, 2);
    ASSERT_EQ(out.result, 0);
    int hits = 0;
    for (std::int32_t i = 0; i < b.n_reads(); ++i)
        for (std::int32_t j = 0; j < out.n_hits[i]; ++j, ++hits)
            EXPECT_EQ(out.hits[static_cast<std::size_t>(i) * b.max_hits + j].cigar_len, 0);
    EXPECT_GT(hits, 10);
    for (const char c : out.cigar) EXPECT_EQ(c, CIGAR_MARK);
}

TEST_F(MapBatch, OneSlotPerReadAlignsOnlyTheBestChain) {
    std::mt19937_64 rng(4);
    Batch b = make_batch(reads(rng, 100), rng, 0, 0);
    b.max_hits = 1;
    const BatchOutput out = run_batch(idx.get(), b, 2);
    ASSERT_EQ(out.result, 0);
    for (std::int32_t i = 0; i < b.n_reads(); ++i) {
        if (out.n_hits[i] == 1) {
            EXPECT_EQ(out.hits[i].mapq, 60);
        }
    }
}

TEST_F(MapBatch, NoSlotsGiveCountsOfZeroAndTouchNoHit) {
    std::mt19937_64 rng(5);
    for (const std::int32_t max_hits : {0, -1, -1000000}) {
        Batch b = make_batch(reads(rng, 50), rng, 0, 0);
        b.max_hits = max_hits;
        const BatchOutput out = run_batch(idx.get(), b, 2);
        EXPECT_EQ(out.result, 0);
        for (std::int32_t i = 0; i < b.n_reads(); ++i) EXPECT_EQ(out.n_hits[i], 0);
        ASSERT_EQ(out.hits.size(), 1u);
        EXPECT_TRUE(untouched(out.hits[0]));
    }
}

TEST_F(MapBatch, ShortReadsGetCountZero) {
    std::mt19937_64 rng(6);
    const Batch b = make_batch({Codes{}, random_codes(rng, 14), Codes(ref.codes.begin(), ref.codes.begin() + 14)}, rng, 0, 0);
    const BatchOutput out = run_batch(idx.get(), b, 2);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.n_hits, (std::vector<std::int32_t>{0, 0, 0, COUNT_MARK}));
}

TEST_F(MapBatch, EmptyBatchStillSetsTheThreadCount) {
    std::mt19937_64 rng(7);
    const Batch b = make_batch({}, rng, 0, 0);
    EXPECT_EQ(run_batch(idx.get(), b, 3).result, 0);
    EXPECT_EQ(omp_get_max_threads(), 3);
    EXPECT_EQ(run_batch(idx.get(), b, 0).result, 0);
    EXPECT_EQ(omp_get_max_threads(), omp_get_num_procs());
    std::int32_t n_hits = COUNT_MARK;
    const std::int64_t offs[] = {0};
    EXPECT_EQ(bio_map_batch(idx.get(), nullptr, offs, -4, 3, nullptr, 0.0, &n_hits, nullptr, offs,
                            2),
              0);
    EXPECT_EQ(n_hits, COUNT_MARK);
}

TEST_F(MapBatch, NullIndexWritesNothing) {
    std::mt19937_64 rng(8);
    const Batch b = make_batch(reads(rng, 5), rng, 0, 0);
    const BatchOutput out = run_batch(nullptr, b, 2);
    EXPECT_EQ(out.result, -1);
    for (const std::int32_t n : out.n_hits) EXPECT_EQ(n, COUNT_MARK);
    for (const auto &h : out.hits) EXPECT_TRUE(untouched(h));
}

// One reservation failing somewhere in the batch: the read it belongs to
// has count 0 and the flag is raised (or, in an alignment kernel, that read
// loses one hit); every other read is complete.
TEST_F(MapBatch, AReadOutOfMemoryIsReportedAndTheRestIsComplete) {
    std::mt19937_64 rng(9);
    std::vector<Codes> rs;
    while (rs.size() < 5) {
        Codes r = random_read(rng, ref, 15);
        MapArgs args;
        if (library_map(idx.get(), r, args).result > 0) rs.push_back(r);
    }
    Batch b = make_batch(rs, rng, 0, 0);
    for (std::size_t i = 0; i < b.cigar_offs.size(); ++i)
        b.cigar_offs[i] = static_cast<std::int64_t>(i) * 4000;
    const BatchOutput want = one_by_one(idx.get(), b);
    const long total = engine_test::count_allocations([&] { run_batch(idx.get(), b, 1); });
    const long baseline = engine::testing::live_allocations();
    int reported = 0;
    for (long n = 1; n <= total; ++n) {
        SCOPED_TRACE(testing::Message() << "reservation " << n << " of " << total);
        BatchOutput got;
        {
            engine_test::FailNthAllocation guard(n);
            got = run_batch(idx.get(), b, 1);
            EXPECT_TRUE(guard.failed());
        }
        EXPECT_EQ(engine::testing::live_allocations(), baseline);
        std::vector<std::int32_t> differing;
        for (std::int32_t i = 0; i < b.n_reads(); ++i)
            if (got.n_hits[i] != want.n_hits[i]) differing.push_back(i);
        ASSERT_EQ(differing.size(), 1u);
        const std::int32_t bad = differing[0];
        if (got.result == -1) {
            ++reported;
            EXPECT_EQ(got.n_hits[bad], 0);
        } else {
            EXPECT_EQ(got.n_hits[bad], want.n_hits[bad] - 1);
        }
        for (std::int32_t i = 0; i < b.n_reads(); ++i) {
            if (i == bad) continue;
            for (std::int32_t j = 0; j < want.n_hits[i]; ++j) {
                const std::size_t s = static_cast<std::size_t>(i) * b.max_hits + j;
                EXPECT_TRUE(same_hit(got.hits[s], want.hits[s]));
            }
        }
    }
    EXPECT_GT(reported, 10);
}

}  // namespace
