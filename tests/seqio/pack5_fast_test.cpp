// The vector letter conversion and the eight-at-a-time packer against
// convert_letters and bio_pack5.
#include "seqio/pack5_fast.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine.h"
#include "support/guarded_buffer.h"
#include "seqio/codes.h"
#include "seqio/pack5.h"

namespace {

std::vector<std::uint8_t> random_bytes(std::mt19937 &rng, std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (auto &b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

engine::ByteTable random_table(std::mt19937 &rng, int distinct) {
    engine::ByteTable t{};
    for (auto &v : t) v = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(distinct));
    return t;
}

TEST(LetterConverter, MatchesTableLookupForLetterAndRandomTables) {
    std::mt19937 rng(11);
    std::vector<engine::ByteTable> tables = {engine::_MAP_NT, engine::_MAP_AA, engine::_MAP_AA_ONLY};
    for (int distinct : {1, 2, 256}) tables.push_back(random_table(rng, distinct));
    engine::ByteTable striped{};  // uniform rows of several values
    for (int b = 0; b < 256; ++b) striped[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b / 16 % 3);
    tables.push_back(striped);
    for (const auto &table : tables) {
        const engine::LetterConverter converter(table);
        for (int trial = 0; trial < 200; ++trial) {
            const auto raw = random_bytes(rng, rng() % 300);
            std::vector<std::uint8_t> want = raw;
            engine::convert_letters(table, want.data(), want.size());
            std::vector<std::uint8_t> out(raw.size() + 8, 0xEE), in_place = raw;
            converter.convert(raw.data(), raw.size(), out.data());
            converter.convert(in_place.data(), in_place.size(), in_place.data());
            EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<long>(raw.size())), want);
            for (std::size_t i = raw.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
            EXPECT_EQ(in_place, want);
        }
    }
}

TEST(Pack5Fast, SameBytesAsTheReferencePackerAndNothingBeyond) {
    std::mt19937 rng(22);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t n = trial < 200 ? static_cast<std::size_t>(trial) : rng() % 2000;
        const auto codes = random_bytes(rng, n);  // high bits must be ignored
        const std::size_t used = static_cast<std::size_t>(engine::packed_bytes64(static_cast<std::int64_t>(n))) + 1;
        std::vector<std::uint8_t> want(used + 16, 0xEE), got(used + 16, 0xEE);
        bio_pack5(codes.data(), static_cast<std::int32_t>(n), want.data());
        engine::pack5_fast(codes.data(), n, got.data());
        ASSERT_EQ(got, want) << "n = " << n;
    }
}

// Unpacking reads exactly the packed bytes (the last one may be partly
// used) and gives every code as bio_getitem5 does.
TEST(Unpack5, EveryCodeFromExactlyThePackedBytes) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::int32_t n = trial < 100 ? trial : static_cast<std::int32_t>(rng() % 3000);
        const auto codes = random_bytes(rng, static_cast<std::size_t>(n));
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(engine::packed_bytes(n)) + 1);
        bio_pack5(codes.data(), n, packed.data());
        engine_test::GuardedBuffer exact(packed.data(), packed.size() - 1);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(n) + 8, 0xEE);
        bio_unpack5(exact.data(), n, out.data());
        for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(out[i], codes[i] & 31) << "n = " << n << " i = " << i;
        for (std::size_t i = n; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
    }
}

}  // namespace
