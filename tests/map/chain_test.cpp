#include "map/chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "engine.h"
#include "support/allocation_failure.h"

namespace {

using engine::_chain_strand;
using engine::chain_t;

// ---------------------------------------------------------------------------
// Straightforward models.

struct DpResult {
    std::vector<double> f;
    std::vector<std::int32_t> prev;
};

// Every earlier anchor within the lookback and within max_dist on the
// reference is a candidate (x ascends, so this is what stopping early at the
// first far one amounts to); the best strictly wins, the nearest on ties.
DpResult model_dp(const std::vector<std::int64_t> &x, const std::vector<std::int64_t> &y, int k,
                  std::int64_t max_dist, int max_lookback, double gap_scale) {
    const int n = static_cast<int>(x.size());
    DpResult r{std::vector<double>(n), std::vector<std::int32_t>(n)};
    for (int i = 0; i < n; ++i) {
        double best = k;
        int best_j = -1;
        for (int j = 0; j < i; ++j) {
            if (i - j > max_lookback) continue;
            const std::int64_t dx = x[i] - x[j], dy = y[i] - y[j];
            if (dx > max_dist || dx <= 0 || dy <= 0 || dy > max_dist) continue;
            const std::int64_t g = std::llabs(dx - dy);
            const std::int64_t a = std::min<std::int64_t>({dx, dy, k});
            const double c = g > 0 ? gap_scale * g + 0.5 * std::log2(static_cast<double>(g)) : 0.0;
            const double candidate = r.f[j] + a - c;
            if (candidate > best || (candidate == best && best_j >= 0 && j > best_j)) {
                best = candidate;
                best_j = j;
            }
        }
        r.f[i] = best;
        r.prev[i] = best_j;
    }
    return r;
}

struct Anchor {
    std::int64_t x, y, ref_pos, query_pos;
};

std::vector<chain_t> model_chain_strand(const std::vector<std::int64_t> &ref_pos,
                                        const std::vector<std::int64_t> &query_pos, int strand,
                                        int qlen, int k, double min_score) {
    std::vector<Anchor> anchors;
    for (std::size_t i = 0; i < ref_pos.size(); ++i) {
        const std::int64_t y = strand == 0 ? query_pos[i] : (qlen - k) - query_pos[i];
        anchors.push_back({ref_pos[i], y, ref_pos[i], query_pos[i]});
    }
    std::sort(anchors.begin(), anchors.end(),
              [](const Anchor &a, const Anchor &b) { return std::tie(a.x, a.y) < std::tie(b.x, b.y); });
    std::vector<std::int64_t> x, y;
    for (const Anchor &a : anchors) {
        x.push_back(a.x);
        y.push_back(a.y);
    }
    const DpResult dp = model_dp(x, y, k, 5000, 64, 0.01 * k);
    const int n = static_cast<int>(anchors.size());
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return dp.f[a] != dp.f[b] ? dp.f[a] > dp.f[b] : a < b;
    });
    std::vector<bool> used(n, false);
    std::vector<chain_t> chains;
    for (int i : order) {
        if (dp.f[i] < min_score) break;
        if (used[i]) continue;
        std::vector<int> path;
        int end = -1;
        for (int cur = i;;) {
            path.push_back(cur);
            used[cur] = true;
            const int p = dp.prev[cur];
            if (p < 0 || used[p]) {
                end = p;
                break;
            }
            cur = p;
        }
        if (path.size() < 2) continue;
        double score = dp.f[i];
        if (end >= 0) {
            score -= dp.f[end];
            if (score < min_score) continue;
        }
        chain_t c{};
        c.score = score;
        c.strand = strand;
        c.n_anchors = static_cast<int>(path.size());
        c.ref_start = c.query_start = INT64_MAX;
        c.ref_end = c.query_end = INT64_MIN;
        std::vector<std::int64_t> d;
        for (int a : path) {
            c.ref_start = std::min(c.ref_start, anchors[a].ref_pos);
            c.ref_end = std::max(c.ref_end, anchors[a].ref_pos + k);
            c.query_start = std::min(c.query_start, anchors[a].query_pos);
            c.query_end = std::max(c.query_end, anchors[a].query_pos + k);
            d.push_back(strand == 0 ? anchors[a].ref_pos - anchors[a].query_pos
                                    : anchors[a].ref_pos + anchors[a].query_pos);
        }
        std::sort(d.begin(), d.end());
        const std::size_t h = d.size() / 2;
        std::int64_t median = d.size() % 2 ? d[h] : static_cast<std::int64_t>(
                                                       (double(d[h - 1]) + double(d[h])) * 0.5);
        if (strand == 1) median -= qlen - k;
        c.diag = median;
        chains.push_back(c);
    }
    return chains;
}

