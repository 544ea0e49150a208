// nw_banded: worked examples, the straightforward full-grid model on random
// inputs and bands, huge and negative bands, and both failure stages.
#include <gtest/gtest.h>

#include <climits>

#include "align/aligner_models.h"
#include "seqio/codes.h"

namespace {

using namespace align_test;
using engine::_MAP_DECODE;

constexpr std::int32_t kUnreachable = -1073741824;

Alignment banded(const std::string &a, const std::string &b, Scores s, std::int32_t band) {
    return run(nw_banded, nt(a), nt(b), s, band, _MAP_DECODE);
}

TEST(NwBanded, BothEmpty) {
    EXPECT_EQ(banded("", "", {1, -1, -1}, 0), (Alignment{0, "", "", 0, 0, 0, 0}));
    EXPECT_EQ(banded("", "", {1, -1, -1}, 7), (Alignment{0, "", "", 0, 0, 0, 0}));
}

TEST(NwBanded, ZeroBandEqualLengthsStaysOnTheDiagonal) {
    EXPECT_EQ(banded("AC", "GT", {1, -1, -1}, 0), (Alignment{2, "AC", "GT", -2, 0, 2, 0}));
    // Up and left predecessors of (1, 1) lie outside the band, so even a
    // costly mismatch is taken.
    EXPECT_EQ(banded("AC", "GT", {1, -5, -1}, 0), (Alignment{2, "AC", "GT", -10, 0, 2, 0}));
}

TEST(NwBanded, GapInsideNarrowBand) {
    EXPECT_EQ(banded("ACGTACGT", "ACGACGT", {2, -1, -2}, 1),
              (Alignment{8, "ACGTACGT", "ACG-ACGT", 12, 7, 0, 1}));
}

TEST(NwBanded, EndOutsideTheBand) {
    EXPECT_EQ(banded("ACGTAC", "AC", {1, -1, -1}, 1),
              (Alignment{6, "ACGTAC", "----AC", kUnreachable, 2, 0, 4}));
    EXPECT_EQ(banded("ACG", "ACGT", {1, -1, -1}, 0),
              (Alignment{4, "-ACG", "ACGT", kUnreachable, 0, 3, 1}));
    EXPECT_EQ(banded("ACG", "TT", {1, -1, -1}, 0),
              (Alignment{3, "ACG", "-TT", kUnreachable, 0, 2, 1}));
    EXPECT_EQ(banded("ACG", "T", {1, -1, -1}, 1),
              (Alignment{3, "ACG", "--T", kUnreachable, 0, 1, 2}));
    EXPECT_EQ(banded("", "ACGTA", {1, -1, -1}, 2),
              (Alignment{5, "-----", "ACGTA", kUnreachable, 0, 0, 5}));
}

TEST(NwBanded, OneSequenceEmpty) {
    EXPECT_EQ(banded("ACG", "", {1, -1, -2}, 5), (Alignment{3, "ACG", "---", -6, 0, 0, 3}));
    EXPECT_EQ(banded("ACG", "", {1, -1, -2}, 1),
              (Alignment{3, "ACG", "---", kUnreachable, 0, 0, 3}));
    EXPECT_EQ(banded("", "AC", {1, -1, -2}, 2), (Alignment{2, "--", "AC", -4, 0, 0, 2}));
}

TEST(NwBanded, NegativeBandWritesNothing) { expect_negative_band_refused(nw_banded); }

// A band wider than both sequences holds every cell, however wide: even
// INT32_MAX, whose row width 2w + 1 does not fit 32 bits, gives the
// full-matrix result.
TEST(NwBanded, HugeBandGivesTheGlobalAlignment) {
    std::mt19937 rng(77);
    for (int round = 0; round < 60; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 200));
        const Codes B = mutate(rng, A, 30);
        const Scores s = usual_scores(rng);
        for (std::int32_t band : {INT32_MAX, INT32_MAX / 2 + 1, 1 << 30, 1 << 20}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " band " << band);
            ASSERT_EQ(run(nw_banded, A, B, s, band), run(nw_global, A, B, s));
        }
    }
}

TEST(NwBanded, MatchesModelOnRandomInputs) {
    expect_matches_model(nw_banded, model_banded, 4242);
}

TEST(NwBanded, FailsInTwoStages) { expect_banded_failure_stages(nw_banded, model_banded); }

}  // namespace
