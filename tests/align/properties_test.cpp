// Properties across the row-by-row aligners: each reported score is the
// optimum found by exhaustive enumeration on tiny inputs and the score of the
// reported strings; counters and strings agree with each other and with the
// inputs; banded results equal full-matrix ones wherever the band does not
// bind.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "align/aligner_models.h"

namespace {

using namespace align_test;

// ---------------------------------------------------------------------------
// Exhaustive enumeration of alignment paths on tiny inputs.

struct Space {
    const Codes &A;
    const Codes &B;
    Scores s;
    std::function<bool(std::int64_t, std::int64_t)> allowed;  // cell may be on a path
    std::function<bool(std::int64_t, std::int64_t)> is_end;   // path may stop here
};

// Best score of any path from (i, j) onwards, `acc` gathered so far.
void explore(const Space &sp, std::int64_t i, std::int64_t j, std::int64_t acc,
             std::int64_t &best) {
    if (sp.is_end(i, j)) best = std::max(best, acc);
    const std::int64_t n = sp.A.size(), m = sp.B.size();
    if (i < n && j < m && sp.allowed(i + 1, j + 1))
        explore(sp, i + 1, j + 1, acc + (sp.A[i] == sp.B[j] ? sp.s.match : sp.s.mismatch), best);
    if (i < n && sp.allowed(i + 1, j)) explore(sp, i + 1, j, acc + sp.s.gap, best);
    if (j < m && sp.allowed(i, j + 1)) explore(sp, i, j + 1, acc + sp.s.gap, best);
}

std::int64_t best_from(const Space &sp, std::vector<std::pair<std::int64_t, std::int64_t>> starts,
                       std::int64_t none) {
    std::int64_t best = none;
    for (auto [i, j] : starts)
        if (sp.allowed(i, j)) explore(sp, i, j, 0, best);
    return best;
}

const auto anywhere = [](std::int64_t, std::int64_t) { return true; };

std::int64_t brute_global(const Codes &A, const Codes &B, Scores s) {
    const std::int64_t n = A.size(), m = B.size();
    Space sp{A, B, s, anywhere, [&](auto i, auto j) { return i == n && j == m; }};
    return best_from(sp, {{0, 0}}, LLONG_MIN);
}

std::int64_t brute_semiglobal(const Codes &A, const Codes &B, Scores s) {
    const std::int64_t n = A.size(), m = B.size();
    Space sp{A, B, s, anywhere, [&](auto i, auto j) { return i == n || j == m; }};
    std::vector<std::pair<std::int64_t, std::int64_t>> starts;
    for (std::int64_t j = 0; j <= m; ++j) starts.push_back({0, j});
    return best_from(sp, starts, LLONG_MIN);
}

std::int64_t brute_local(const Codes &A, const Codes &B, Scores s) {
    Space sp{A, B, s, anywhere, anywhere};
    std::vector<std::pair<std::int64_t, std::int64_t>> starts;
    for (std::int64_t i = 0; i <= static_cast<std::int64_t>(A.size()); ++i)
        for (std::int64_t j = 0; j <= static_cast<std::int64_t>(B.size()); ++j) starts.push_back({i, j});
    return best_from(sp, starts, 0);
}

std::int64_t brute_banded(const Codes &A, const Codes &B, Scores s, std::int64_t w) {
    const std::int64_t n = A.size(), m = B.size();
    Space sp{A, B, s, [&](auto i, auto j) { return in_band(i, j, w); },
             [&](auto i, auto j) { return i == n && j == m; }};
    return best_from(sp, {{0, 0}}, kNegInf);
}

std::int64_t brute_banded_semiglobal(const Codes &A, const Codes &B, Scores s, std::int64_t w) {
    const std::int64_t m = B.size();
    Space sp{A, B, s, [&](auto i, auto j) { return in_band(i, j, w); },
             [&](auto, auto j) { return j == m; }};
    std::vector<std::pair<std::int64_t, std::int64_t>> starts;
    for (std::int64_t j = 0; j <= m; ++j) starts.push_back({0, j});
    return best_from(sp, starts, kNegInf);
}

// ---------------------------------------------------------------------------
// Reading reported strings back.

enum class Kind { pair, a_only, b_only };

Kind kind_of(const Alignment &x, std::size_t c) {
    if (x.a[c] == '-') return Kind::b_only;
    if (x.b[c] == '-') return Kind::a_only;
    return Kind::pair;
}

// Score of the reported columns, the first `free_head` and the last
// `free_tail` of them costing nothing.
std::int64_t column_score(const Alignment &x, Scores s, std::size_t free_head,
                          std::size_t free_tail) {
    std::int64_t total = 0;
    for (std::size_t c = free_head; c + free_tail < x.a.size(); ++c) {
        const Kind k = kind_of(x, c);
        total += k != Kind::pair ? s.gap : (x.a[c] == x.b[c] ? s.match : s.mismatch);
    }
    return total;
}

// Leading columns with a gap in A, i.e. B's residues skipped before any of A.
std::size_t leading_b_only(const Alignment &x) {
    std::size_t c = 0;
    while (c < x.a.size() && kind_of(x, c) == Kind::b_only) ++c;
    return c;
}

// Trailing columns of kind `k`.
std::size_t trailing(const Alignment &x, Kind k) {
    std::size_t c = 0;
    while (c < x.a.size() && kind_of(x, x.a.size() - 1 - c) == k) ++c;
    return c;
}

// With a negative gap score a free tail is always the whole run of equal
// gap columns that ends the alignment.
std::size_t semiglobal_tail(const Alignment &x) {
    return std::max(trailing(x, Kind::a_only), trailing(x, Kind::b_only));
}

// True when every cell the columns pass through, from (0, 0), lies in the band.
bool path_in_band(const Alignment &x, std::int64_t w, std::size_t columns) {
    std::int64_t i = 0, j = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        const Kind k = kind_of(x, c);
        i += k != Kind::b_only;
        j += k != Kind::a_only;
        if (!in_band(i, j, w)) return false;
    }
    return true;
}