// ---------------------------------------------------------------------------
// Helpers.

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same_chain(const chain_t &got, const chain_t &want) {
    EXPECT_TRUE(same_bits(got.score, want.score)) << got.score << " vs " << want.score;
    EXPECT_EQ(got.strand, want.strand);
    EXPECT_EQ(got.n_anchors, want.n_anchors);
    EXPECT_EQ(got.ref_start, want.ref_start);
    EXPECT_EQ(got.ref_end, want.ref_end);
    EXPECT_EQ(got.query_start, want.query_start);
    EXPECT_EQ(got.query_end, want.query_end);
    EXPECT_EQ(got.diag, want.diag);
}

DpResult library_dp(const std::vector<std::int64_t> &x, const std::vector<std::int64_t> &y, int k,
                    std::int64_t max_dist, int max_lookback, double gap_scale) {
    const int n = static_cast<int>(x.size());
    DpResult r{std::vector<double>(n + 1, -123.0), std::vector<std::int32_t>(n + 1, -7)};
    bio_chain_dp(x.data(), y.data(), n, k, max_dist, max_lookback, gap_scale, r.f.data(),
                 r.prev.data());
    EXPECT_EQ(r.f[n], -123.0);
    EXPECT_EQ(r.prev[n], -7);
    r.f.pop_back();
    r.prev.pop_back();
    return r;
}

// Runs _chain_strand with room for exactly n / 2 further records after
// `before` existing ones (plus one guard record that must stay untouched).
std::vector<chain_t> library_chain_strand(const std::vector<std::int64_t> &ref_pos,
                                          const std::vector<std::int64_t> &query_pos, int strand,
                                          int qlen, int k, double min_score, int before = 0) {
    const int n = static_cast<int>(ref_pos.size());
    chain_t guard{};
    guard.score = -99.0;
    guard.n_anchors = -5;
    std::vector<chain_t> chains(before + n / 2 + 1, guard);
    std::int32_t n_chains = before;
    const std::int32_t appended = _chain_strand(ref_pos.data(), query_pos.data(), n, strand, qlen,
                                                k, min_score, chains.data(), &n_chains);
    EXPECT_GE(appended, 0);
    EXPECT_EQ(n_chains, before + appended);
    EXPECT_EQ(chains.back().n_anchors, -5);
    for (int i = 0; i < before; ++i) EXPECT_EQ(chains[i].n_anchors, -5);
    return std::vector<chain_t>(chains.begin() + before, chains.begin() + before + appended);
}

// ---------------------------------------------------------------------------
// The dynamic program.

TEST(ChainDp, GapFreeLink) {
    const auto r = library_dp({100, 110}, {0, 10}, 15, 5000, 64, 0.15);
    EXPECT_EQ(r.f, (std::vector<double>{15, 25}));
    EXPECT_EQ(r.prev, (std::vector<std::int32_t>{-1, 0}));
}

TEST(ChainDp, LinkWithIndel) {
    const auto r = library_dp({100, 120}, {0, 10}, 15, 5000, 64, 0.15);
    EXPECT_EQ(r.f[0], 15.0);
    EXPECT_TRUE(same_bits(r.f[1], 15.0 + 10 - (0.15 * 10 + 0.5 * std::log2(10.0))));
    EXPECT_NEAR(r.f[1], 21.839, 1e-3);
    EXPECT_EQ(r.prev, (std::vector<std::int32_t>{-1, 0}));
}

