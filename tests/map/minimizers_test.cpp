#include "map/minimizers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <cstdlib>
#include <vector>

#include "engine.h"
#include "map/minimizer_model.h"
#include "seqio/codes.h"
#include "support/allocation_failure.h"

namespace {

struct Minimizers {
    std::vector<std::uint64_t> hash;
    std::vector<std::int64_t> pos;
    std::vector<std::uint8_t> strand;
    bool operator==(const Minimizers &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Minimizers &m) {
    for (std::size_t i = 0; i < m.hash.size(); ++i) {
        os << "(" << m.hash[i] << "," << m.pos[i] << "," << int(m.strand[i]) << ")";
    }
    return os;
}

Minimizers model_minimizers(const std::vector<std::uint8_t> &seq, int k, int w) {
    const std::size_t cap = seq.size() + 1;
    Minimizers out{std::vector<std::uint64_t>(cap), std::vector<std::int64_t>(cap),
                   std::vector<std::uint8_t>(cap)};
    const std::int64_t count = minimizer_model::rescanning_minimizers(
        seq.data(), static_cast<std::int64_t>(seq.size()), k, w, out.hash.data(), out.pos.data(),
        out.strand.data());
    out.hash.resize(count);
    out.pos.resize(count);
    out.strand.resize(count);
    return out;
}

// Entries the caller must provide: n - w + 1 when w <= n, else 1.
std::int64_t capacity(std::int64_t len, int k, int w) {
    const std::int64_t n = len - k + 1;
    if (n <= 0) return 0;
    return w <= n ? n - w + 1 : 1;
}

constexpr std::uint64_t HASH_GUARD = 0xABABABABABABABABull;
constexpr std::int64_t POS_GUARD = -77;
constexpr std::uint8_t STRAND_GUARD = 0xEE;

// Calls the library with exactly the documented capacity plus one guard
// entry, which must stay untouched.
Minimizers library_minimizers(const std::vector<std::uint8_t> &seq, int k, int w) {
    const std::int64_t cap = capacity(static_cast<std::int64_t>(seq.size()), k, w);
    std::vector<std::uint64_t> hash(cap + 1, HASH_GUARD);
    std::vector<std::int64_t> pos(cap + 1, POS_GUARD);
    std::vector<std::uint8_t> strand(cap + 1, STRAND_GUARD);
    const std::int64_t count = bio_minimizers(seq.data(), static_cast<std::int64_t>(seq.size()), k,
                                              w, hash.data(), pos.data(), strand.data());
    EXPECT_GE(count, 0);
    EXPECT_LE(count, cap);
    EXPECT_EQ(hash[cap], HASH_GUARD);
    EXPECT_EQ(pos[cap], POS_GUARD);
    EXPECT_EQ(strand[cap], STRAND_GUARD);
    Minimizers out;
    if (count < 0) return out;
    out.hash.assign(hash.begin(), hash.begin() + count);
    out.pos.assign(pos.begin(), pos.begin() + count);
    out.strand.assign(strand.begin(), strand.begin() + count);
    return out;
}

std::vector<std::uint8_t> codes(const std::string &letters) {
    std::vector<std::uint8_t> out;
    for (char c : letters) out.push_back(engine::_MAP_NT[static_cast<unsigned char>(c)]);
    return out;
}

Minimizers expected(std::vector<std::uint64_t> hash, std::vector<std::int64_t> pos,
                    std::vector<std::uint8_t> strand) {
    return Minimizers{std::move(hash), std::move(pos), std::move(strand)};
}

TEST(Minimizers, SingleBaseHashes) {
    for (std::uint64_t x = 0; x < 4; ++x) EXPECT_EQ(minimizer_model::hash(x, 3), 3 - x);
    // Each base against its complement: A and C take the reverse strand.
    EXPECT_EQ(library_minimizers(codes("ACGT"), 1, 1),
              expected({0, 1, 1, 0}, {0, 1, 2, 3}, {1, 1, 0, 0}));
}

TEST(Minimizers, HomopolymerWritesEachWindowsFirstPosition) {
    EXPECT_EQ(library_minimizers(codes("AAAAAA"), 2, 3),
              expected({minimizer_model::hash(15, 15), minimizer_model::hash(15, 15),
                        minimizer_model::hash(15, 15)},
                       {0, 1, 2},
                       {1, 1, 1}));
}

TEST(Minimizers, AlternatingSequence) {
    EXPECT_EQ(library_minimizers(codes("ACGTACGTAC"), 3, 2),
              expected({20, 7, 7, 20, 7}, {0, 2, 3, 4, 6}, {1, 0, 1, 1, 0}));
}

TEST(Minimizers, WindowLongerThanSequence) {
    EXPECT_EQ(library_minimizers(codes("GATTACA"), 4, 10), expected({7}, {3}, {1}));
    EXPECT_EQ(library_minimizers(codes("GATTACA"), 4, INT32_MAX), expected({7}, {3}, {1}));
}

TEST(Minimizers, SequenceOfExactlyOneKmer) {
    for (int w : {1, 2, 50}) {
        const auto one = library_minimizers(codes("GATTACAGAT"), 10, w);
        ASSERT_EQ(one.pos.size(), 1u) << w;
        EXPECT_EQ(one.pos[0], 0);
        EXPECT_TRUE(library_minimizers(codes("GATTNCAGAT"), 10, w).hash.empty()) << w;
    }
}

TEST(Minimizers, UnknownCodeEveryFewerThanKBases) {
    EXPECT_TRUE(library_minimizers(codes("ACGNTTANGGCNAAAN"), 4, 1).hash.empty());
    EXPECT_TRUE(library_minimizers(codes("ACGNTTANGGCNAAAN"), 4, 3).hash.empty());
    std::vector<std::uint8_t> seq = codes("ACGTACGTACGTAC");
    for (std::size_t i = 2; i < seq.size(); i += 3) seq[i] = static_cast<std::uint8_t>(4 + i);
    EXPECT_TRUE(library_minimizers(seq, 3, 2).hash.empty());
}

TEST(Minimizers, ShorterThanKWritesNothing) {
    std::vector<std::uint64_t> hash(4, HASH_GUARD);
    std::vector<std::int64_t> pos(4, POS_GUARD);
    std::vector<std::uint8_t> strand(4, STRAND_GUARD);
    const auto seq = codes("ACGT");
    const long before = engine::testing::live_allocations();
    engine::testing::fail_nth_allocation(0);
    EXPECT_EQ(bio_minimizers(seq.data(), 4, 5, 1, hash.data(), pos.data(), strand.data()), 0);
    EXPECT_EQ(bio_minimizers(seq.data(), 0, 1, 1, hash.data(), pos.data(), strand.data()), 0);
    EXPECT_EQ(bio_minimizers(seq.data(), -3, 1, 1, hash.data(), pos.data(), strand.data()), 0);
    EXPECT_EQ(engine::testing::allocations_attempted(), 0);
    EXPECT_EQ(engine::testing::live_allocations(), before);
    EXPECT_EQ(hash, std::vector<std::uint64_t>(4, HASH_GUARD));
    EXPECT_EQ(pos, std::vector<std::int64_t>(4, POS_GUARD));
    EXPECT_EQ(strand, std::vector<std::uint8_t>(4, STRAND_GUARD));
}

TEST(Minimizers, KOutsideOneToThirtyTwoOrWBelowOneFails) {
    const auto seq = codes("ACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGT");
    std::vector<std::uint64_t> hash(seq.size(), HASH_GUARD);
    std::vector<std::int64_t> pos(seq.size(), POS_GUARD);
    std::vector<std::uint8_t> strand(seq.size(), STRAND_GUARD);
    const auto len = static_cast<std::int64_t>(seq.size());
    for (auto [k, w] : {std::pair{0, 5}, {-1, 5}, {33, 5}, {64, 5}, {15, 0}, {15, -4}}) {
        EXPECT_EQ(bio_minimizers(seq.data(), len, k, w, hash.data(), pos.data(), strand.data()),
                  -1)
            << k << " " << w;
        EXPECT_EQ(bio_minimizers(seq.data(), 0, k, w, hash.data(), pos.data(), strand.data()), -1);
    }
    EXPECT_EQ(hash[0], HASH_GUARD);
    EXPECT_EQ(bio_minimizers(seq.data(), len, 32, 1, hash.data(), pos.data(), strand.data()),
              len - 31);
}

// Random sequences of several textures: uniform, runs of unknown codes,
// homopolymers, two-letter low complexity and copies of earlier stretches
// (equal hashes at different positions).
std::vector<std::uint8_t> random_sequence(std::mt19937_64 &rng, std::size_t len) {
    std::vector<std::uint8_t> seq;
    seq.reserve(len);
    std::uniform_int_distribution<int> texture(0, 5);
    while (seq.size() < len) {
        const std::size_t piece = std::min<std::size_t>(len - seq.size(), 1 + rng() % 40);
        switch (texture(rng)) {
            case 0:
            case 1:
                for (std::size_t i = 0; i < piece; ++i) seq.push_back(rng() & 3);
                break;
            case 2: {
                // Mostly short runs of unknown codes, now and then one longer
                // than any window.
                const std::size_t run = rng() % 8 == 0 ? piece * 4 : piece % 7 + 1;
                for (std::size_t i = 0; i < run && seq.size() < len; ++i)
                    seq.push_back(static_cast<std::uint8_t>(4 + rng() % 28));
                break;
            }
            case 3: {
                const std::uint8_t c = rng() & 3;
                for (std::size_t i = 0; i < piece; ++i) seq.push_back(c);
                break;
            }
            case 4:
                for (std::size_t i = 0; i < piece; ++i) seq.push_back(rng() & 1);
                break;
            default:
                if (seq.size() < 2) break;
                for (std::size_t i = 0, from = rng() % seq.size(); i < piece; ++i)
                    seq.push_back(seq[from + i % (seq.size() - from)]);
                break;
        }
    }
    return seq;
}

TEST(Minimizers, SlidingWindowMatchesRescanning) {
    std::mt19937_64 rng(20261208);
    for (int round = 0; round < 4000; ++round) {
        const int k = 1 + static_cast<int>(rng() % 32);
        const int w = 1 + static_cast<int>(rng() % 64);
        // Mostly lengths near k + w, where windows and the single-window case
        // meet; some longer.
        std::size_t len = k - 1 + rng() % (w + 8);
        if (round % 4 == 0) len = rng() % 600;
        const auto seq = random_sequence(rng, len);
        ASSERT_EQ(library_minimizers(seq, k, w), model_minimizers(seq, k, w))
            << "k=" << k << " w=" << w << " len=" << len << " round=" << round;
    }
}

TEST(Minimizers, SlidingWindowMatchesRescanningOnLongSequences) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 20; ++round) {
        const int k = 1 + static_cast<int>(rng() % 32);
        const int w = 1 + static_cast<int>(rng() % 64);
        const auto seq = random_sequence(rng, 10000 + rng() % 5000);
        ASSERT_EQ(library_minimizers(seq, k, w), model_minimizers(seq, k, w))
            << "k=" << k << " w=" << w << " round=" << round;
    }
}