std::string letters(const Codes &codes) {
    std::string out;
    for (auto c : codes) out += kDistinct[c];
    return out;
}

std::string without_gaps(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != '-') out += c;
    return out;
}

// Counters agree with the strings and add up to the result, no column is
// all gaps, and the result stays within len_a + len_b.
void expect_consistent(const Alignment &x, const Codes &A, const Codes &B) {
    ASSERT_GE(x.result, 0);
    EXPECT_LE(static_cast<std::size_t>(x.result), A.size() + B.size());
    EXPECT_EQ(x.n_match + x.n_mismatch + x.n_gap, x.result);
    int match = 0, mismatch = 0, gap = 0;
    for (std::size_t c = 0; c < x.a.size(); ++c) {
        EXPECT_FALSE(x.a[c] == '-' && x.b[c] == '-') << "column " << c;
        if (kind_of(x, c) != Kind::pair)
            ++gap;
        else
            ++(x.a[c] == x.b[c] ? match : mismatch);
    }
    EXPECT_EQ(match, x.n_match);
    EXPECT_EQ(mismatch, x.n_mismatch);
    EXPECT_EQ(gap, x.n_gap);
}

Codes tiny_codes(std::mt19937 &rng) {
    static constexpr std::uint8_t kAlphabet[] = {0, 1, 31};  // few codes: many ties
    Codes out(rng() % 6);
    for (auto &c : out) c = kAlphabet[rng() % 3];
    return out;
}

// ---------------------------------------------------------------------------

TEST(AlignProperties, ScoresAreOptimalAndMatchTheStrings) {
    std::mt19937 rng(5);
    for (int round = 0; round < 400; ++round) {
        const Codes A = tiny_codes(rng), B = tiny_codes(rng);
        const Scores s = usual_scores(rng);
        const auto w = static_cast<std::int32_t>(rng() % 5);
        SCOPED_TRACE(testing::Message() << "round " << round << " '" << letters(A) << "' '"
                                        << letters(B) << "' " << s.match << "/" << s.mismatch
                                        << "/" << s.gap << " band " << w);

        const Alignment g = run(nw_global, A, B, s);
        EXPECT_EQ(g.score, brute_global(A, B, s));
        EXPECT_EQ(g.score, column_score(g, s, 0, 0));

        const Alignment sg = run(nw_semiglobal, A, B, s);
        EXPECT_EQ(sg.score, brute_semiglobal(A, B, s));
        EXPECT_EQ(sg.score, column_score(sg, s, leading_b_only(sg), semiglobal_tail(sg)));

        const Alignment loc = run(sw_align, A, B, s);
        EXPECT_EQ(loc.score, brute_local(A, B, s));
        EXPECT_EQ(loc.score, column_score(loc, s, 0, 0));

        const Alignment bd = run(nw_banded, A, B, s, w);
        EXPECT_EQ(bd.score, brute_banded(A, B, s, w));
        if (bd.score != kNegInf) {
            EXPECT_EQ(bd.score, column_score(bd, s, 0, 0));
        }

        const Alignment bs = run(nw_banded_semiglobal, A, B, s, w);
        EXPECT_EQ(bs.score, brute_banded_semiglobal(A, B, s, w));
        if (bs.score != kNegInf) {
            EXPECT_EQ(bs.score,
                      column_score(bs, s, leading_b_only(bs), trailing(bs, Kind::a_only)));
        }
    }
}