TEST(ChainDp, EqualReferencePositionDoesNotLink) {
    const auto r = library_dp({100, 100, 110}, {0, 5, 10}, 15, 5000, 64, 0.15);
    EXPECT_EQ(r.f[1], 15.0);
    EXPECT_EQ(r.prev[1], -1);
    EXPECT_EQ(r.f[2], 25.0);
    EXPECT_EQ(r.prev[2], 0);
    // The link to the second anchor would have scored about 18.09.
    EXPECT_NEAR(15.0 + 5 - (0.15 * 5 + 0.5 * std::log2(5.0)), 18.09, 1e-2);
}

TEST(ChainDp, FarAnchorStartsItsOwnChain) {
    const auto r = library_dp({100, 110, 5200}, {0, 10, 20}, 15, 5000, 64, 0.15);
    EXPECT_EQ(r.f[2], 15.0);
    EXPECT_EQ(r.prev[2], -1);
}

TEST(ChainDp, NoLookbackLinksNothingAndEmptyInputWritesNothing) {
    for (int lookback : {0, -3}) {
        const auto r = library_dp({100, 110, 120}, {0, 10, 20}, 15, 5000, lookback, 0.15);
        EXPECT_EQ(r.f, (std::vector<double>{15, 15, 15}));
        EXPECT_EQ(r.prev, (std::vector<std::int32_t>{-1, -1, -1}));
    }
    double f = -1;
    std::int32_t prev = -9;
    bio_chain_dp(nullptr, nullptr, 0, 15, 5000, 64, 0.15, &f, &prev);
    bio_chain_dp(nullptr, nullptr, -4, 15, 5000, 64, 0.15, &f, &prev);
    EXPECT_EQ(f, -1);
    EXPECT_EQ(prev, -9);
}

TEST(ChainDp, TiesKeepTheNearestPredecessor) {
    // Both earlier anchors score 15 and offer the same link: same gain, same
    // indel length.
    const auto r = library_dp({0, 5, 25}, {10, 5, 30}, 15, 5000, 64, 0.15);
    EXPECT_EQ(r.prev, (std::vector<std::int32_t>{-1, -1, 1}));
}

TEST(ChainDp, MatchesModelOnRandomAnchors) {
    std::mt19937_64 rng(424242);
    for (int round = 0; round < 600; ++round) {
        const int n = 1 + static_cast<int>(rng() % 300);
        const int k = 1 + static_cast<int>(rng() % 31);
        // Some reach indels beyond the log2 table.
        const std::int64_t max_dist = 1 + static_cast<std::int64_t>(rng() % (round % 4 ? 400 : 20000));
        const int lookback = static_cast<int>(rng() % 80) - 5;
        const double gap_scale = (rng() % 100) * 0.005;
        std::vector<std::int64_t> x(n), y(n);
        std::int64_t pos = static_cast<std::int64_t>(rng() % 1000);
        for (int i = 0; i < n; ++i) {
            pos += static_cast<std::int64_t>(rng() % 60);  // repeats of x are common
            x[i] = pos;
            y[i] = (rng() % 3 == 0) ? static_cast<std::int64_t>(rng() % 5000)
                                     : pos / 2 + static_cast<std::int64_t>(rng() % 30);
        }
        const auto got = library_dp(x, y, k, max_dist, lookback, gap_scale);
        const auto want = model_dp(x, y, k, max_dist, lookback, gap_scale);
        ASSERT_EQ(got.prev, want.prev) << "round " << round;
        for (int i = 0; i < n; ++i) ASSERT_TRUE(same_bits(got.f[i], want.f[i])) << round << " " << i;
    }
}

