// nw_banded_diag: the worked cases of the anti-diagonal sweep, agreement
// with the row-by-row nw_banded on many random cases, band edge cases and
// allocation failures. The worked cases also run through both vector kernels.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>

#include "align/align_common.h"
#include "align/banded_simd.h"
#include "banded_diag_support.h"
#include "engine.h"
#include "support/allocation_failure.h"

namespace {

using namespace banded_test;

constexpr std::int32_t kNegInf = -1073741824;

struct Named {
    const char *name;
    BandedAligner align;
};
const Named kDiagAligners[] = {{"nw_banded_diag", nw_banded_diag},
                               {"i16", engine::_nw_banded_diag_simd_i16},
                               {"i32", engine::_nw_banded_diag_simd_i32},
                               {"nw_banded_diag_simd", nw_banded_diag_simd}};

Result expected(std::int32_t columns, std::int32_t score, std::int32_t n_match,
                std::int32_t n_mismatch, std::int32_t n_gap, std::string a, std::string b) {
    Result r;
    r.columns = columns;
    r.score = score;
    r.n_match = n_match;
    r.n_mismatch = n_mismatch;
    r.n_gap = n_gap;
    r.a = std::move(a);
    r.b = std::move(b);
    r.strings_untouched = false;
    return r;
}

void expect_all(const std::string &a, const std::string &b, Scores s, std::int32_t band,
                const Result &want) {
    for (const Named &al : kDiagAligners) {
        SCOPED_TRACE(al.name);
        EXPECT_EQ(run(al.align, codes_of(a), codes_of(b), s, band), want);
    }
}

// The band rows of every anti-diagonal rest on halving rounded down.
TEST(BandGeometry, FloorDiv2RoundsDown) {
    for (std::int64_t x = -1000; x <= 1000; ++x)
        ASSERT_EQ(engine::floor_div2(x), x >= 0 ? x / 2 : -((-x + 1) / 2)) << x;
    EXPECT_EQ(engine::floor_div2(INT64_MAX), INT64_MAX / 2);
    EXPECT_EQ(engine::floor_div2(INT64_MIN + 1), INT64_MIN / 2);
}

TEST(BandedDiagWorked, BothEmpty) {
    expect_all("", "", {1, -1, -1}, 0, expected(0, 0, 0, 0, 0, "", ""));
}

TEST(BandedDiagWorked, OneGapInsideBandOne) {
    expect_all("ACGTACGT", "ACGACGT", {2, -1, -2}, 1,
               expected(8, 12, 7, 0, 1, "ACGTACGT", "ACG-ACGT"));
}

TEST(BandedDiagWorked, BandZeroEqualLengthsPairsPositions) {
    expect_all("ACGTT", "AGGTC", {3, -2, -1}, 0, expected(5, 3 * 3 - 2 * 2, 3, 2, 0, "ACGTT", "AGGTC"));
    expect_all("AC", "GT", {1, -1, -1}, 0, expected(2, -2, 0, 2, 0, "AC", "GT"));
}

TEST(BandedDiagWorked, BandZeroUnequalLengthsEndsOutsideBand) {
    expect_all("ACG", "TT", {1, -1, -1}, 0, expected(3, kNegInf, 0, 2, 1, "ACG", "-TT"));
    expect_all("ACG", "ACGT", {1, -1, -1}, 0, expected(4, kNegInf, 0, 3, 1, "-ACG", "ACGT"));
}

TEST(BandedDiagWorked, EndCellOutsideBandOne) {
    expect_all("ACGTAC", "AC", {1, -1, -1}, 1, expected(6, kNegInf, 2, 0, 4, "ACGTAC", "----AC"));
    expect_all("GGA", "T", {1, -1, -1}, 1, expected(3, kNegInf, 0, 1, 2, "GGA", "--T"));
}

TEST(BandedDiagWorked, EmptyASide) {
    expect_all("", "ACGTA", {1, -1, -1}, 2, expected(5, kNegInf, 0, 0, 5, "-----", "ACGTA"));
    expect_all("", "CA", {1, -1, -2}, 2, expected(2, -4, 0, 0, 2, "--", "CA"));
    expect_all("ACG", "", {1, -1, -2}, 5, expected(3, -6, 0, 0, 3, "ACG", "---"));
    expect_all("ACG", "", {1, -1, -2}, 1, expected(3, kNegInf, 0, 0, 3, "ACG", "---"));
}

TEST(BandedDiagWorked, BandZeroTakesDiagonalWhateverItsScore) {
    expect_all("AC", "GT", {1, -10, -1}, 0, expected(2, -20, 0, 2, 0, "AC", "GT"));
}

TEST(BandedDiagWorked, UnknownCodesMatch) {
    Result r = run(nw_banded_diag, {31, 0}, {31, 0}, {2, -1, -2}, 1);
    EXPECT_EQ(r.score, 4);
    EXPECT_EQ(r.n_match, 2);
}

TEST(BandedDiagWorked, NegativeBandWritesNothing) {
    for (const Named &al : kDiagAligners) {
        SCOPED_TRACE(al.name);
        const Result r = run(al.align, codes_of("ACGT"), codes_of("ACG"), {1, -1, -1}, -1);
        EXPECT_EQ(r.columns, -1);
        EXPECT_EQ(r.score, Result::kUntouched);
        EXPECT_EQ(r.n_gap, Result::kUntouched);
        EXPECT_TRUE(r.strings_untouched);
    }
}

// A band too wide for 2w + 1 or the slot count in 32 bits behaves as a band
// covering the whole matrix.
TEST(BandedDiagWorked, HugeBandEqualsWholeMatrixBand) {
    std::mt19937 rng(11);
    const Codes a = random_codes(rng, 40), b = random_codes(rng, 37);
    for (const Named &al : kDiagAligners) {
        SCOPED_TRACE(al.name);
        const Result whole = run(al.align, a, b, {2, -1, -2}, 40);
        EXPECT_EQ(run(al.align, a, b, {2, -1, -2}, INT32_MAX), whole);
        EXPECT_EQ(run(al.align, a, b, {2, -1, -2}, INT32_MAX / 2 + 1), whole);
        EXPECT_EQ(run(nw_banded, a, b, {2, -1, -2}, INT32_MAX), whole);
    }
}

TEST(BandedDiagDifferential, EqualsRowWiseBandedOnRandomCases) {
    std::mt19937 rng(20240601);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t n = rng() % (round % 10 == 0 ? 300 : 40);
        const Codes a = random_codes(rng, n);
        const Codes b = rng() % 2 ? mutate(rng, a, 0.15) : random_codes(rng, rng() % 40);
        const Scores s = random_small_scores(rng);
        const std::int32_t band = static_cast<std::int32_t>(rng() % 41);
        SCOPED_TRACE(testing::Message() << "round " << round << " n " << a.size() << " m "
                                        << b.size() << " band " << band);
        const Result row_wise = run(nw_banded, a, b, s, band);
        ASSERT_EQ(run(nw_banded_diag, a, b, s, band), row_wise);
        ASSERT_EQ(row_wise.n_match + row_wise.n_mismatch + row_wise.n_gap, row_wise.columns);
    }
}

