#include "map/index.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "engine.h"
#include "support/allocation_failure.h"

namespace {

using Codes = std::vector<std::uint8_t>;

struct IndexFree {
    void operator()(bio_index_t *idx) const { bio_index_free(idx); }
};
using Index = std::unique_ptr<bio_index_t, IndexFree>;

struct Table {
    std::vector<std::int64_t> offsets, lengths;
};

Table one_sequence(std::int64_t len) { return Table{{0}, {len}}; }

Index build(const Codes &ref, int k, int w, int max_occ, const Table &table) {
    return Index(bio_index_build(ref.data(), static_cast<std::int64_t>(ref.size()), k, w, max_occ,
                                 table.offsets.data(), table.lengths.data(),
                                 static_cast<std::int32_t>(table.offsets.size())));
}

struct Entry {
    std::uint64_t hash;
    std::int64_t pos;
    std::uint8_t strand;
    auto key() const { return std::tie(hash, pos, strand); }
    bool operator==(const Entry &o) const { return key() == o.key(); }
    bool operator<(const Entry &o) const { return key() < o.key(); }
};

std::vector<Entry> minimizers_of(const Codes &seq, int k, int w) {
    const std::size_t cap = seq.size() + 1;
    std::vector<std::uint64_t> hash(cap);
    std::vector<std::int64_t> pos(cap);
    std::vector<std::uint8_t> strand(cap);
    const std::int64_t n = bio_minimizers(seq.data(), static_cast<std::int64_t>(seq.size()), k, w,
                                          hash.data(), pos.data(), strand.data());
    EXPECT_GE(n, 0);
    std::vector<Entry> out;
    for (std::int64_t i = 0; i < n; ++i) out.push_back({hash[i], pos[i], strand[i]});
    return out;
}

// Model: count each hash with a map, keep hashes within the limit, order by
// hash (and, to compare runs whose internal order is free, by position).
std::vector<Entry> model_entries(const Codes &ref, int k, int w, int max_occ) {
    const auto all = minimizers_of(ref, k, w);
    std::map<std::uint64_t, int> occurrences;
    for (const Entry &e : all) ++occurrences[e.hash];
    std::vector<Entry> kept;
    for (const Entry &e : all)
        if (max_occ <= 0 || occurrences[e.hash] <= max_occ) kept.push_back(e);
    std::sort(kept.begin(), kept.end());
    return kept;
}

std::vector<Entry> entries_of(const bio_index_t *idx) {
    std::vector<Entry> out;
    for (std::int64_t i = 0; i < idx->n_min; ++i)
        out.push_back({idx->min_hash[i], idx->min_pos[i], idx->min_strand[i]});
    return out;
}

// Entries must ascend by unsigned hash; within a run the order is free, so
// the comparison with the model sorts each run by position first.
std::vector<Entry> runs_sorted(std::vector<Entry> entries) {
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_LE(entries[i - 1].hash, entries[i].hash) << "entry " << i;
    std::sort(entries.begin(), entries.end());
    return entries;
}

Codes random_codes(std::mt19937_64 &rng, std::size_t len) {
    Codes out(len);
    for (auto &c : out) c = (rng() % 50 == 0) ? 31 : static_cast<std::uint8_t>(rng() & 3);
    return out;
}

// A random reference with some stretches copied several times, so that their
// minimizers repeat.
Codes reference_with_repeats(std::mt19937_64 &rng, std::size_t len, int max_copies) {
    Codes ref = random_codes(rng, len);
    const int families = 1 + static_cast<int>(rng() % 6);
    for (int f = 0; f < families; ++f) {
        const std::size_t unit = 20 + rng() % 80;
        if (unit >= len) continue;
        const std::size_t from = rng() % (len - unit);
        const int copies = 1 + static_cast<int>(rng() % max_copies);
        for (int c = 0; c < copies; ++c) {
            const std::size_t to = rng() % (len - unit);
            std::copy(ref.begin() + from, ref.begin() + from + unit, ref.begin() + to);
        }
    }
    return ref;
}

TEST(IndexBuild, UnlimitedIndexHoldsEveryMinimizer) {
    std::mt19937_64 rng(101);
    for (int round = 0; round < 60; ++round) {
        const int k = 1 + static_cast<int>(rng() % 32);
        const int w = 1 + static_cast<int>(rng() % 30);
        const Codes ref = reference_with_repeats(rng, 200 + rng() % 4000, 5);
        const Index idx = build(ref, k, w, 0, one_sequence(ref.size()));
        ASSERT_TRUE(idx);
        EXPECT_EQ(bio_index_n_minimizers(idx.get()),
                  static_cast<std::int64_t>(minimizers_of(ref, k, w).size()));
        EXPECT_EQ(runs_sorted(entries_of(idx.get())), model_entries(ref, k, w, 0));
        EXPECT_EQ(idx->k, k);
        EXPECT_EQ(idx->w, w);
    }
}

TEST(IndexBuild, OccurrenceLimitDropsWholeRuns) {
    std::mt19937_64 rng(202);
    for (int round = 0; round < 80; ++round) {
        const int k = 4 + static_cast<int>(rng() % 12);
        const int w = 1 + static_cast<int>(rng() % 12);
        const int max_occ = static_cast<int>(rng() % 6) - 1;
        const Codes ref = reference_with_repeats(rng, 500 + rng() % 3000, 8);
        const Index idx = build(ref, k, w, max_occ, one_sequence(ref.size()));
        ASSERT_TRUE(idx);
        const auto want = model_entries(ref, k, w, max_occ);
        EXPECT_EQ(runs_sorted(entries_of(idx.get())), want)
            << "round " << round << " k " << k << " w " << w << " max_occ " << max_occ;
        EXPECT_EQ(bio_index_n_minimizers(idx.get()), static_cast<std::int64_t>(want.size()));
    }
}

TEST(IndexBuild, LimitOfOneKeepsOnlyUniqueHashes) {
    std::mt19937_64 rng(303);
    const Codes ref = reference_with_repeats(rng, 3000, 4);
    const Index idx = build(ref, 11, 5, 1, one_sequence(ref.size()));
    ASSERT_TRUE(idx);
    const auto entries = entries_of(idx.get());
    ASSERT_FALSE(entries.empty());
    for (std::size_t i = 1; i < entries.size(); ++i) EXPECT_LT(entries[i - 1].hash, entries[i].hash);
    EXPECT_LT(entries.size(), minimizers_of(ref, 11, 5).size());
}

// References long enough to be sampled in several ranges of windows and
// many buckets give exactly the model's arrays (its order by hash and
// position is the index's: equal hashes in position order), whatever the
// number of threads.
TEST(IndexBuild, LargeReferencesEqualTheModelEntryForEntry) {
    std::mt19937_64 rng(1616);
    const int saved_threads = omp_get_max_threads();
    for (const auto &[k, w, max_occ] :
         {std::tuple{15, 10, 0}, std::tuple{32, 12, 0}, std::tuple{9, 2, 20}}) {
        const Codes ref = reference_with_repeats(rng, 2100000 + rng() % 200000, 200);
        const auto want = model_entries(ref, k, w, max_occ);
        for (int threads : {1, 3}) {
            omp_set_num_threads(threads);
            const Index idx = build(ref, k, w, max_occ, one_sequence(ref.size()));
            ASSERT_TRUE(idx);
            ASSERT_TRUE(entries_of(idx.get()) == want)
                << "k " << k << " w " << w << " max_occ " << max_occ << " threads " << threads;
        }
    }
    omp_set_num_threads(saved_threads);
}

TEST(IndexBuild, EqualHashesKeepPositionOrder) {
    std::mt19937_64 rng(405);
    const Codes ref = reference_with_repeats(rng, 6000, 8);
    const Index idx = build(ref, 8, 4, 0, one_sequence(ref.size()));
    ASSERT_TRUE(idx);
    int runs = 0;
    for (std::int64_t i = 1; i < idx->n_min; ++i) {
        if (idx->min_hash[i] != idx->min_hash[i - 1]) continue;
        ++runs;
        EXPECT_LT(idx->min_pos[i - 1], idx->min_pos[i]) << i;
    }
    EXPECT_GT(runs, 0);
}

TEST(IndexBuild, SameInputGivesSameIndex) {
    std::mt19937_64 rng(404);
    const Codes ref = reference_with_repeats(rng, 5000, 6);
    const Index a = build(ref, 9, 4, 0, one_sequence(ref.size()));
    const Index b = build(ref, 9, 4, 0, one_sequence(ref.size()));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(entries_of(a.get()), entries_of(b.get()));
}

TEST(IndexBuild, EveryHashRepeatedGivesEmptyIndex) {
    const Codes ref(400, 0);  // homopolymer: every minimizer has the same hash
    const Index idx = build(ref, 5, 3, 10, one_sequence(ref.size()));
    ASSERT_TRUE(idx);
    EXPECT_EQ(bio_index_n_minimizers(idx.get()), 0);
    const auto run = engine::index_hash_run(idx.get(), minimizers_of(ref, 5, 3)[0].hash);
    EXPECT_EQ(run.lo, run.hi);
}

TEST(IndexBuild, ReferenceShorterThanKGivesEmptyIndex) {
    const Codes ref = {0, 1, 2, 3, 0};
    for (std::size_t len : {0, 3, 5}) {
        const Codes part(ref.begin(), ref.begin() + len);
        const Index idx = build(part, 6, 2, 0, one_sequence(len));
        ASSERT_TRUE(idx) << len;
        EXPECT_EQ(bio_index_n_minimizers(idx.get()), 0);
        EXPECT_EQ(idx->ref_len, static_cast<std::int64_t>(len));
        EXPECT_TRUE(std::equal(part.begin(), part.end(), idx->ref));
    }
    const Index empty(bio_index_build(nullptr, 0, 15, 10, 0, nullptr, nullptr, 0));
    ASSERT_TRUE(empty);
    EXPECT_EQ(bio_index_n_minimizers(empty.get()), 0);
}

TEST(IndexBuild, NullHandle) {
    EXPECT_EQ(bio_index_n_minimizers(nullptr), -1);
    bio_index_free(nullptr);
}

TEST(IndexBuild, KOrWOutOfRangeOrNegativeLengthGivesNull) {
    const Codes ref(100, 2);
    const Table t = one_sequence(100);
    const long before = engine::testing::live_allocations();
    for (auto [k, w] : {std::pair{0, 10}, {33, 10}, {-2, 10}, {15, 0}, {15, -1}}) {
        EXPECT_EQ(build(ref, k, w, 0, t), nullptr) << k << " " << w;
    }
    EXPECT_EQ(bio_index_build(ref.data(), -1, 15, 10, 0, t.offsets.data(), t.lengths.data(), 1),
              nullptr);
    EXPECT_EQ(engine::testing::live_allocations(), before);
}

TEST(IndexBuild, KeepsItsOwnCopies) {
    std::mt19937_64 rng(505);
    Codes ref = random_codes(rng, 1000);
    Table t{{0, 300, 700}, {300, 400, 300}};
    const Codes original = ref;
    const Index idx = build(ref, 12, 6, 0, t);
    ASSERT_TRUE(idx);
    std::fill(ref.begin(), ref.end(), 3);
    t = Table{{9, 9, 9}, {9, 9, 9}};
    EXPECT_TRUE(std::equal(original.begin(), original.end(), idx->ref));
    EXPECT_EQ(idx->n_refs, 3);
    EXPECT_EQ(std::vector<std::int64_t>(idx->ref_offsets, idx->ref_offsets + 3),
              (std::vector<std::int64_t>{0, 300, 700}));
    EXPECT_EQ(std::vector<std::int64_t>(idx->ref_lengths, idx->ref_lengths + 3),
              (std::vector<std::int64_t>{300, 400, 300}));
}

TEST(IndexBuild, NoSequenceTable) {
    std::mt19937_64 rng(606);
    const Codes ref = random_codes(rng, 500);
    for (int n_refs : {0, -4}) {
        const Index idx(bio_index_build(ref.data(), 500, 10, 5, 0, nullptr, nullptr, n_refs));
        ASSERT_TRUE(idx) << n_refs;
        EXPECT_EQ(idx->n_refs, 0);
        EXPECT_EQ(idx->ref_offsets[0], 0);  // the one-entry stand-ins are zeroed
        EXPECT_EQ(idx->ref_lengths[0], 0);
        EXPECT_EQ(bio_index_n_minimizers(idx.get()),
                  static_cast<std::int64_t>(minimizers_of(ref, 10, 5).size()));
    }
    // A positive count with missing tables reads nothing and keeps zeros.
    const Index idx(bio_index_build(ref.data(), 500, 10, 5, 0, nullptr, nullptr, 3));
    ASSERT_TRUE(idx);
    EXPECT_EQ(idx->n_refs, 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(idx->ref_offsets[r], 0);
        EXPECT_EQ(idx->ref_lengths[r], 0);
    }
}

// ---------------------------------------------------------------------------
// Lookups against linear scans.

TEST(IndexLookup, HashRunMatchesLinearScan) {
    std::mt19937_64 rng(707);
    for (int round = 0; round < 30; ++round) {
        // Tiny indexes (one entry, two, ...) first, then larger ones, the
        // last with directories of thousands of slots.
        const std::size_t len = round < 10   ? 16 + 2 * round
                                : round < 27 ? 2000 + rng() % 3000
                                             : 100000 + rng() % 200000;
        const Codes ref = reference_with_repeats(rng, len, 10);
        const Index idx = build(ref, 6 + static_cast<int>(rng() % 10), 3, 0, one_sequence(ref.size()));
        ASSERT_TRUE(idx);
        const auto entries = entries_of(idx.get());
        std::vector<std::uint64_t> probes = {0, 1, ~std::uint64_t{0}, ~std::uint64_t{0} - 1};
        for (int i = 0; i < 100 && !entries.empty(); ++i) {
            const std::uint64_t h = entries[rng() % entries.size()].hash;
            probes.push_back(h);
            probes.push_back(h + 1);
            probes.push_back(h - 1);
            // The first and last hash of its directory slot and of the next.
            const std::uint64_t low = idx->dir_shift >= 64
                                          ? ~std::uint64_t{0}
                                          : (std::uint64_t{1} << idx->dir_shift) - 1;
            probes.push_back(h & ~low);
            probes.push_back(h | low);
            probes.push_back((h | low) + 1);
        }
        if (!entries.empty()) {
            probes.push_back(entries.front().hash);
            probes.push_back(entries.back().hash);
        }
        for (std::uint64_t h : probes) {
            std::int64_t lo = 0;
            while (lo < idx->n_min && idx->min_hash[lo] < h) ++lo;
            std::int64_t hi = lo;
            while (hi < idx->n_min && idx->min_hash[hi] == h) ++hi;
            const auto run = engine::index_hash_run(idx.get(), h);
            ASSERT_EQ(run.lo, lo) << h;
            ASSERT_EQ(run.hi, hi) << h;
        }
    }
}

TEST(IndexLookup, HashRunOfEmptyIndexIsEmpty) {
    const Codes ref = {0, 1};
    const Index idx = build(ref, 15, 10, 0, one_sequence(2));
    ASSERT_TRUE(idx);
    for (std::uint64_t h : {std::uint64_t{0}, std::uint64_t{12345}, ~std::uint64_t{0}}) {
        const auto run = engine::index_hash_run(idx.get(), h);
        EXPECT_EQ(run.lo, 0);
        EXPECT_EQ(run.hi, 0);
    }
}

TEST(IndexLookup, ReferenceOfPositionMatchesLinearScan) {
    std::mt19937_64 rng(808);
    for (int round = 0; round < 200; ++round) {
        // Random sequence lengths, zero-length ones included (equal offsets).
        const int n_refs = 1 + static_cast<int>(rng() % 8);
        Table t;
        std::int64_t at = static_cast<std::int64_t>(rng() % 3);  // offsets need not start at 0
        for (int r = 0; r < n_refs; ++r) {
            const std::int64_t len = (rng() % 4 == 0) ? 0 : 1 + static_cast<std::int64_t>(rng() % 40);
            t.offsets.push_back(at);
            t.lengths.push_back(len);
            at += len;
        }
        const Codes ref(static_cast<std::size_t>(at), 1);
        const Index idx = build(ref, 3, 2, 0, t);
        ASSERT_TRUE(idx);
        for (std::int64_t x = -3; x <= at + 3; ++x) {
            std::int32_t want = 0;
            for (int r = 0; r < n_refs; ++r)
                if (t.offsets[r] <= x) want = r;
            ASSERT_EQ(engine::index_ref_of(idx.get(), x), want) << "x " << x << " round " << round;
        }
    }
}

// ---------------------------------------------------------------------------
// Reservation failures.

void expect_build_failures(const Codes &ref, int k, int w, int max_occ) {
    const Table t{{0, 10}, {10, static_cast<std::int64_t>(ref.size()) - 10}};
    auto call = [&] { return build(ref, k, w, max_occ, t).release(); };
    engine_test::expect_each_allocation_failure(
        call, [](bio_index_t *idx) { EXPECT_EQ(idx, nullptr); },
        [](bio_index_t *idx) { bio_index_free(idx); });
}

TEST(IndexBuild, EachReservationFailureGivesNull) {
    std::mt19937_64 rng(909);
    const Codes ref = reference_with_repeats(rng, 3000, 5);
    expect_build_failures(ref, 15, 10, 0);
    // Entries dropped by the limit: the arrays are cut to the kept count.
    expect_build_failures(ref, 15, 10, 1);
    // No minimizers, or fewer positions than one window.
    expect_build_failures(Codes(12, 2), 15, 10, 0);
    expect_build_failures(ref, 15, 5000, 0);
    // Minimizers that are all dropped: empty entry arrays are still reserved.
    expect_build_failures(Codes(400, 0), 5, 3, 2);
    // Several ranges of windows sampled on several threads.
    expect_build_failures(reference_with_repeats(rng, 2200000, 5), 15, 10, 2);
}

}  // namespace