// Anchors on one diagonal (the common case of an accurate read), with links
// shorter and longer than k, beyond max_dist, repeated positions and now
// and then a step off the diagonal.
TEST(ChainDp, MatchesModelOnOneDiagonal) {
    std::mt19937_64 rng(8128);
    int straight_rounds = 0;
    for (int round = 0; round < 2000; ++round) {
        const int n = 1 + static_cast<int>(rng() % 150);
        const int k = static_cast<int>(rng() % 33) - 1;
        const std::int64_t max_dist = 1 + static_cast<std::int64_t>(rng() % 400);
        const int lookback = static_cast<int>(rng() % 80) - 2;
        const double gap_scale = (rng() % 100) * 0.005;
        std::vector<std::int64_t> x(n), y(n);
        std::int64_t pos = static_cast<std::int64_t>(rng() % 1000), diagonal = static_cast<std::int64_t>(rng() % 900);
        bool straight = true;  // every step 1 to max_dist along the diagonal
        for (int i = 0; i < n; ++i) {
            const std::int64_t step = rng() % 300 == 0 ? 0 : 1 + static_cast<std::int64_t>(rng() % (round % 5 ? 40 : 500));
            pos += step;
            x[i] = pos;
            y[i] = pos - diagonal + (rng() % 400 == 0 ? 1 : 0);
            if (i > 0) straight &= step >= 1 && step <= max_dist && y[i] - y[i - 1] == step;
        }
        straight_rounds += straight && n > 1;
        const auto got = library_dp(x, y, k, max_dist, lookback, gap_scale);
        const auto want = model_dp(x, y, k, max_dist, lookback, gap_scale);
        ASSERT_EQ(got.prev, want.prev) << "round " << round;
        for (int i = 0; i < n; ++i) ASSERT_TRUE(same_bits(got.f[i], want.f[i])) << round << " " << i;
    }
    EXPECT_GT(straight_rounds, 500);
}

TEST(ChainDp, Log2TableHoldsTheCallsOwnResults) {
    const double *table = engine::log2_table();
    EXPECT_TRUE(same_bits(table[0], 0.0));
    for (std::int64_t g = 1; g < engine::LOG2_TABLE_SIZE; ++g)
        ASSERT_TRUE(same_bits(table[g], std::log2(static_cast<double>(g)))) << g;
}

// ---------------------------------------------------------------------------
// Comparators.

TEST(ChainComparators, Orders) {
    using engine::anchor_t;
    using engine::fidx_t;
    anchor_t a{5, 1, 0, 0}, b{5, 2, 0, 0}, c{-3, 9, 0, 0};
    EXPECT_EQ(engine::_cmp_anc(&a, &b), -1);
    EXPECT_EQ(engine::_cmp_anc(&b, &a), 1);
    EXPECT_EQ(engine::_cmp_anc(&c, &a), -1);
    EXPECT_EQ(engine::_cmp_anc(&a, &a), 0);
    fidx_t p{3.5, 7}, q{3.5, 2}, r{4.0, 9};
    EXPECT_EQ(engine::_cmp_fidx(&r, &p), -1);
    EXPECT_EQ(engine::_cmp_fidx(&q, &p), -1);
    EXPECT_EQ(engine::_cmp_fidx(&p, &q), 1);
    EXPECT_EQ(engine::_cmp_fidx(&p, &p), 0);
    chain_t s{}, t{}, u{};
    s.score = 10;
    s.ref_start = 50;
    t.score = 10;
    t.ref_start = -4;
    u.score = 11;
    u.ref_start = 900;
    EXPECT_EQ(engine::_cmp_cchain(&u, &s), -1);
    EXPECT_EQ(engine::_cmp_cchain(&t, &s), -1);
    EXPECT_EQ(engine::_cmp_cchain(&s, &t), 1);
    EXPECT_EQ(engine::_cmp_cchain(&s, &s), 0);
    std::int64_t lo = INT64_MIN, hi = 3;
    EXPECT_EQ(engine::_cmp_i64(&lo, &hi), -1);
    EXPECT_EQ(engine::_cmp_i64(&hi, &lo), 1);
    EXPECT_EQ(engine::_cmp_i64(&hi, &hi), 0);
}