TEST(Minimizers, SlidingWindowMatchesRescanningForWideWindows) {
    // Windows as wide as or wider than the blocks positions are hashed in.
    std::mt19937_64 rng(11);
    for (int w : {200, 255, 256, 257, 300, 511, 512, 513, 1000}) {
        for (int round = 0; round < 2; ++round) {
            const int k = 1 + static_cast<int>(rng() % 32);
            const auto seq = random_sequence(rng, w + rng() % 1500);
            ASSERT_EQ(library_minimizers(seq, k, w), model_minimizers(seq, k, w))
                << "k=" << k << " w=" << w << " round=" << round;
        }
    }
}

// Ranges of windows counted apart, marking their minimizers, then the marks
// hashed again and grouped by bucket give the minimizers of the whole
// sequence, each bucket's in position order.
TEST(Minimizers, RangesByBucketEqualTheWholeSequence) {
    std::mt19937_64 rng(1606);
    for (int round = 0; round < 400; ++round) {
        const int k = 1 + static_cast<int>(rng() % 32);
        const int w = 1 + static_cast<int>(rng() % (round % 4 ? 20 : 300));
        const auto seq = random_sequence(rng, static_cast<std::size_t>(k + w + rng() % 3000));
        const auto len = static_cast<std::int64_t>(seq.size());
        const std::int64_t n = len - k + 1;
        std::vector<std::int64_t> cuts = {w - 1, n};
        for (int c = static_cast<int>(rng() % 5); c > 0; --c)
            cuts.push_back(w - 1 + static_cast<std::int64_t>(rng() % (n - w + 2)));
        std::sort(cuts.begin(), cuts.end());
        const int key_bits = std::min(2 * k, 64);
        const int shift = std::min(key_bits - static_cast<int>(rng() % std::min(key_bits, 4)), 63);
        const std::int64_t buckets = static_cast<std::int64_t>(
            (key_bits == 64 ? ~0ull : (1ull << key_bits) - 1) >> shift) + 1;
        const auto ranges = cuts.size() - 1;
        std::vector<std::int64_t> next(ranges * buckets, 0), first(ranges);
        std::vector<std::uint64_t> marks(static_cast<std::size_t>(n + 63) / 64, 0);
        for (std::size_t r = 0; r < ranges; ++r)
            ASSERT_TRUE(engine::count_minimizers_by_bucket(seq.data(), len, k, w, cuts[r],
                                                           cuts[r + 1], shift,
                                                           next.data() + r * buckets, marks.data(),
                                                           &first[r]));
        std::int64_t total = 0;
        for (std::int64_t b = 0; b < buckets; ++b)
            for (std::size_t r = 0; r < ranges; ++r)
                total += std::exchange(next[r * buckets + b], total);
        Minimizers got{std::vector<std::uint64_t>(total), std::vector<std::int64_t>(total),
                       std::vector<std::uint8_t>(total)};
        // Each range's marks run from its first position to the next range's.
        for (std::size_t r = 0; r < ranges; ++r) {
            if (first[r] < 0) continue;
            std::int64_t end = n;
            for (std::size_t later = r + 1; later < ranges && end == n; ++later)
                if (first[later] >= 0) end = first[later];
            engine::scatter_marked_minimizers(seq.data(), len, k, marks.data(), first[r], end, shift,
                                              next.data() + r * buckets, got.hash.data(),
                                              got.pos.data(), got.strand.data());
        }
        const Minimizers whole = model_minimizers(seq, k, w);
        Minimizers want;
        for (std::int64_t b = 0; b < buckets; ++b)
            for (std::size_t i = 0; i < whole.hash.size(); ++i)
                if (static_cast<std::int64_t>(whole.hash[i] >> shift) == b) {
                    want.hash.push_back(whole.hash[i]);
                    want.pos.push_back(whole.pos[i]);
                    want.strand.push_back(whole.strand[i]);
                }
        ASSERT_EQ(got, want) << "round " << round << " k " << k << " w " << w;
    }
}

