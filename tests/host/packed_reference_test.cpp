// The packed reference gives back exactly the codes it was built from, for
// any range: ends inside or at the edge of a packed byte and of a run of
// codes above 3.
#include "packed_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Codes = std::vector<uint8_t>;

// Random bases with runs of codes above 3: N (4), IUPAC-like codes and the
// separator (31), runs side by side with different codes, single ones, and
// runs at both ends.
Codes random_codes(std::mt19937_64 &rng, size_t n) {
    Codes c(n);
    for (uint8_t &x : c) x = uint8_t(rng() % 4);
    if (n == 0) return c;
    size_t runs = rng() % (n / 8 + 2);
    for (size_t r = 0; r < runs; ++r) {
        size_t at = rng() % n, len = 1 + rng() % (rng() % 4 ? 4 : 40);
        uint8_t code = uint8_t(4 + rng() % 28);
        for (size_t i = at; i < std::min(n, at + len); ++i) c[i] = code;
    }
    if (rng() % 2) c.front() = 4;
    if (rng() % 2) c.back() = 31;
    return c;
}

// Positions where extract changes how it works: packed byte edges, run
// edges, the ends.
std::vector<int64_t> edges(const Codes &c) {
    std::vector<int64_t> e{0, int64_t(c.size())};
    for (size_t i = 0; i < c.size(); ++i) {
        bool run_edge = i == 0 || (c[i] != c[i - 1] && (c[i] > 3 || c[i - 1] > 3));
        if (run_edge || i % 4 == 0) e.push_back(int64_t(i));
    }
    return e;
}

void expect_range(const bioeng::PackedReference &p, const Codes &c, int64_t start, int64_t len) {
    Codes got(size_t(len) + 2, 0xAA);
    p.extract(start, len, got.data() + 1);
    ASSERT_TRUE(std::equal(c.begin() + start, c.begin() + start + len, got.begin() + 1))
        << "range " << start << " + " << len << " of " << c.size();
    EXPECT_EQ(got.front(), 0xAA); // nothing written outside the range
    EXPECT_EQ(got.back(), 0xAA);
}

TEST(PackedReference, ExtractGivesEveryRangeOfSmallReferences) {
    std::mt19937_64 rng(4242);
    for (int trial = 0; trial < 300; ++trial) {
        Codes c = random_codes(rng, size_t(trial % 70));
        bioeng::PackedReference p(c.data(), int64_t(c.size()));
        ASSERT_EQ(p.size(), int64_t(c.size()));
        for (int64_t s = 0; s <= int64_t(c.size()); ++s)
            for (int64_t e = s; e <= int64_t(c.size()); ++e) expect_range(p, c, s, e - s);
    }
}

TEST(PackedReference, ExtractBetweenEdgesOfALargeReference) {
    std::mt19937_64 rng(77);
    Codes c = random_codes(rng, 200003);
    bioeng::PackedReference p(c.data(), int64_t(c.size()));
    std::vector<int64_t> e = edges(c);
    expect_range(p, c, 0, int64_t(c.size()));
    for (int t = 0; t < 20000; ++t) {
        int64_t a = e[rng() % e.size()] + int64_t(rng() % 3) - 1;
        int64_t b = a + int64_t(rng() % (t % 10 ? 64 : 5000));
        a = std::clamp<int64_t>(a, 0, int64_t(c.size()));
        b = std::clamp<int64_t>(b, a, int64_t(c.size()));
        expect_range(p, c, a, b - a);
    }
    std::vector<uint8_t> whole;
    p.extract(0, p.size(), whole);
    EXPECT_EQ(whole, c);
    p.extract(5, 0, whole);
    EXPECT_TRUE(whole.empty());
    // A quarter of a byte per base, and 16 bytes per run.
    size_t runs = 0;
    for (size_t i = 0; i < c.size(); ++i) runs += c[i] > 3 && (i == 0 || c[i] != c[i - 1]);
    EXPECT_EQ(p.memory_bytes(), (c.size() + 3) / 4 + 16 * runs);
}

} // namespace