// The inlined sorts give qsort's arrays byte for byte on inputs with many
// ties: anchors of one strand as chaining builds them (repeated positions
// included), score/index pairs with few distinct scores, repeated values.
TEST(ChainSorts, SameArraysAsQsort) {
    std::mt19937_64 rng(1616);
    for (int t = 0; t < 300; ++t) {
        const auto n = static_cast<std::int32_t>(1 + rng() % 400);
        const std::int64_t flip = 1000;
        std::vector<engine::anchor_t> anchors(static_cast<std::size_t>(n));
        std::vector<engine::fidx_t> order(anchors.size());
        std::vector<std::int64_t> values(anchors.size());
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int64_t ref = static_cast<std::int64_t>(rng() % 30) - 5;
            const std::int64_t read = static_cast<std::int64_t>(rng() % 30);
            anchors[i] = engine::anchor_t{ref, t % 2 ? flip - read : read, ref, read};
            order[i] = engine::fidx_t{static_cast<double>(rng() % 6) * 0.5, i};
            values[i] = static_cast<std::int64_t>(rng() % 50) - 25;
        }
        std::shuffle(order.begin(), order.end(), rng);
        auto want_anchors = anchors;
        auto want_order = order;
        auto want_values = values;
        std::qsort(want_anchors.data(), anchors.size(), sizeof(engine::anchor_t), engine::_cmp_anc);
        std::qsort(want_order.data(), order.size(), sizeof(engine::fidx_t), engine::_cmp_fidx);
        std::qsort(want_values.data(), values.size(), sizeof(std::int64_t), engine::_cmp_i64);
        engine::sort_anchors(anchors.data(), n);
        engine::sort_by_score(order.data(), n);
        engine::sort_i64(values.data(), n);
        ASSERT_EQ(0, std::memcmp(anchors.data(), want_anchors.data(),
                                 anchors.size() * sizeof(engine::anchor_t)));
        for (std::size_t i = 0; i < order.size(); ++i) {  // fields: the record has padding
            ASSERT_EQ(order[i].score, want_order[i].score);
            ASSERT_EQ(order[i].index, want_order[i].index);
        }
        ASSERT_EQ(values, want_values);
    }
}

// ---------------------------------------------------------------------------
// Chain extraction.

TEST(ChainStrand, EvenCountMedianTruncates) {
    // Diagonals 10 and 13: median 11.5, truncated to 11.
    const auto chains = library_chain_strand({23, 10}, {10, 0}, 0, 100, 15, 0.0);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(chains[0].diag, 11);
    EXPECT_EQ(chains[0].n_anchors, 2);
    EXPECT_EQ(chains[0].ref_start, 10);
    EXPECT_EQ(chains[0].ref_end, 38);
    EXPECT_EQ(chains[0].query_start, 0);
    EXPECT_EQ(chains[0].query_end, 25);
    const double gs = engine::CHAIN_GAP_COEF * 15;
    EXPECT_TRUE(same_bits(chains[0].score, 15.0 + 10 - (gs * 3 + 0.5 * std::log2(3.0))));
}

TEST(ChainStrand, NegativeEvenMedianTruncatesTowardZero) {
    // Diagonals -13 and -10: -11.5 becomes -11.
    const auto chains = library_chain_strand({0, 13}, {13, 23}, 0, 100, 15, 0.0);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(chains[0].diag, -11);
}

TEST(ChainStrand, ReverseStrandChainsDecreasingQueryPositions) {
    // qlen 200, k 15: y = 185 - query_pos rises while query_pos falls.
    const std::vector<std::int64_t> ref = {1000, 1020, 1040};
    const std::vector<std::int64_t> query = {150, 130, 110};
    const auto chains = library_chain_strand(ref, query, 1, 200, 15, 0.0);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(chains[0].strand, 1);
    EXPECT_EQ(chains[0].n_anchors, 3);
    EXPECT_EQ(chains[0].ref_start, 1000);
    EXPECT_EQ(chains[0].ref_end, 1055);
    EXPECT_EQ(chains[0].query_start, 110);
    EXPECT_EQ(chains[0].query_end, 165);
    // ref_pos + query_pos is 1150 for all three, less (qlen - k).
    EXPECT_EQ(chains[0].diag, 1150 - 185);
    EXPECT_EQ(chains[0].score, 15.0 + 15 + 15);
    // The same anchors taken as forward ones never link.
    EXPECT_TRUE(library_chain_strand(ref, query, 0, 200, 15, 0.0).empty());
}

