#include "map/window_align.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "align/banded_simd.h"
#include "map/cigar.h"
#include "map/map_one.h"
#include "map/mapping_model.h"
#include "seqio/codes.h"

namespace {

using map_test::Codes;

struct WindowOutput {
    std::int32_t n_cols = 0, n_match = 0, n_mismatch = 0, n_gap = 0;
    std::int32_t cigar_len = 0, offset = 0;
    std::vector<char> cigar;
};

// The window through the kernel alone, as mapping always did it.
WindowOutput kernel_path(const Codes &ref, const Codes &read, std::int32_t cap,
                         std::int32_t start) {
    const auto len = static_cast<std::int32_t>(ref.size());
    std::vector<char> a(2 * ref.size() + 1), b(2 * ref.size() + 1);
    const auto kernel = len <= engine::MAP_I16_MAX_LEN ? engine::_nw_banded_diag_simd_i16
                                                       : engine::_nw_banded_diag_simd_i32;
    WindowOutput out;
    std::int32_t score = 0;
    out.n_cols = kernel(ref.data(), len, read.data(), len, engine::_MAP_DECODE, 2, -1, -2, 64,
                        a.data(), b.data(), &score, &out.n_match, &out.n_mismatch, &out.n_gap);
    out.cigar.assign(static_cast<std::size_t>(cap > 0 ? cap : 1) + 40, '#');
    out.offset = start;
    if (out.n_cols > 0)
        out.cigar_len = engine::append_cigar(a.data(), b.data(), out.n_cols, out.cigar.data(),
                                             cap, &out.offset);
    return out;
}

WindowOutput window_path(const Codes &ref, const Codes &read, std::int32_t cap,
                         std::int32_t start, bool &ungapped) {
    const auto len = static_cast<std::int32_t>(ref.size());
    std::vector<std::uint64_t> runs(engine::window_run_capacity(len));
    engine::WindowAlignment aln{};
    EXPECT_TRUE(engine::align_window(ref.data(), read.data(), len, runs.data(), runs.size(), aln));
    WindowOutput out{aln.n_cols, aln.n_match, aln.n_mismatch, aln.n_gap};
    out.cigar.assign(static_cast<std::size_t>(cap > 0 ? cap : 1) + 40, '#');
    out.offset = start;
    out.cigar_len = engine::append_window_cigar(aln, out.cigar.data(), cap, &out.offset);
    ungapped = aln.ungapped;
    return out;
}

// A read over the window: a few substitutions (some to unknown codes), and
// sometimes an insertion and a deletion that keep the length.
Codes mutated_window(std::mt19937_64 &rng, const Codes &ref) {
    Codes read = ref;
    const int substitutions = static_cast<int>(rng() % 4);
    for (int s = 0; s < substitutions; ++s) {
        const std::size_t at = rng() % read.size();
        const std::uint8_t codes[] = {0, 1, 2, 3, 4, map_test::N_CODE};
        read[at] = codes[rng() % 6];
    }
    if (rng() % 4 == 0 && read.size() > 2) {
        read.erase(read.begin() + static_cast<std::ptrdiff_t>(rng() % read.size()));
        read.insert(read.begin() + static_cast<std::ptrdiff_t>(rng() % read.size()),
                    static_cast<std::uint8_t>(rng() & 3));
    }
    return read;
}

// The shortcut and the kernel's walk into runs, against the kernel's gapped
// strings read back column by column.
TEST(WindowAlign, GaplessShortcutEqualsTheKernel) {
    std::mt19937_64 rng(1616);
    int shortcuts = 0, kernels = 0;
    for (int t = 0; t < 6000; ++t) {
        // Short windows, windows about the 16-bit limit, and a few above it.
        const std::size_t len = t < 5900 ? 1 + rng() % (t % 3 ? 300 : 40)
                                : t < 5980 ? 11990 + rng() % 20
                                           : 12001 + rng() % 1000;
        Codes ref = map_test::random_codes(rng, len);
        if (rng() % 8 == 0) ref[rng() % len] = map_test::N_CODE;
        const Codes read = mutated_window(rng, ref);
        // Mostly room for a few runs only (the CIGAR is dropped part way),
        // sometimes room for the whole text.
        const std::int32_t cap = static_cast<std::int32_t>(rng() % 4 ? rng() % 40 : 4096);
        const std::int32_t start = static_cast<std::int32_t>(rng() % 8);
        SCOPED_TRACE(testing::Message() << "case " << t << " length " << len << " cap " << cap);
        bool ungapped = false;
        const WindowOutput got = window_path(ref, read, cap, start, ungapped);
        const WindowOutput want = kernel_path(ref, read, cap, start);
        ASSERT_EQ(got.n_cols, want.n_cols);
        ASSERT_EQ(got.n_match, want.n_match);
        ASSERT_EQ(got.n_mismatch, want.n_mismatch);
        ASSERT_EQ(got.n_gap, want.n_gap);
        ASSERT_EQ(got.cigar_len, want.cigar_len);
        ASSERT_EQ(got.offset, want.offset);
        ASSERT_EQ(got.cigar, want.cigar);
        // The shortcut is taken exactly for the gapless pairings with at
        // most one mismatch.
        ASSERT_EQ(ungapped, want.n_gap == 0 && want.n_mismatch <= 1);
        (ungapped ? shortcuts : kernels)++;
    }
    EXPECT_GT(shortcuts, 1000);
    EXPECT_GT(kernels, 1000);
}

}  // namespace
