// The block-wise line cursor against repeated line_at calls, on texts of
// every length around the 64-byte block size and with lines of any length.
#include "seqio/lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string random_text(std::mt19937 &rng, std::size_t n, unsigned line_feed_odds) {
    std::string s(n, 'A');
    for (auto &c : s) {
        const unsigned roll = rng() % line_feed_odds;
        c = roll == 0 ? '\n' : roll == 1 ? '\r' : "ACGT@+"[rng() % 6];
    }
    return s;
}

TEST(LineCursor, GivesTheLinesOfRepeatedLineAt) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20000; ++trial) {
        const std::size_t n = trial < 400 ? static_cast<std::size_t>(trial % 200) : rng() % 1000;
        const unsigned odds = trial % 2 ? 4 : 3 + rng() % 300;
        const std::string s = random_text(rng, n, odds);
        std::vector<char> text(s.begin(), s.end());  // exact size: over-reads are caught
        const char *end = text.data() + text.size();
        const char *p = text.data() + (n ? rng() % (n + 1) : 0);

        engine::LineCursor cursor(p, end);
        // Past the last line both give empty unterminated lines at the end.
        for (int line = 0; line < 1100; ++line) {
            const engine::Line want = engine::line_at(p, end);
            ASSERT_EQ(cursor.position(), p);
            const engine::Line got = cursor.next();
            ASSERT_EQ(got.begin, want.begin) << "trial " << trial << " line " << line;
            ASSERT_EQ(got.end, want.end) << "trial " << trial << " line " << line;
            ASSERT_EQ(got.next, want.next);
            ASSERT_EQ(got.terminated, want.terminated);
            if (p == end) break;
            p = want.next;
        }
    }
}

}  // namespace
