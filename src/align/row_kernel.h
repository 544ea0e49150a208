// The fill of one run of consecutive cells of a row, shared by the full-
// matrix and banded aligners. For cell x of the run the diagonal predecessor
// is diag[x], the up predecessor up[x] and the left predecessor the cell
// before it (left_in for the first). Every cell takes, with the tie order
// diagonal, then up, then left:
//     t = max(diag[x] + s, up[x] + gap)   (TB_UP only when strictly greater)
//     H = max(t, H_left + gap)            (TB_LEFT only when strictly greater)
// The first line is independent across cells and goes eight lanes at a
// time. The second is a chain, but with a linear gap score it unrolls to
// H[x] = max over x' <= x of t[x'] + (x - x') * gap, a prefix maximum that
// is also computed eight lanes at a time. Every term is a candidate value the
// cell-by-cell recurrence would compute, so the results are the same.
#pragma once

#include <immintrin.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "align/align_common.h"
#include "align/score32.h"

namespace engine {

// Local alignment floors the diagonal candidate at zero; the others do not.
enum class DiagonalFloor { none, zero };

// Local alignment also marks, in bit 2 of a cell's code, whether the cell
// scores above zero: its traceback stops at the first cell that does not,
// and this way it needs no scores but those of the rows being filled.
inline constexpr std::uint8_t CELL_POSITIVE = 4;

struct Scoring {
    std::int32_t match, mismatch, gap;
};

// One cell, the straightforward way; a missing predecessor is passed as a
// candidate that cannot win.
template <DiagonalFloor floor>
inline std::int32_t fill_cell(std::int32_t d, std::int32_t u, std::int32_t l,
                              std::int32_t &score, std::uint8_t &code) {
    if constexpr (floor == DiagonalFloor::zero) d = d < 0 ? 0 : d;
    std::int32_t best = d;
    std::uint8_t from = TB_DIAG;
    if (u > best) {
        best = u;
        from = TB_UP;
    }
    if (l > best) {
        best = l;
        from = TB_LEFT;
    }
    score = best;
    code = from;
    return best;
}

namespace row_kernel_detail {

template <int by>
inline __m256i lanes_up_index() {
    static_assert(by == 1 || by == 2 || by == 4);
    if constexpr (by == 1) return _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
    if constexpr (by == 2) return _mm256_setr_epi32(0, 0, 0, 1, 2, 3, 4, 5);
    return _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 3);
}

// Lanes moved up by `by` places; the vacated low lanes take `fill`'s values.
template <int by>
inline __m256i shift_up(__m256i v, __m256i fill) {
    return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, lanes_up_index<by>()), fill,
                              (1 << by) - 1);
}

// One step of the in-register prefix maximum: lane k also considers lane
// k - by plus `by` gaps; the lowest `by` lanes have nothing below them.
template <int by>
inline __m256i prefix_max_step(__m256i h, __m256i gaps) {
    const __m256i moved = _mm256_add_epi32(_mm256_permutevar8x32_epi32(h, lanes_up_index<by>()), gaps);
    return _mm256_max_epi32(h, _mm256_blend_epi32(moved, h, (1 << by) - 1));
}

// Eight code bytes: TB_LEFT where `left`, else TB_UP where `up`, else
// TB_DIAG; plus CELL_POSITIVE where `positive`.
inline void store_codes(std::uint8_t *codes, __m256i up, __m256i left, __m256i positive) {
    const auto up_bits = static_cast<std::uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(up)));
    const auto left_bits =
        static_cast<std::uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(left)));
    const auto positive_bits =
        static_cast<std::uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(positive)));
    const std::uint64_t bytes = _pdep_u64(up_bits & ~left_bits, 0x0101010101010101ULL) |
                                _pdep_u64(left_bits, 0x0202020202020202ULL) |
                                _pdep_u64(positive_bits, 0x0404040404040404ULL);
    std::memcpy(codes, &bytes, sizeof bytes);
}

inline std::int32_t horizontal_max(__m256i v) {
    __m128i m = _mm_max_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_max_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(m);
}

}  // namespace row_kernel_detail

struct RunScores {
    std::int32_t last;  // score of the run's last cell (left_in when empty)
    std::int32_t max;   // largest score of the run (INT32_MIN when empty)
};

