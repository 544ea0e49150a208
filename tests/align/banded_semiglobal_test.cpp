// nw_banded_semiglobal: worked examples, the straightforward full-grid model
// on random inputs and bands, huge and negative bands, and both failure
// stages.
#include <gtest/gtest.h>

#include <climits>

#include "align/aligner_models.h"
#include "seqio/codes.h"

namespace {

using namespace align_test;
using engine::_MAP_DECODE;

constexpr std::int32_t kUnreachable = -1073741824;

Alignment banded_semi(const std::string &a, const std::string &b, Scores s, std::int32_t band) {
    return run(nw_banded_semiglobal, nt(a), nt(b), s, band, _MAP_DECODE);
}

const Scores kUnit{1, -1, -1};

TEST(NwBandedSemiglobal, BothEmpty) {
    EXPECT_EQ(banded_semi("", "", kUnit, 0), (Alignment{0, "", "", 0, 0, 0, 0}));
}

TEST(NwBandedSemiglobal, FreePrefixOfBInsideTheBand) {
    EXPECT_EQ(banded_semi("ACGT", "TTACGT", kUnit, 2),
              (Alignment{6, "--ACGT", "TTACGT", 4, 4, 0, 2}));
}

TEST(NwBandedSemiglobal, FreeSuffixOfA) {
    EXPECT_EQ(banded_semi("ACGTTT", "ACG", kUnit, 3),
              (Alignment{6, "ACGTTT", "ACG---", 3, 3, 0, 3}));
}

TEST(NwBandedSemiglobal, SuffixOfBIsPaidFor) {
    EXPECT_EQ(banded_semi("ACG", "ACGTT", kUnit, 2),
              (Alignment{5, "ACG--", "ACGTT", 1, 3, 0, 2}));
    EXPECT_EQ(run(nw_semiglobal, nt("ACG"), nt("ACGTT"), kUnit).score, 3);
}

TEST(NwBandedSemiglobal, PrefixOfBLongerThanTheBand) {
    EXPECT_EQ(banded_semi("ACGT", "TTTACGT", kUnit, 2),
              (Alignment{7, "---ACGT", "TTTACGT", kUnreachable, 4, 0, 3}));
}

TEST(NwBandedSemiglobal, OnlyB) {
    EXPECT_EQ(banded_semi("", "ACG", kUnit, 5), (Alignment{3, "---", "ACG", 0, 0, 0, 3}));
    EXPECT_EQ(banded_semi("", "ACG", kUnit, 1),
              (Alignment{3, "---", "ACG", kUnreachable, 0, 0, 3}));
}

TEST(NwBandedSemiglobal, OnlyAIsAllFreeTail) {
    EXPECT_EQ(banded_semi("ACG", "", {1, -1, -2}, 4), (Alignment{3, "ACG", "---", 0, 0, 0, 3}));
    EXPECT_EQ(banded_semi("ACG", "", {1, -1, -2}, 0), (Alignment{3, "ACG", "---", 0, 0, 0, 3}));
}

TEST(NwBandedSemiglobal, NegativeBandWritesNothing) {
    expect_negative_band_refused(nw_banded_semiglobal);
}

TEST(NwBandedSemiglobal, HugeBandEqualsAnyBandCoveringTheMatrix) {
    std::mt19937 rng(99);
    for (int round = 0; round < 60; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 200));
        const Codes B = mutate(rng, A, 30);
        const Scores s = random_scores(rng);
        const auto covering = static_cast<std::int32_t>(std::max(A.size(), B.size()));
        const Alignment expected = run(nw_banded_semiglobal, A, B, s, covering);
        for (std::int32_t band : {INT32_MAX, 1 << 30, covering + 1}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " band " << band);
            ASSERT_EQ(run(nw_banded_semiglobal, A, B, s, band), expected);
        }
    }
}

TEST(NwBandedSemiglobal, MatchesModelOnRandomInputs) {
    expect_matches_model(nw_banded_semiglobal, model_banded_semiglobal, 31337);
}

TEST(NwBandedSemiglobal, FailsInTwoStages) {
    expect_banded_failure_stages(nw_banded_semiglobal, model_banded_semiglobal);
}

}  // namespace
