// What every aligner shares: traceback codes, the unreachable score, the
// band geometry of anti-diagonal sweeps, and the writer that turns a
// traceback walk into the caller's gapped strings and counters.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/buffer.h"

namespace engine {

enum TracebackCode : std::uint8_t { TB_DIAG = 0, TB_UP = 1, TB_LEFT = 2 };

// Score of an unreachable cell in the banded aligners (-2^30).
inline constexpr std::int32_t NEG_INF = -1073741824;

// Rows i of anti-diagonal d (cells (i, d - i)) that lie in the matrix
// (0 <= i <= n, 0 <= d - i <= m) and in the band |j - i| <= w. Empty when
// lo > hi. Computed in 64-bit so no band or length can overflow it.
struct RowRange {
    std::int64_t lo;
    std::int64_t hi;
};

// x / 2 rounded down: a right shift of a signed value is arithmetic.
inline std::int64_t floor_div2(std::int64_t x) { return x >> 1; }

inline RowRange antidiagonal_rows(std::int64_t d, std::int64_t n, std::int64_t m,
                                  std::int64_t w) {
    const std::int64_t lo = std::max({std::int64_t{0}, d - m, -floor_div2(w - d)});
    const std::int64_t hi = std::min({d, n, floor_div2(d + w)});
    return {lo, hi};
}

// Collects alignment columns in the order a traceback meets them (last column
// first) into two working strings, counting matches, mismatches and gaps,
// then writes them reversed into the caller's strings.
class TracebackWriter {
public:
    TracebackWriter(const std::uint8_t *seq_a, const std::uint8_t *seq_b, const char *decode)
        : a_(seq_a), b_(seq_b), decode_(decode) {}

    // Reserves the two working strings of len_a + len_b + 1 bytes each.
    [[nodiscard]] bool reserve(std::int32_t len_a, std::int32_t len_b) {
        const std::size_t bytes = static_cast<std::size_t>(len_a) + len_b + 1;
        return work_a_.allocate(bytes) && work_b_.allocate(bytes);
    }

    // A[i-1] over B[j-1].
    void diag(std::int64_t i, std::int64_t j) {
        const std::uint8_t ca = a_[i - 1], cb = b_[j - 1];
        put(letter(ca), letter(cb));
        if (ca == cb)
            ++n_match_;
        else
            ++n_mismatch_;
    }
    // A[i-1] over a gap.
    void up(std::int64_t i) {
        put(letter(a_[i - 1]), '-');
        ++n_gap_;
    }
    // A gap over B[j-1].
    void left(std::int64_t j) {
        put('-', letter(b_[j - 1]));
        ++n_gap_;
    }

    // Writes the columns first to last into out_a/out_b with a terminating
    // zero each, stores the counters and returns the column count.
    std::int32_t finish(char *out_a, char *out_b, std::int32_t *n_match, std::int32_t *n_mismatch,
                        std::int32_t *n_gap) const {
        std::reverse_copy(work_a_.data(), work_a_.data() + len_, out_a);
        std::reverse_copy(work_b_.data(), work_b_.data() + len_, out_b);
        out_a[len_] = '\0';
        out_b[len_] = '\0';
        *n_match = n_match_;
        *n_mismatch = n_mismatch_;
        *n_gap = n_gap_;
        return len_;
    }

private:
    char letter(std::uint8_t code) const { return decode_[code]; }
    void put(char ca, char cb) {
        work_a_[len_] = ca;
        work_b_[len_] = cb;
        ++len_;
    }

    const std::uint8_t *a_;
    const std::uint8_t *b_;
    const char *decode_;
    Buffer<char> work_a_;
    Buffer<char> work_b_;
    std::int32_t len_ = 0;
    std::int32_t n_match_ = 0;
    std::int32_t n_mismatch_ = 0;
    std::int32_t n_gap_ = 0;
};

}  // namespace engine
