#include "seqio/codes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/pack5.h"

namespace {

using engine::_MAP_AA;
using engine::_MAP_AA_ONLY;
using engine::_MAP_DECODE;
using engine::_MAP_NT;

std::uint8_t nt(char c) { return _MAP_NT[static_cast<unsigned char>(c)]; }
std::uint8_t aa(char c) { return _MAP_AA[static_cast<unsigned char>(c)]; }

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t> &codes) {
    std::vector<std::uint8_t> out(engine::packed_bytes(static_cast<int>(codes.size())) + 1, 0xEE);
    bio_pack5(codes.data(), static_cast<int>(codes.size()), out.data());
    return out;
}

TEST(LetterTables, NucleotideAndProteinLetters) {
    EXPECT_EQ(nt('A'), 0);
    EXPECT_EQ(nt('c'), 1);
    EXPECT_EQ(nt('G'), 2);
    EXPECT_EQ(nt('t'), 3);
    EXPECT_EQ(nt('U'), 3);
    EXPECT_EQ(nt('u'), 3);
    EXPECT_EQ(nt('N'), 31);
    EXPECT_EQ(nt('n'), 31);
    EXPECT_EQ(aa('N'), 15);
    EXPECT_EQ(aa('n'), 15);
    EXPECT_EQ(aa('U'), 31);
    EXPECT_EQ(nt('.'), 25);
    EXPECT_EQ(aa('.'), 31);
    EXPECT_EQ(nt('-'), 25);
    EXPECT_EQ(aa('-'), 25);
    EXPECT_EQ(nt('*'), 31);
    EXPECT_EQ(aa('*'), 24);
    for (char c : std::string(" \t0123456789")) {
        EXPECT_EQ(nt(c), 31) << int(c);
        EXPECT_EQ(aa(c), 31) << int(c);
    }
    const std::string amino = "ACDEFGHIKLMNPQRSTVWY";
    for (std::size_t k = 0; k < amino.size(); ++k) {
        EXPECT_EQ(aa(amino[k]), 4 + k);
        EXPECT_EQ(aa(static_cast<char>(amino[k] + 32)), 4 + k);
    }
    for (char c : std::string("BJOXZbjoxz")) EXPECT_EQ(aa(c), 31);
}

TEST(LetterTables, CountsOfUnknownBytes) {
    int nt_unknown = 0, aa_unknown = 0, aa_only = 0;
    for (int b = 0; b < 256; ++b) {
        nt_unknown += _MAP_NT[b] == 31;
        aa_unknown += _MAP_AA[b] == 31;
        aa_only += _MAP_AA_ONLY[b];
        EXPECT_LE(_MAP_NT[b], 31);
        EXPECT_LE(_MAP_AA[b], 31);
    }
    EXPECT_EQ(nt_unknown, 244);
    EXPECT_EQ(aa_unknown, 214);
    EXPECT_EQ(aa_only, 13);
}

TEST(LetterTables, ProteinDetection) {
    auto detect = [](const std::string &s) {
        return engine::looks_like_protein(_MAP_AA_ONLY, reinterpret_cast<const std::uint8_t *>(s.data()),
                                          s.size());
    };
    EXPECT_FALSE(detect("ACGTNacgtn--RYSWKMBDHV"));
    EXPECT_TRUE(detect("ACGTL"));
    EXPECT_TRUE(detect("*ACGT"));
    EXPECT_FALSE(detect(""));
}

TEST(LetterTables, Decode) {
    const std::uint8_t codes[] = {0, 1, 2, 3, 25, 31};
    std::string s;
    for (auto c : codes) s += _MAP_DECODE[c];
    EXPECT_EQ(s, "ACGTNN");
    for (int c = 4; c < 32; ++c) EXPECT_EQ(_MAP_DECODE[c], 'N');
}

TEST(Quality, PhredConversionSaturatesAtZero) {
    for (std::size_t n : {0u, 1u, 7u, 8u, 15u, 16u, 31u, 32u, 33u, 63u, 64u, 100u}) {
        std::vector<std::uint8_t> q(n), expect(n);
        for (std::size_t i = 0; i < n; ++i) {
            q[i] = static_cast<std::uint8_t>(i * 37 % 256);
            expect[i] = q[i] >= 33 ? q[i] - 33 : 0;
        }
        engine::phred_from_ascii(q.data(), n);
        EXPECT_EQ(q, expect) << n;
    }
    std::uint8_t q[] = {'!', ' ', 'I', '~'};
    engine::phred_from_ascii(q, 4);
    EXPECT_EQ(q[0], 0);
    EXPECT_EQ(q[1], 0);
    EXPECT_EQ(q[2], 40);
    EXPECT_EQ(q[3], 93);
}

TEST(Pack5, WorkedExamples) {
    EXPECT_EQ(pack({0, 1, 2, 3}), (std::vector<std::uint8_t>{0x00, 0x44, 0x30, 0x00}));
    EXPECT_EQ(pack({31}), (std::vector<std::uint8_t>{0xF8, 0x00}));
    EXPECT_EQ(pack({0, 1, 2, 3, 25, 31, 24, 4}),
              (std::vector<std::uint8_t>{0x00, 0x44, 0x3C, 0xFF, 0x04, 0x00}));
    EXPECT_EQ(pack({}), (std::vector<std::uint8_t>{0x00}));
    const auto p = pack({40});
    EXPECT_EQ(bio_getitem5(p.data(), 0), 8);
}

TEST(Pack5, NegativeCountWritesOneZeroByte) {
    std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    bio_pack5(nullptr, -5, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0xEE);
}

// Round trip against a bit-by-bit model of the packed layout.
TEST(Pack5, RandomRoundTripMatchesBitModel) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = static_cast<int>(rng() % 200);
        std::vector<std::uint8_t> codes(n);
        for (auto &c : codes) c = static_cast<std::uint8_t>(rng());
        const auto packed = pack(codes);
        std::vector<std::uint8_t> model(engine::packed_bytes(n) + 1, 0);
        for (int i = 0; i < n; ++i)
            for (int b = 0; b < 5; ++b)
                if ((codes[i] & 31) >> (4 - b) & 1) {
                    const int k = 5 * i + b;
                    model[k / 8] |= static_cast<std::uint8_t>(1 << (7 - k % 8));
                }
        ASSERT_EQ(packed, model);
        std::vector<std::uint8_t> back(n + 1, 0xEE);
        bio_unpack5(packed.data(), n, back.data());
        EXPECT_EQ(back[n], 0xEE);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(back[i], codes[i] & 31);
            ASSERT_EQ(bio_getitem5(packed.data(), i), codes[i] & 31);
        }
    }
}

TEST(Compression, EntryPointsReportNoSupport) {
    EXPECT_EQ(bio_has_libdeflate(), 0);
    EXPECT_EQ(bio_is_bgzf(nullptr, 0), 0);
    EXPECT_EQ(bio_gzip_decompress(nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(bio_bgzf_usize(nullptr, 0), -1);
    EXPECT_EQ(bio_bgzf_decompress_parallel(nullptr, 0, nullptr, 0, 4), -1);
    EXPECT_EQ(bio_bgzf_compress(nullptr, 0, nullptr, 0, 6), -1);
}

}  // namespace
