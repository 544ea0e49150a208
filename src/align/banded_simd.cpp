// The vectorised banded kernels: the anti-diagonal sweep of nw_banded_diag
// with the inner cells of each anti-diagonal computed a vector at a time,
// 16 cells in 16-bit lanes or 8 cells in 32-bit lanes.
#include "align/banded_simd.h"

#include <immintrin.h>

#include <cstdint>

#include "align/align_common.h"
#include "align/banded_diag_sweep.h"
#include "align/banded_simd_lanes.h"
#include "align/traceback_runs.h"

namespace engine {
namespace {

// Per-call scores broadcast at the lane width.
struct BlockConstants {
    __m256i match, mismatch, gap, marker, code_up;
};

template <class V>
BlockConstants block_constants(const BandedCall &call) {
    return {V::splat(call.match), V::splat(call.mismatch), V::splat(call.gap),
            V::splat(V::kMarker), V::splat(TB_UP)};
}

// One block: cells i = k .. k + L - 1 of an anti-diagonal, lane l holding
// cell (k + l, d - k - l). `before` and `prev` point at entry k of the two
// older vectors, `cur` at entry k + 1 of the current one, `a` at A[k - 1],
// `b_back` at B[d - k - L] (lane l pairs a[l] with b_back[L - 1 - l]).
//
// While the scores stay in the lane range, the diagonal predecessor of a
// block cell (i >= 1, j >= 1) is always a reachable band cell, so the
// diagonal candidate needs no mask. An up or left predecessor outside the
// band holds the marker; with gap <= 0 its candidate (marker + gap, kept
// from wrapping) lies below every reachable candidate and so never wins or
// ties, which is what excluding it would do. With gap > 0 (kMaskGaps) those
// candidates are masked back to the marker.
//
// The up and left predecessors are one vector apart by one lane. A load of
// both would straddle two stores of the previous anti-diagonal for one of
// them, which the processor cannot forward while those stores are still in
// flight; so only the run that matches the previous stores is loaded
// (kLoadLeft: the left run, else the up run) and the other is made from it
// with a lane shift and the one entry it lacks.
template <class V, bool kMaskGaps, bool kLoadLeft>
[[gnu::always_inline]] inline void block_step(const BlockConstants &c,
                                              const typename V::Score *before,
                                              const typename V::Score *prev,
                                              typename V::Score *cur, const std::uint8_t *a,
                                              const std::uint8_t *b_back, std::uint8_t *codes) {
    const __m256i diag_pred = V::load(before);
    __m256i up_pred, left_pred;
    if constexpr (kLoadLeft) {
        left_pred = V::load(prev + 1);
        up_pred = V::shift_up(left_pred, prev[0]);
    } else {
        up_pred = V::load(prev);
        left_pred = V::shift_down(up_pred, prev[V::kLanes]);
    }
    const __m256i same_code = V::equal_codes(a, b_back);
    const __m256i pair = _mm256_blendv_epi8(c.mismatch, c.match, same_code);

    const __m256i diag = V::add(diag_pred, pair);
    __m256i up = V::add(up_pred, c.gap);
    __m256i left = V::add(left_pred, c.gap);
    if constexpr (kMaskGaps) {
        // reachable predecessors: every score above the marker
        up = _mm256_blendv_epi8(c.marker, up, V::greater(up_pred, c.marker));
        left = _mm256_blendv_epi8(c.marker, left, V::greater(left_pred, c.marker));
    }
    const __m256i best_gap = V::max(up, left);
    V::store(cur, V::max(diag, best_gap));

    // gap_wins: a gap candidate beats the diagonal strictly (ties keep the
    // diagonal, code 0); left_wins: left beats up strictly (ties keep up).
    // Code = 0 unless gap_wins, then 1 + left_wins (as 1 - mask).
    const __m256i gap_wins = V::greater(best_gap, diag);
    const __m256i left_wins = V::greater(left, up);
    V::store_codes(codes, _mm256_and_si256(gap_wins, V::sub(c.code_up, left_wins)));
}

// Computes the cells first..last of an anti-diagonal in blocks of L. When
// the count is not a multiple of L, the last block is moved back to end at
// `last`: it recomputes a few cells of the previous block from the same
// predecessors, with the same results, instead of leaving them to the
// single-cell rule. Fewer than L cells are left entirely to that rule.
template <class V, bool kMaskGaps>
struct VectorBlocks {
    const BandedCall &call;
    BlockConstants consts;

    std::int64_t operator()(const DiagonalView<typename V::Score> &v, std::int64_t first,
                            std::int64_t last) const {
        if (last - first + 1 < V::kLanes) return first;
        // Inside the band the first cell of anti-diagonal d moves on by one
        // every other anti-diagonal, with the parity of d - w: when it stays,
        // the previous blocks line up with the left runs, else with the up
        // runs. (Near the matrix edges a mismatch costs time, not values.)
        if (((v.d - effective_band(call.band, call.len_a, call.len_b)) & 1) == 0)
            fill<true>(v, first, last);
        else
            fill<false>(v, first, last);
        return last + 1;
    }