TEST(BandedDiagDifferential, PositiveAndMixedScoreSigns) {
    std::mt19937 rng(77);
    for (int round = 0; round < 1000; ++round) {
        const Codes a = random_codes(rng, rng() % 60), b = random_codes(rng, rng() % 60);
        const Scores s{static_cast<std::int32_t>(rng() % 11) - 5,
                       static_cast<std::int32_t>(rng() % 11) - 5,
                       static_cast<std::int32_t>(rng() % 11) - 5};
        const std::int32_t band = static_cast<std::int32_t>(rng() % 20);
        ASSERT_EQ(run(nw_banded_diag, a, b, s, band), run(nw_banded, a, b, s, band))
            << "round " << round;
    }
}

// Reservations: traceback matrix, three score vectors, two working strings.
// A failure among the first four writes nothing; among the strings, only
// the score.
void expect_two_stage_failure(BandedAligner align) {
    std::mt19937 rng(5);
    const Codes a = random_codes(rng, 50), b = mutate(rng, a, 0.1);
    const Result ok = run(align, a, b, {2, -1, -2}, 20);
    for (long nth = 1; nth <= 6; ++nth) {
        SCOPED_TRACE(testing::Message() << "reservation " << nth);
        Result r;
        {
            engine_test::FailNthAllocation guard(nth);
            r = run(align, a, b, {2, -1, -2}, 20);
            EXPECT_TRUE(guard.failed());
        }
        EXPECT_EQ(r.columns, -1);
        EXPECT_EQ(r.score, nth <= 4 ? Result::kUntouched : ok.score);
        EXPECT_EQ(r.n_match, Result::kUntouched);
        EXPECT_EQ(r.n_mismatch, Result::kUntouched);
        EXPECT_EQ(r.n_gap, Result::kUntouched);
        EXPECT_TRUE(r.strings_untouched);
    }
    engine_test::expect_each_allocation_failure(
        [&] { return run(align, a, b, {2, -1, -2}, 20).columns; },
        [](std::int32_t columns) { EXPECT_EQ(columns, -1); });
}

TEST(BandedDiagAllocation, EachReservationFailsCleanly) {
    for (const Named &al : kDiagAligners) {
        SCOPED_TRACE(al.name);
        expect_two_stage_failure(al.align);
    }
}

}  // namespace
