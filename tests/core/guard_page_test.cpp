// Over-reads and over-writes of caller memory, caught in any build: inputs
// and outputs of exactly the documented sizes are placed against
// inaccessible pages (tests/support/guarded_buffer.h), so one byte too many
// read or written ends the test with a fault. Covers five-bit packing, the
// in-memory parser and every aligner, whose vector loops read in blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "align/banded_diag_support.h"
#include "align/banded_simd.h"
#include "engine.h"
#include "support/guarded_buffer.h"

namespace {

using engine_test::GuardedBuffer;
using Edge = GuardedBuffer::Edge;

std::size_t packed_size(std::size_t n) { return (5 * n + 7) / 8; }

TEST(GuardPages, Packing) {
    std::mt19937 rng(5);
    for (std::size_t n = 0; n < 300; ++n) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        std::vector<std::uint8_t> codes(n);
        for (auto &c : codes) c = static_cast<std::uint8_t>(rng() % 32);
        GuardedBuffer in(codes.data(), n);
        GuardedBuffer packed(packed_size(n) + 1);  // the packer's extra zero byte
        bio_pack5(in.data(), static_cast<std::int32_t>(n), packed.data());

        GuardedBuffer exact(packed.data(), packed_size(n));  // the sequence alone
        GuardedBuffer out(n);
        bio_unpack5(exact.data(), static_cast<std::int32_t>(n), out.data());
        ASSERT_TRUE(std::equal(codes.begin(), codes.end(), out.data()));
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(bio_getitem5(exact.data(), static_cast<std::uint32_t>(i)), codes[i]);
    }
}

// FASTA and FASTQ pieces, with and without final line feeds, CR/LF and
// stray bytes, so that texts end in every state of the parser.
std::string random_text(std::mt19937 &rng, bool fastq) {
    static const char *const pieces[] = {"ACGT", "NNacgt", "\n", "\r\n", "MKV*", " ", ">", "@"};
    std::string text;
    const int records = static_cast<int>(rng() % 40);
    for (int r = 0; r < records; ++r) {
        std::string seq;
        for (int k = static_cast<int>(rng() % 30); k > 0; --k) seq += pieces[rng() % 5];
        text += fastq ? "@r" + std::to_string(r) + "\n" + seq + "\n+\n" + std::string(seq.size(), 'I') + "\n"
                      : ">r" + std::to_string(r) + " x\n" + seq + "\n";
    }
    for (int k = static_cast<int>(rng() % 4); k > 0; --k) text += pieces[rng() % 8];
    if (rng() % 2 && !text.empty()) text.pop_back();
    return text;
}

// Every output of the parser, in buffers of exactly the sizes a first,
// roomy call reported.
struct ParseOutputs {
    GuardedBuffer names, packed, quals, name_offs, packed_offs, seq_lens, is_protein, qual_offs;
    std::int32_t max_records;

    ParseOutputs(std::size_t n, std::size_t names_size, std::size_t packed_size,
                 std::size_t quals_size)
        : names(names_size), packed(packed_size), quals(quals_size),
          name_offs(4 * (n + 1)), packed_offs(4 * (n + 1)), seq_lens(4 * n), is_protein(4 * n),
          qual_offs(4 * (n + 1)), max_records(static_cast<std::int32_t>(n)) {}

    std::int32_t parse(const char *text, std::size_t len, int fmt, int threads) {
        return bio_parse_mem_parallel(
            text, static_cast<std::int64_t>(len), fmt, threads, -1, names.chars(),
            static_cast<std::int32_t>(names.size()), ints(name_offs), packed.data(),
            static_cast<std::int64_t>(packed.size()), ints(packed_offs), ints(seq_lens),
            ints(is_protein), quals.data(), static_cast<std::int64_t>(quals.size()),
            ints(qual_offs), max_records);
    }
    static std::int32_t *ints(GuardedBuffer &b) { return reinterpret_cast<std::int32_t *>(b.data()); }
};

