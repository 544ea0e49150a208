// sw_align: worked examples, the straightforward model on random inputs,
// and both failure stages.
#include <gtest/gtest.h>

#include "align/aligner_models.h"
#include "seqio/codes.h"

namespace {

using namespace align_test;
using engine::_MAP_DECODE;

Alignment local(const std::string &a, const std::string &b, Scores s) {
    return run(sw_align, nt(a), nt(b), s, _MAP_DECODE);
}

const Alignment kEmpty{0, "", "", 0, 0, 0, 0};

TEST(SwAlign, EitherEmpty) {
    EXPECT_EQ(local("", "", {1, -1, -1}), kEmpty);
    EXPECT_EQ(local("ACG", "", {1, -1, -1}), kEmpty);
    EXPECT_EQ(local("", "ACG", {1, -1, -1}), kEmpty);
}

TEST(SwAlign, NothingInCommon) { EXPECT_EQ(local("GGG", "CCC", {1, -1, -1}), kEmpty); }

TEST(SwAlign, TiesGoToTheAlignmentEndingFirstInA) {
    EXPECT_EQ(local("AACC", "AAGCC", {1, -3, -3}), (Alignment{2, "AA", "AA", 2, 2, 0, 0}));
    EXPECT_EQ(local("CCAA", "AAGCC", {1, -3, -3}), (Alignment{2, "CC", "CC", 2, 2, 0, 0}));
}

TEST(SwAlign, GapInsideLocalAlignment) {
    EXPECT_EQ(local("ACGTACGT", "ACGACGT", {2, -1, -2}),
              (Alignment{8, "ACGTACGT", "ACG-ACGT", 12, 7, 0, 1}));
}

TEST(SwAlign, FlankingMismatchesLeftOut) {
    EXPECT_EQ(local("TTTACGTGGG", "CCACGTAA", {1, -2, -2}), (Alignment{4, "ACGT", "ACGT", 4, 4, 0, 0}));
}

TEST(SwAlign, MatchesModelOnRandomInputs) { expect_matches_model(sw_align, model_local, 1208); }

TEST(SwAlign, FailsInTwoStages) { expect_plain_failure_stages(sw_align, model_local); }

}  // namespace