    template <bool kLoadLeft>
    void fill(const DiagonalView<typename V::Score> &v, std::int64_t first,
              std::int64_t last) const {
        constexpr int L = V::kLanes;
        const auto block = [&](std::int64_t k) {
            block_step<V, kMaskGaps, kLoadLeft>(consts, v.before + k, v.prev + k, v.cur + k + 1,
                                                call.seq_a + k - 1, call.seq_b + (v.d - k - L),
                                                v.codes + k);
        };
        std::int64_t k = first;
        for (; k + L - 1 <= last; k += L) block(k);
        if (k <= last) block(last - L + 1);
    }
};

// The sweep with the kernel's blocks, its columns walked into `columns`.
template <class V, class Columns>
bool kernel_sweep(const BandedCall &call, Columns &columns) {
    const BlockConstants consts = block_constants<V>(call);
    if (call.gap > 0)
        return sweep_and_walk<typename V::Score>(call, V::kMarker,
                                                 VectorBlocks<V, true>{call, consts}, columns);
    return sweep_and_walk<typename V::Score>(call, V::kMarker,
                                             VectorBlocks<V, false>{call, consts}, columns);
}

template <class V>
std::int32_t banded_diag_kernel(const BandedCall &call) {
    TracebackWriter columns(call.seq_a, call.seq_b, call.decode);
    if (!kernel_sweep<V>(call, columns)) return -1;
    return columns.finish(call.out_a, call.out_b, call.n_match, call.n_mismatch, call.n_gap);
}

template <class V>
std::int32_t banded_runs_kernel(const std::uint8_t *seq_a, std::int32_t len_a,
                                const std::uint8_t *seq_b, std::int32_t len_b,
                                std::int32_t match, std::int32_t mismatch, std::int32_t gap,
                                std::int32_t band, std::int32_t *score, TracebackRuns &runs,
                                std::int32_t *n_match, std::int32_t *n_mismatch,
                                std::int32_t *n_gap) {
    const BandedCall call{seq_a,   len_a,   seq_b,   len_b,   nullptr, match,      mismatch, gap,
                          band,    nullptr, nullptr, score,   n_match, n_mismatch, n_gap};
    if (!kernel_sweep<V>(call, runs)) return -1;
    return runs.finish(n_match, n_mismatch, n_gap);
}

}  // namespace

std::int32_t _nw_banded_diag_simd_i16(const std::uint8_t *seq_a, std::int32_t len_a,
                                      const std::uint8_t *seq_b, std::int32_t len_b,
                                      const char *decode, std::int32_t match,
                                      std::int32_t mismatch, std::int32_t gap, std::int32_t band,
                                      char *out_a, char *out_b, std::int32_t *score,
                                      std::int32_t *n_match, std::int32_t *n_mismatch,
                                      std::int32_t *n_gap) {
    return banded_diag_kernel<Lanes16>({seq_a, len_a, seq_b, len_b, decode, match, mismatch, gap,
                                        band, out_a, out_b, score, n_match, n_mismatch, n_gap});
}

std::int32_t _nw_banded_diag_simd_i32(const std::uint8_t *seq_a, std::int32_t len_a,
                                      const std::uint8_t *seq_b, std::int32_t len_b,
                                      const char *decode, std::int32_t match,
                                      std::int32_t mismatch, std::int32_t gap, std::int32_t band,
                                      char *out_a, char *out_b, std::int32_t *score,
                                      std::int32_t *n_match, std::int32_t *n_mismatch,
                                      std::int32_t *n_gap) {
    return banded_diag_kernel<Lanes32>({seq_a, len_a, seq_b, len_b, decode, match, mismatch, gap,
                                        band, out_a, out_b, score, n_match, n_mismatch, n_gap});
}

std::int32_t banded_diag_simd_runs(bool lanes32, const std::uint8_t *seq_a, std::int32_t len_a,
                                   const std::uint8_t *seq_b, std::int32_t len_b,
                                   std::int32_t match, std::int32_t mismatch, std::int32_t gap,
                                   std::int32_t band, std::int32_t *score, TracebackRuns &runs,
                                   std::int32_t *n_match, std::int32_t *n_mismatch,
                                   std::int32_t *n_gap) {
    const auto kernel = lanes32 ? banded_runs_kernel<Lanes32> : banded_runs_kernel<Lanes16>;
    return kernel(seq_a, len_a, seq_b, len_b, match, mismatch, gap, band, score, runs, n_match,
                  n_mismatch, n_gap);
}

}  // namespace engine