TEST(ChainStrand, UnlinkedAnchorsGiveNoChains) {
    EXPECT_TRUE(library_chain_strand({10, 9000, 20000}, {0, 5, 10}, 0, 100, 15, 0.0).empty());
    EXPECT_TRUE(library_chain_strand({10}, {0}, 0, 100, 15, -1e9).empty());
}

TEST(ChainStrand, ScoresBelowMinimumStopExtraction) {
    const std::vector<std::int64_t> ref = {100, 110, 120};
    const std::vector<std::int64_t> query = {0, 10, 20};
    EXPECT_EQ(library_chain_strand(ref, query, 0, 100, 15, 35.0).size(), 1u);
    EXPECT_TRUE(library_chain_strand(ref, query, 0, 100, 15, 35.5).empty());
}

// A main chain of ten gap-free anchors 20 apart (f = 15, 30, ..., 150) and a
// three-anchor branch leaving it after its third anchor (40, 40).
struct Branched {
    std::vector<std::int64_t> ref = {0, 20, 40, 60, 80, 100, 120, 140, 160, 180, 45, 57, 69};
    std::vector<std::int64_t> query = {0, 20, 40, 60, 80, 100, 120, 140, 160, 180, 80, 92, 104};
};

TEST(ChainStrand, SecondChainKeepsOnlyItsOwnAnchorsAndScoreAboveJunction) {
    const Branched b;
    const double gs = engine::CHAIN_GAP_COEF * 15;
    // (45, 80) links to (40, 40) across an indel of 35; the rest is gap-free.
    const double branch_end = 45.0 + 5 - (gs * 35 + 0.5 * std::log2(35.0)) + 12 + 12;
    const auto chains = library_chain_strand(b.ref, b.query, 0, 300, 15, 0.0);
    ASSERT_EQ(chains.size(), 2u);
    EXPECT_EQ(chains[0].score, 150.0);
    EXPECT_EQ(chains[0].n_anchors, 10);
    EXPECT_EQ(chains[1].n_anchors, 3);
    EXPECT_EQ(chains[1].ref_start, 45);
    EXPECT_EQ(chains[1].ref_end, 84);
    EXPECT_EQ(chains[1].query_start, 80);
    EXPECT_EQ(chains[1].query_end, 119);
    EXPECT_EQ(chains[1].diag, -35);
    EXPECT_TRUE(same_bits(chains[1].score, branch_end - 45.0));
    const auto model = model_chain_strand(b.ref, b.query, 0, 300, 15, 0.0);
    ASSERT_EQ(model.size(), 2u);
    for (int i = 0; i < 2; ++i) expect_same_chain(chains[i], model[i]);
}

TEST(ChainStrand, DroppedSecondChainStillUsesItsAnchors) {
    // The branch's own part (about 21.2) is below 25: dropped, and its
    // anchors, marked on the way back, give no further chain either.
    const Branched b;
    const auto chains = library_chain_strand(b.ref, b.query, 0, 300, 15, 25.0);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(chains[0].n_anchors, 10);
}

// A colinear chain planted on one strand of a read, with small indels,
// plus noise anchors and duplicates.
struct Planted {
    std::vector<std::int64_t> ref, query;
};

void plant_chain(std::mt19937_64 &rng, Planted &p, int strand, int qlen, int k, int count,
                 bool indels = true) {
    std::int64_t ref = 10000 + static_cast<std::int64_t>(rng() % 1000000);
    std::int64_t along = static_cast<std::int64_t>(rng() % 50);  // position on the chained orientation
    for (int i = 0; i < count && along <= qlen - k; ++i) {
        const std::int64_t q = strand == 0 ? along : (qlen - k) - along;
        p.ref.push_back(ref);
        p.query.push_back(q);
        const std::int64_t step = 1 + static_cast<std::int64_t>(rng() % 40);
        along += step;
        ref += step + (indels ? static_cast<std::int64_t>(rng() % 5) - 2 : 0);
    }
}