TEST(Minimizers, PositionsStrictlyIncrease) {
    std::mt19937_64 rng(99);
    const auto seq = random_sequence(rng, 5000);
    const auto m = library_minimizers(seq, 15, 10);
    ASSERT_FALSE(m.pos.empty());
    EXPECT_TRUE(std::adjacent_find(m.pos.begin(), m.pos.end(), std::greater_equal<>()) ==
                m.pos.end());
}

TEST(Minimizers, EachReservationFailureReturnsMinusOne) {
    std::mt19937_64 rng(5);
    const auto seq = random_sequence(rng, 300);
    std::vector<std::uint64_t> hash(seq.size(), HASH_GUARD);
    std::vector<std::int64_t> pos(seq.size(), POS_GUARD);
    std::vector<std::uint8_t> strand(seq.size(), STRAND_GUARD);
    for (int w : {10, 1000}) {
        SCOPED_TRACE(w);
        engine_test::expect_each_allocation_failure(
            [&] {
                std::fill(hash.begin(), hash.end(), HASH_GUARD);
                return bio_minimizers(seq.data(), static_cast<std::int64_t>(seq.size()), 15, w,
                                      hash.data(), pos.data(), strand.data());
            },
            [&](std::int64_t result) {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(hash[0], HASH_GUARD);
            });
        EXPECT_EQ(engine_test::count_allocations([&] {
                      return bio_minimizers(seq.data(), static_cast<std::int64_t>(seq.size()),
                                            15, w, hash.data(), pos.data(), strand.data());
                  }),
                  2);
    }
}