TEST(GuardPages, InMemoryParser) {
    std::mt19937 rng(77);
    for (int round = 0; round < 120; ++round) {
        const int fmt = 1 + round % 2;
        const int threads = 1 + (round / 2) % 2;  // two workers: the chunk cuts search too
        const std::string text = random_text(rng, fmt == 2);
        SCOPED_TRACE(testing::Message() << "round " << round << " text size " << text.size());
        const std::size_t cap = 2 * text.size() + 16;
        ParseOutputs roomy(text.size() + 1, cap, cap, cap);
        const std::int32_t n = roomy.parse(text.data(), text.size(), fmt, threads);
        ASSERT_GE(n, 0);
        const auto *offs = ParseOutputs::ints(roomy.name_offs);
        const auto un = static_cast<std::size_t>(n);
        ParseOutputs exact(un, static_cast<std::size_t>(offs[n]),
                           static_cast<std::size_t>(ParseOutputs::ints(roomy.packed_offs)[n]) + 1,
                           static_cast<std::size_t>(ParseOutputs::ints(roomy.qual_offs)[n]));
        for (const Edge edge : {Edge::End, Edge::Start}) {
            GuardedBuffer guarded(text.data(), text.size(), edge);
            ASSERT_EQ(exact.parse(guarded.chars(), text.size(), fmt, threads), n);
            ASSERT_EQ(std::string(exact.names.chars(), exact.names.size()),
                      std::string(roomy.names.chars(), exact.names.size()));
            ASSERT_TRUE(std::equal(exact.packed.data(), exact.packed.data() + exact.packed.size(),
                                   roomy.packed.data()));
        }
    }
}

using Aligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                 std::int32_t, const char *, std::int32_t, std::int32_t,
                                 std::int32_t, char *, char *, std::int32_t *, std::int32_t *,
                                 std::int32_t *, std::int32_t *);
using banded_test::BandedAligner;

// One call of each aligner with A and B against guard pages (B's start
// too: the vector kernels read B backwards) and outputs of exactly
// len_a + len_b + 1 bytes.
void align_guarded(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b,
                   std::int32_t band, Edge b_edge) {
    static const char letters[] = "ACGTDEFHIKLMNPQRSVWYBJOUXZ*-0123";
    GuardedBuffer decode(letters, 32), ga(a.data(), a.size()), gb(b.data(), b.size(), b_edge);
    const auto n = static_cast<std::int32_t>(a.size()), m = static_cast<std::int32_t>(b.size());
    std::int32_t score, matches, mismatches, gaps;
    for (const Aligner align : {nw_global, nw_semiglobal, sw_align}) {
        GuardedBuffer out_a(a.size() + b.size() + 1), out_b(a.size() + b.size() + 1);
        ASSERT_GE(align(ga.data(), n, gb.data(), m, decode.chars(), 2, -1, -2, out_a.chars(),
                        out_b.chars(), &score, &matches, &mismatches, &gaps),
                  0);
    }
    for (const BandedAligner align :
         {nw_banded, nw_banded_semiglobal, nw_banded_diag, nw_banded_diag_simd,
          engine::_nw_banded_diag_simd_i16, engine::_nw_banded_diag_simd_i32}) {
        GuardedBuffer out_a(a.size() + b.size() + 1), out_b(a.size() + b.size() + 1);
        ASSERT_GE(align(ga.data(), n, gb.data(), m, decode.chars(), 2, -1, -2, band,
                        out_a.chars(), out_b.chars(), &score, &matches, &mismatches, &gaps),
                  0);
    }
}

TEST(GuardPages, Aligners) {
    std::mt19937 rng(2718);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::uint8_t> a(rng() % 90), b(rng() % 90);
        for (auto &c : a) c = static_cast<std::uint8_t>(rng() % 4);
        for (auto &c : b) c = static_cast<std::uint8_t>(rng() % 8 == 0 ? 31 : rng() % 4);
        const auto band = static_cast<std::int32_t>(rng() % 40);
        SCOPED_TRACE(testing::Message() << "round " << round << " lengths " << a.size() << "/"
                                        << b.size() << " band " << band);
        align_guarded(a, b, band, round % 2 ? Edge::Start : Edge::End);
    }
}

}  // namespace