Planted random_anchor_set(std::mt19937_64 &rng, int qlen, int k) {
    Planted p;
    const int chains = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < chains; ++c) plant_chain(rng, p, static_cast<int>(rng() % 2), qlen, k, 5 + rng() % 60);
    const int noise = static_cast<int>(rng() % 80);
    for (int i = 0; i < noise; ++i) {
        p.ref.push_back(static_cast<std::int64_t>(rng() % 2000000));
        p.query.push_back(static_cast<std::int64_t>(rng() % (qlen - k + 1)));
    }
    const int dups = static_cast<int>(rng() % 4);
    for (int i = 0; i < dups && !p.ref.empty(); ++i) {
        const std::size_t from = rng() % p.ref.size();
        p.ref.push_back(p.ref[from]);
        p.query.push_back(p.query[from]);
    }
    // Shuffle: chaining must not depend on input order.
    std::vector<std::size_t> perm(p.ref.size());
    std::iota(perm.begin(), perm.end(), 0);
    std::shuffle(perm.begin(), perm.end(), rng);
    Planted shuffled;
    for (std::size_t i : perm) {
        shuffled.ref.push_back(p.ref[i]);
        shuffled.query.push_back(p.query[i]);
    }
    return shuffled;
}

TEST(ChainStrand, MatchesModelOnPlantedAnchorsWithNoise) {
    std::mt19937_64 rng(31337);
    int chains_seen = 0;
    for (int round = 0; round < 500; ++round) {
        const int qlen = 300 + static_cast<int>(rng() % 3000);
        const int k = 10 + static_cast<int>(rng() % 20);
        const Planted p = random_anchor_set(rng, qlen, k);
        if (p.ref.empty()) continue;
        const double min_score = (rng() % 2) ? 0.0 : static_cast<double>(rng() % 200);
        for (int strand : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " strand " << strand);
            const auto want = model_chain_strand(p.ref, p.query, strand, qlen, k, min_score);
            const auto got =
                library_chain_strand(p.ref, p.query, strand, qlen, k, min_score, round % 3);
            ASSERT_EQ(got.size(), want.size());
            for (std::size_t i = 0; i < got.size(); ++i) expect_same_chain(got[i], want[i]);
            chains_seen += static_cast<int>(got.size());
        }
    }
    EXPECT_GT(chains_seen, 500);
}

TEST(ChainStrand, PlantedChainIsRecovered) {
    std::mt19937_64 rng(8);
    for (int strand : {0, 1}) {
        Planted p;
        plant_chain(rng, p, strand, 5000, 15, 40, false);
        const auto chains = library_chain_strand(p.ref, p.query, strand, 5000, 15, 0.0);
        ASSERT_EQ(chains.size(), 1u);
        EXPECT_EQ(chains[0].n_anchors, static_cast<int>(p.ref.size()));
        EXPECT_EQ(chains[0].ref_start, *std::min_element(p.ref.begin(), p.ref.end()));
        EXPECT_EQ(chains[0].query_start, *std::min_element(p.query.begin(), p.query.end()));
    }
}

TEST(ChainStrand, EachReservationFailureAppendsNothing) {
    std::mt19937_64 rng(77);
    const Planted p = random_anchor_set(rng, 2000, 15);
    const int n = static_cast<int>(p.ref.size());
    std::vector<chain_t> chains(n / 2 + 3);
    std::int32_t n_chains = 3;
    engine_test::expect_each_allocation_failure(
        [&] {
            n_chains = 3;
            chains[3].n_anchors = -5;
            return _chain_strand(p.ref.data(), p.query.data(), n, 0, 2000, 15, 0.0, chains.data(),
                                 &n_chains);
        },
        [&](std::int32_t result) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(n_chains, 3);
            EXPECT_EQ(chains[3].n_anchors, -5);
        });
    EXPECT_EQ(engine_test::count_allocations([&] {
                  n_chains = 3;
                  return _chain_strand(p.ref.data(), p.query.data(), n, 0, 2000, 15, 0.0,
                                       chains.data(), &n_chains);
              }),
              9);
}

}  // namespace
