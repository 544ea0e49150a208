// nw_global: worked examples, the straightforward model on random inputs,
// and both failure stages.
#include <gtest/gtest.h>

#include "align/aligner_models.h"
#include "seqio/codes.h"

namespace {

using namespace align_test;
using engine::_MAP_DECODE;

Alignment global(const std::string &a, const std::string &b, Scores s) {
    return run(nw_global, nt(a), nt(b), s, _MAP_DECODE);
}

TEST(NwGlobal, BothEmpty) {
    EXPECT_EQ(global("", "", {1, -1, -1}), (Alignment{0, "", "", 0, 0, 0, 0}));
}

TEST(NwGlobal, OnlyA) {
    EXPECT_EQ(global("ACG", "", {1, -1, -2}), (Alignment{3, "ACG", "---", -6, 0, 0, 3}));
}

TEST(NwGlobal, OnlyB) {
    EXPECT_EQ(global("", "GT", {1, -1, -3}), (Alignment{2, "--", "GT", -6, 0, 0, 2}));
}

TEST(NwGlobal, DiagonalWinsATie) {
    EXPECT_EQ(global("A", "C", {1, -2, -1}), (Alignment{1, "A", "C", -2, 0, 1, 0}));
}

TEST(NwGlobal, GapsGoTowardsTheStart) {
    EXPECT_EQ(global("AA", "A", {1, -1, -1}), (Alignment{2, "AA", "-A", 0, 1, 0, 1}));
}

TEST(NwGlobal, UnknownCodesMatch) {
    // N and R both read as code 31.
    EXPECT_EQ(global("ANC", "ARC", {2, -1, -1}), (Alignment{3, "ANC", "ANC", 6, 3, 0, 0}));
}

TEST(NwGlobal, GapInsideAlignment) {
    EXPECT_EQ(global("ACGTACGT", "ACGACGT", {2, -1, -2}),
              (Alignment{8, "ACGTACGT", "ACG-ACGT", 12, 7, 0, 1}));
}

TEST(NwGlobal, MatchesModelOnRandomInputs) { expect_matches_model(nw_global, model_global, 20261208); }

TEST(NwGlobal, FailsInTwoStages) { expect_plain_failure_stages(nw_global, model_global); }

}  // namespace