TEST(AlignProperties, CountersAndStringsAgree) {
    std::mt19937 rng(6);
    for (int round = 0; round < 300; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 250));
        const Codes B = rng() % 2 ? mutate(rng, A, 25) : random_codes(rng, random_length(rng, 250));
        const Scores s = random_scores(rng);
        const auto w = static_cast<std::int32_t>(rng() % 41);
        SCOPED_TRACE(testing::Message() << "round " << round);
        // All but the local alignment spell out both sequences in full.
        for (const Alignment &x :
             {run(nw_global, A, B, s), run(nw_semiglobal, A, B, s), run(nw_banded, A, B, s, w),
              run(nw_banded_semiglobal, A, B, s, w)}) {
            expect_consistent(x, A, B);
            EXPECT_EQ(without_gaps(x.a), letters(A));
            EXPECT_EQ(without_gaps(x.b), letters(B));
        }
        const Alignment loc = run(sw_align, A, B, s);
        expect_consistent(loc, A, B);
        EXPECT_NE(letters(A).find(without_gaps(loc.a)), std::string::npos);
        EXPECT_NE(letters(B).find(without_gaps(loc.b)), std::string::npos);
    }
}

TEST(AlignProperties, BandedEqualsGlobalWhenTheBandHoldsTheAlignment) {
    std::mt19937 rng(7);
    int inside = 0;
    for (int round = 0; round < 500; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 300));
        const Codes B = mutate(rng, A, static_cast<int>(rng() % 30));
        const Scores s = usual_scores(rng);
        const Alignment g = run(nw_global, A, B, s);
        const auto covering = static_cast<std::int32_t>(std::max(A.size(), B.size()));
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(run(nw_banded, A, B, s, covering), g);
        const auto w = static_cast<std::int32_t>(rng() % 41);
        if (path_in_band(g, w, g.a.size())) {
            ++inside;
            ASSERT_EQ(run(nw_banded, A, B, s, w), g) << "band " << w;
        }
    }
    EXPECT_GT(inside, 100);
}

TEST(AlignProperties, BandedSemiglobalEqualsSemiglobalWhereItsLimitsDoNotBind) {
    std::mt19937 rng(8);
    int compared = 0;
    for (int round = 0; round < 600; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 300));
        Codes B = mutate(rng, A, static_cast<int>(rng() % 30));
        if (rng() % 2) B.insert(B.begin(), rng() % 6, std::uint8_t{2});
        const Scores s = usual_scores(rng);
        const std::size_t n = A.size(), m = B.size();
        // Only the last column's topmost maximum can end the banded alignment.
        const Grid grid = full_fill(A, B, s, 0);
        const Cell end = semiglobal_end(grid, n, m);
        bool end_found = end.j == m;
        for (std::size_t i = 0; end_found && i < end.i; ++i)
            end_found = grid.H[i][m] < grid.H[end.i][m];
        if (!end_found) continue;
        const Alignment sg = run(nw_semiglobal, A, B, s);
        const auto w = static_cast<std::int32_t>(rng() % 41);
        const std::size_t tail = n - end.i;
        SCOPED_TRACE(testing::Message() << "round " << round << " band " << w);
        const auto covering = static_cast<std::int32_t>(std::max(n, m));
        ASSERT_EQ(run(nw_banded_semiglobal, A, B, s, covering), sg);
        if (path_in_band(sg, w, sg.a.size() - tail)) {
            ++compared;
            ASSERT_EQ(run(nw_banded_semiglobal, A, B, s, w), sg);
        }
    }
    EXPECT_GT(compared, 50);
}

}  // namespace
