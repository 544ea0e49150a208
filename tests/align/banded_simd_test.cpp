// The vector kernels against the scalar anti-diagonal sweep: identical
// score, strings, counters and result on random cases inside the 16-bit
// range, at the block and band edges, on long mapping-sized windows; and
// the choice nw_banded_diag_simd makes between the kernels.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "align/banded_simd.h"
#include "banded_diag_support.h"
#include "engine.h"

namespace {

using namespace banded_test;
using engine::_nw_banded_diag_simd_i16;
using engine::_nw_banded_diag_simd_i32;
using engine::banded_scores_fit_i16;

void expect_kernels_equal_scalar(const Codes &a, const Codes &b, Scores s, std::int32_t band) {
    const auto n = static_cast<std::int32_t>(a.size()), m = static_cast<std::int32_t>(b.size());
    const Result scalar = run(nw_banded_diag, a, b, s, band);
    ASSERT_EQ(run(_nw_banded_diag_simd_i32, a, b, s, band), scalar) << "i32";
    ASSERT_TRUE(banded_scores_fit_i16(n, m, s.match, s.mismatch, s.gap, band));
    ASSERT_EQ(run(_nw_banded_diag_simd_i16, a, b, s, band), scalar) << "i16";
    ASSERT_EQ(run(nw_banded_diag_simd, a, b, s, band), scalar) << "nw_banded_diag_simd";
}

// Related pairs of lengths 0 to a few thousand with bands 0 to 100, and a
// share of unrelated pairs of unequal lengths whose end cell often lies
// outside the band.
TEST(BandedSimd, KernelsEqualScalarOnRandomCases) {
    std::mt19937 rng(424242);
    for (int round = 0; round < 400; ++round) {
        const std::size_t n = round % 20 == 0 ? rng() % 3000 : rng() % 300;
        const Codes a = random_codes(rng, n);
        const Codes b = rng() % 4 ? mutate(rng, a, 0.02 + 0.2 * (rng() % 100) / 100.0)
                                  : random_codes(rng, rng() % 300);
        const Scores s = random_small_scores(rng);
        const auto band = static_cast<std::int32_t>(rng() % 101);
        SCOPED_TRACE(testing::Message() << "round " << round << " n " << a.size() << " m "
                                        << b.size() << " band " << band);
        expect_kernels_equal_scalar(a, b, s, band);
    }
}

// Bands narrower than a block: every anti-diagonal has fewer than 8 or 16
// cells, or just about that many, so the single-cell rule and the shifted
// last block both run.
TEST(BandedSimd, NarrowBandsAroundTheBlockWidths) {
    std::mt19937 rng(99);
    for (int round = 0; round < 600; ++round) {
        const Codes a = random_codes(rng, rng() % 120);
        const Codes b = rng() % 2 ? mutate(rng, a, 0.1) : random_codes(rng, rng() % 120);
        const auto band = static_cast<std::int32_t>(rng() % 36);
        SCOPED_TRACE(testing::Message() << "round " << round << " band " << band);
        expect_kernels_equal_scalar(a, b, random_small_scores(rng), band);
    }
}

// Scores of any sign, including a positive gap, which makes the kernels
// mask the gap candidates of predecessors outside the band.
TEST(BandedSimd, ScoresOfAnySign) {
    std::mt19937 rng(31337);
    for (int round = 0; round < 400; ++round) {
        const Codes a = random_codes(rng, rng() % 400);
        const Codes b = rng() % 2 ? mutate(rng, a, 0.1) : random_codes(rng, rng() % 400);
        const Scores s{static_cast<std::int32_t>(rng() % 11) - 5,
                       static_cast<std::int32_t>(rng() % 11) - 5,
                       static_cast<std::int32_t>(rng() % 7) - 3};
        const auto band = static_cast<std::int32_t>(rng() % 70);
        SCOPED_TRACE(testing::Message() << "round " << round << " gap " << s.gap);
        expect_kernels_equal_scalar(a, b, s, band);
    }
}

// Read mapping's settings on windows of up to 20,000 at about 10%
// divergence; the 16-bit kernel up to 12,000.
TEST(BandedSimd, LongWindowsWithMappingSettings) {
    std::mt19937 rng(2026);
    const Scores s{2, -1, -2};
    for (const std::size_t len : {1000u, 5000u, 12000u, 12001u, 20000u}) {
        const Codes a = random_codes(rng, len);
        Codes b = mutate(rng, a, 0.1);
        b.resize(len, 0);  // mapping aligns windows of equal length
        SCOPED_TRACE(testing::Message() << "length " << len);
        const Result scalar = run(nw_banded_diag, a, b, s, 64);
        EXPECT_EQ(run(_nw_banded_diag_simd_i32, a, b, s, 64), scalar);
        EXPECT_EQ(run(nw_banded_diag_simd, a, b, s, 64), scalar);
        if (len <= 12000) {
            EXPECT_EQ(run(_nw_banded_diag_simd_i16, a, b, s, 64), scalar);
        }
    }
}

TEST(BandedSimdSelection, LengthEdges) {
    using engine::banded_simd_picks_i16;
    EXPECT_TRUE(banded_simd_picks_i16(12000, 12000, 2, -1, -2, 64));
    EXPECT_TRUE(banded_simd_picks_i16(12000, 0, 2, -1, -2, 64));
    EXPECT_FALSE(banded_simd_picks_i16(12001, 12000, 2, -1, -2, 64));
    EXPECT_FALSE(banded_simd_picks_i16(12000, 12001, 2, -1, -2, 64));
    EXPECT_FALSE(banded_simd_picks_i16(12001, 3, 1, -1, -1, 0));
    EXPECT_FALSE(banded_simd_picks_i16(300, 300, 2, -1, -200, 100));
    // Past 12,000 on either side the 32-bit kernel runs whatever the bound
    // says; both kernels agree there as long as the 16-bit range holds.
    std::mt19937 rng(8);
    const Codes a = random_codes(rng, 12001), b = mutate(rng, a, 0.05);
    const Result scalar = run(nw_banded_diag, a, b, {2, -1, -2}, 64);
    EXPECT_EQ(run(nw_banded_diag_simd, a, b, {2, -1, -2}, 64), scalar);
    EXPECT_EQ(run(nw_banded_diag_simd, b, a, {2, -1, -2}, 64),
              run(nw_banded_diag, b, a, {2, -1, -2}, 64));
}

// The bound keeps the 16-bit kernel where its range provably holds and
// gives it up wherever a score or candidate could leave it.
TEST(BandedSimdSelection, RangeBound) {
    EXPECT_TRUE(banded_scores_fit_i16(12000, 12000, 2, -1, -2, 64));
    EXPECT_TRUE(banded_scores_fit_i16(0, 0, 2, -1, -2, 64));
    EXPECT_FALSE(banded_scores_fit_i16(300, 300, 2, -1, -200, 100));  // row 0 reaches -20000
    EXPECT_FALSE(banded_scores_fit_i16(12000, 12000, 3, -1, -2, 64));  // 36000 > 32767
    EXPECT_FALSE(banded_scores_fit_i16(12000, 12000, 2, -2, -2, 64));  // -24128 < -16383
    EXPECT_FALSE(banded_scores_fit_i16(10, 10, 40000, -1, -1, 2));
    EXPECT_FALSE(banded_scores_fit_i16(100, 100, 1, -1, 200, 5));  // gaps add up
    EXPECT_FALSE(banded_scores_fit_i16(1, 1, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX));
    EXPECT_FALSE(banded_scores_fit_i16(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX,
                                       INT32_MAX));
}

// The range at its exact edges. The bound keeps the 16-bit kernel up to
// (n + 1) x 217 = 32767 with n = 150 (the best candidate is one column past
// the best score) and (n + 1) x -127 = -16383 down column 0 with n = 128;
// one residue or one point more gives it up. One residue more is still
// inside the kernel's own range (best score 151 x 217 = 32767, column-0
// score 129 x -127 = -16383), and there the kernel must still be exact, as
// for a lowest candidate of -16383 inside its blocks (16,382 mismatch
// columns at -1, then one more column).
TEST(BandedSimdSelection, RangeEdgesExactly) {
    EXPECT_TRUE(banded_scores_fit_i16(150, 150, 217, -1, -2, 64));
    EXPECT_FALSE(banded_scores_fit_i16(151, 151, 217, -1, -2, 64));
    EXPECT_FALSE(banded_scores_fit_i16(150, 150, 218, -1, -2, 64));
    EXPECT_TRUE(banded_scores_fit_i16(128, 0, 1, -1, -127, 128));
    EXPECT_FALSE(banded_scores_fit_i16(129, 0, 1, -1, -127, 129));
    EXPECT_FALSE(banded_scores_fit_i16(128, 0, 1, -1, -128, 128));

    std::mt19937 rng(16);
    const Scores high{217, -1, -2}, low{1, -1, -127};
    for (const std::size_t n : {150u, 151u}) {  // at the bound, then one past it
        const Codes a = random_codes(rng, n);
        const Result scalar = run(nw_banded_diag, a, a, high, 64);
        EXPECT_EQ(scalar.score, static_cast<std::int32_t>(n) * 217);
        EXPECT_EQ(run(nw_banded_diag_simd, a, a, high, 64), scalar) << n;
        EXPECT_EQ(run(_nw_banded_diag_simd_i16, a, a, high, 64), scalar) << n;
    }
    for (const std::size_t n : {128u, 129u}) {
        const Codes a = random_codes(rng, n);
        const auto band = static_cast<std::int32_t>(n);
        const Result scalar = run(nw_banded_diag, a, {}, low, band);
        EXPECT_EQ(scalar.score, -127 * band);
        EXPECT_EQ(run(nw_banded_diag_simd, a, {}, low, band), scalar) << n;
        EXPECT_EQ(run(_nw_banded_diag_simd_i16, a, {}, low, band), scalar) << n;
    }
    const Codes zeros(16382, 0), ones(16382, 1);
    EXPECT_EQ(run(_nw_banded_diag_simd_i16, zeros, ones, {1, -1, -1}, 16),
              run(nw_banded_diag, zeros, ones, {1, -1, -1}, 16));
}

// Scores beyond the 16-bit range go to the 32-bit kernel, so the outputs
// stay those of nw_banded_diag.
TEST(BandedSimdSelection, OutOfRangeScoresGiveScalarResults) {
    std::mt19937 rng(12);
    const Codes a = random_codes(rng, 300), b = mutate(rng, a, 0.1);
    for (const Scores s : {Scores{2, -1, -200}, Scores{150, -1, -2}, Scores{2, -90, -2}}) {
        SCOPED_TRACE(testing::Message() << s.match << "/" << s.mismatch << "/" << s.gap);
        EXPECT_EQ(run(nw_banded_diag_simd, a, b, s, 100), run(nw_banded_diag, a, b, s, 100));
    }
}

}  // namespace