// Fills `count` cells as described above (A's code `a`, B's codes b[x]) into
// out[x] and codes[x].
template <DiagonalFloor floor>
inline RunScores fill_run(const std::int32_t *diag, const std::int32_t *up,
                             const std::uint8_t *b, std::int64_t count, std::uint8_t a,
                             std::int32_t left_in, Scoring sc, std::int32_t *out,
                             std::uint8_t *codes) {
    using namespace row_kernel_detail;
    const __m256i va = _mm256_set1_epi32(a);
    const __m256i vmatch = _mm256_set1_epi32(sc.match);
    const __m256i vmismatch = _mm256_set1_epi32(sc.mismatch);
    const __m256i gap1 = _mm256_set1_epi32(sc.gap);
    const __m256i gap2 = _mm256_set1_epi32(mul32(2, sc.gap));
    const __m256i gap4 = _mm256_set1_epi32(mul32(4, sc.gap));
    // (lane + 1) x gap: what the left chain adds from the cell before the block.
    const __m256i gap_from_carry =
        _mm256_setr_epi32(mul32(1, sc.gap), mul32(2, sc.gap), mul32(3, sc.gap),
                          mul32(4, sc.gap), mul32(5, sc.gap), mul32(6, sc.gap),
                          mul32(7, sc.gap), mul32(8, sc.gap));
    // The left chain crosses blocks as a broadcast vector of the last score,
    // which keeps the lane-to-scalar round trip off the critical path.
    const __m256i top_lane = _mm256_set1_epi32(7);
    __m256i carry = _mm256_set1_epi32(left_in);
    __m256i run_max = _mm256_set1_epi32(INT32_MIN);
    std::int64_t x = 0;
    for (; x + 8 <= count; x += 8) {
        std::int64_t b8;
        std::memcpy(&b8, b + x, sizeof b8);
        const __m256i vb = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(b8));
        const __m256i s = _mm256_blendv_epi8(vmismatch, vmatch, _mm256_cmpeq_epi32(vb, va));
        __m256i d = _mm256_add_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(diag + x)), s);
        if constexpr (floor == DiagonalFloor::zero) d = _mm256_max_epi32(d, _mm256_setzero_si256());
        const __m256i u = _mm256_add_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(up + x)), gap1);
        const __m256i from_up = _mm256_cmpgt_epi32(u, d);
        const __m256i t = _mm256_max_epi32(d, u);

        __m256i h = t;
        h = prefix_max_step<1>(h, gap1);
        h = prefix_max_step<2>(h, gap2);
        h = prefix_max_step<4>(h, gap4);
        h = _mm256_max_epi32(h, _mm256_add_epi32(carry, gap_from_carry));

        const __m256i h_before = shift_up<1>(h, carry);
        const __m256i from_left = _mm256_cmpgt_epi32(_mm256_add_epi32(h_before, gap1), t);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), h);
        __m256i positive = _mm256_setzero_si256();
        if constexpr (floor == DiagonalFloor::zero)
            positive = _mm256_cmpgt_epi32(h, _mm256_setzero_si256());
        store_codes(codes + x, from_up, from_left, positive);
        carry = _mm256_permutevar8x32_epi32(h, top_lane);
        run_max = _mm256_max_epi32(run_max, h);
    }
    std::int32_t left = _mm256_cvtsi256_si32(carry);
    std::int32_t max = horizontal_max(run_max);
    for (; x < count; ++x) {
        left = fill_cell<floor>(add32(diag[x], pair_score(a, b[x], sc.match, sc.mismatch)),
                                add32(up[x], sc.gap), add32(left, sc.gap), out[x], codes[x]);
        if constexpr (floor == DiagonalFloor::zero)
            if (left > 0) codes[x] |= CELL_POSITIVE;
        max = left > max ? left : max;
    }
    return {left, max};
}

// Position of the first of `count` scores equal to `value`, which must occur.
inline std::int64_t first_position_of(const std::int32_t *scores, std::int64_t count,
                                      std::int32_t value) {
    const __m256i v = _mm256_set1_epi32(value);
    std::int64_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i eq = _mm256_cmpeq_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(scores + x)), v);
        const int bits = _mm256_movemask_ps(_mm256_castsi256_ps(eq));
        if (bits != 0) return x + __builtin_ctz(static_cast<unsigned>(bits));
    }
    while (scores[x] != value) ++x;
    return x;
}

}  // namespace engine