// The radix sort gives exactly a stable sort by hash, and so the same runs
// of equal hashes, record for record, as qsort with _cmp_min does.
TEST(MinimizerRecords, RadixSortIsAStableSortByHash) {
    std::mt19937_64 rng(123);
    for (int round = 0; round < 120; ++round) {
        const std::int64_t count = round < 3 ? round : 1 + static_cast<std::int64_t>(rng() % 2000);
        const int key_bits = 1 + static_cast<int>(rng() % 64);
        const std::uint64_t key_mask = key_bits == 64 ? ~0ull : (1ull << key_bits) - 1;
        // Few distinct keys in some rounds, so equal-hash runs are long.
        const std::uint64_t distinct = rng() % 2 ? 1 + rng() % 20 : 0;
        std::vector<std::uint64_t> hash(count);
        std::vector<std::int64_t> pos(count);
        std::vector<std::uint8_t> strand(count);
        std::vector<engine::min_rec_t> input;
        for (std::int64_t i = 0; i < count; ++i) {
            std::uint64_t h = rng() & key_mask;
            if (distinct) h = (h % distinct) * (key_mask / distinct);
            hash[i] = h;
            pos[i] = i * 3 + static_cast<std::int64_t>(rng() % 3);
            strand[i] = rng() & 1;
            input.push_back({hash[i], pos[i], strand[i]});
        }
        std::vector<engine::min_rec_t> records(count + 1, engine::min_rec_t{7, 7, 7});
        engine::sort_minimizers_by_hash(hash.data(), pos.data(), strand.data(), count,
                                        records.data());
        EXPECT_EQ(records[count].pos, 7);
        auto stable = input;
        std::stable_sort(stable.begin(), stable.end(),
                         [](const auto &a, const auto &b) { return a.hash < b.hash; });
        auto by_qsort = input;
        if (count > 0)
            std::qsort(by_qsort.data(), count, sizeof(engine::min_rec_t), engine::_cmp_min);
        auto key = [](const engine::min_rec_t &r) { return std::tuple(r.hash, r.pos, r.strand); };
        for (std::int64_t i = 0; i < count; ++i) {
            ASSERT_EQ(key(records[i]), key(stable[i])) << "round " << round << " i " << i;
            ASSERT_EQ(records[i].hash, by_qsort[i].hash);
        }
        // Same records in every run as qsort's.
        auto all_keys = [&](std::vector<engine::min_rec_t> v) {
            std::vector<std::tuple<std::uint64_t, std::int64_t, std::uint8_t>> out;
            for (const auto &r : v) out.push_back(key(r));
            std::sort(out.begin(), out.end());
            return out;
        };
        records.pop_back();
        ASSERT_EQ(all_keys(records), all_keys(by_qsort));
    }
}

TEST(MinimizerRecords, CompareByUnsignedHashOnly) {
    engine::min_rec_t a{5, 100, 1}, b{5, 3, 0}, c{~std::uint64_t{0}, 0, 0};
    EXPECT_EQ(engine::_cmp_min(&a, &b), 0);
    EXPECT_EQ(engine::_cmp_min(&a, &c), -1);
    EXPECT_EQ(engine::_cmp_min(&c, &b), 1);
}

}  // namespace
