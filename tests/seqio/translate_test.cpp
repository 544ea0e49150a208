// Start-codon search and codon translation: the worked cases and random
// codes against a direct reading of the rules.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine.h"

namespace {

constexpr std::uint8_t A = 0, C = 1, G = 2, T = 3, N = 31;

std::int32_t find(const std::vector<std::uint8_t> &codes) {
    return bio_find_atg(codes.data(), static_cast<std::int32_t>(codes.size()));
}

std::int32_t first_atg(const std::vector<std::uint8_t> &codes) {
    for (std::size_t i = 0; i + 2 < codes.size(); ++i)
        if (codes[i] == A && codes[i + 1] == T && codes[i + 2] == G) return static_cast<std::int32_t>(i);
    return -1;
}

std::vector<std::uint8_t> identity_table() {
    std::vector<std::uint8_t> t(64);
    for (int i = 0; i < 64; ++i) t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return t;
}

TEST(FindAtg, WorkedCases) {
    EXPECT_EQ(find({C, A, T, G}), 1);
    EXPECT_EQ(find({A, T}), -1);
    EXPECT_EQ(find({A, T, G}), 0);
    EXPECT_EQ(find({A, T, C, A, T, G}), 3);
    EXPECT_EQ(find({A, T, N, A, N, G}), -1);
    EXPECT_EQ(bio_find_atg(nullptr, 0), -1);
    EXPECT_EQ(bio_find_atg(nullptr, -4), -1);
}

TEST(FindAtg, MatchesDirectScanOnRandomCodes) {
    std::mt19937 rng(31);
    for (int trial = 0; trial < 4000; ++trial) {
        std::vector<std::uint8_t> codes(rng() % 200);
        const bool few_letters = trial % 2;  // sparse hits, found late or never
        for (auto &c : codes) c = few_letters ? (rng() % 5 ? C : static_cast<std::uint8_t>(rng() % 4))
                                              : static_cast<std::uint8_t>(rng() % 4 == 0 ? N : rng() % 4);
        ASSERT_EQ(find(codes), first_atg(codes)) << "trial " << trial;
    }
    // A hit exactly at the last three codes of a long run.
    std::vector<std::uint8_t> codes(100, C);
    codes[97] = A, codes[98] = T, codes[99] = G;
    EXPECT_EQ(find(codes), 97);
}

TEST(Translate, WorkedCases) {
    const auto table = identity_table();
    const std::vector<std::uint8_t> codes = {A, A, A, T, T, T, N, A, A, A, A, N};
    std::vector<std::uint8_t> out(5, 0xEE);
    bio_translate(table.data(), codes.data(), 4, out.data());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 63, 31, 31, 0xEE}));
    bio_translate(table.data(), codes.data(), 0, out.data());
    bio_translate(table.data(), codes.data(), -1, out.data());
    EXPECT_EQ(out[0], 0);
    // Index 31 (A, A, N) is looked up; an index above 63 (N first) is not.
    std::vector<std::uint8_t> shifted(64);
    for (int i = 0; i < 64; ++i) shifted[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(100 + i);
    const std::vector<std::uint8_t> ambiguous = {A, A, N, N, A, A};
    bio_translate(shifted.data(), ambiguous.data(), 2, out.data());
    EXPECT_EQ(out[0], 131);
    EXPECT_EQ(out[1], 31);
}

TEST(Translate, MatchesDirectLookupOnRandomCodes) {
    std::mt19937 rng(41);
    std::vector<std::uint8_t> table(64);
    for (auto &v : table) v = static_cast<std::uint8_t>(rng());
    for (int trial = 0; trial < 500; ++trial) {
        const int n_codons = static_cast<int>(rng() % 100);
        std::vector<std::uint8_t> codes(static_cast<std::size_t>(3 * n_codons));
        for (auto &c : codes) c = static_cast<std::uint8_t>(rng() % 8 ? rng() % 4 : rng() % 256);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(n_codons) + 1, 0xEE);
        bio_translate(table.data(), codes.data(), n_codons, out.data());
        for (int k = 0; k < n_codons; ++k) {
            const unsigned index = 16u * codes[3 * k] + 4u * codes[3 * k + 1] + codes[3 * k + 2];
            ASSERT_EQ(out[static_cast<std::size_t>(k)], index > 63 ? 31 : table[index]);
        }
        ASSERT_EQ(out.back(), 0xEE);
    }
}

}  // namespace
