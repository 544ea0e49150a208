// nw_semiglobal: worked examples, the straightforward model on random
// inputs, and both failure stages.
#include <gtest/gtest.h>

#include "align/aligner_models.h"
#include "seqio/codes.h"

namespace {

using namespace align_test;
using engine::_MAP_DECODE;

Alignment semiglobal(const std::string &a, const std::string &b, Scores s) {
    return run(nw_semiglobal, nt(a), nt(b), s, _MAP_DECODE);
}

TEST(NwSemiglobal, BothEmpty) {
    EXPECT_EQ(semiglobal("", "", {1, -1, -1}), (Alignment{0, "", "", 0, 0, 0, 0}));
}

TEST(NwSemiglobal, OnlyBIsFree) {
    EXPECT_EQ(semiglobal("", "ACG", {1, -1, -1}), (Alignment{3, "---", "ACG", 0, 0, 0, 3}));
}

TEST(NwSemiglobal, OnlyAEndsAtTheOrigin) {
    // The last column holds 0, -2, -4, -6: cell (0, 0) beats the corner.
    EXPECT_EQ(semiglobal("ACG", "", {1, -1, -2}), (Alignment{3, "ACG", "---", 0, 0, 0, 3}));
}

TEST(NwSemiglobal, AContainedInB) {
    EXPECT_EQ(semiglobal("CG", "AACGTT", {1, -1, -1}),
              (Alignment{6, "--CG--", "AACGTT", 2, 2, 0, 4}));
}

TEST(NwSemiglobal, TiesPreferTheLastRowsLeftmostCell) {
    // Last row -2, 0, 0 and last column 0, 0, 0: the end is (2, 1), so B's
    // final C is a free tail, and the last column's equal cells lose.
    EXPECT_EQ(semiglobal("AA", "AC", {1, -1, -1}), (Alignment{3, "AA-", "-AC", 0, 1, 0, 2}));
}

TEST(NwSemiglobal, ALeadingResiduesAreNeverFree) {
    EXPECT_EQ(semiglobal("TTACG", "ACG", {1, -1, -1}),
              (Alignment{5, "TTACG", "--ACG", 1, 3, 0, 2}));
}

TEST(NwSemiglobal, OverlapOfAsEndWithBsStart) {
    EXPECT_EQ(semiglobal("ACGTT", "GTTCA", {1, -1, -1}),
              (Alignment{7, "ACGTT--", "--GTTCA", 1, 3, 0, 4}));
}

TEST(NwSemiglobal, MatchesModelOnRandomInputs) { expect_matches_model(nw_semiglobal, model_semiglobal, 8122026); }

TEST(NwSemiglobal, FailsInTwoStages) { expect_plain_failure_stages(nw_semiglobal, model_semiglobal); }

}  // namespace
