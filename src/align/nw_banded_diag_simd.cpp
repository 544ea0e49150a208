// nw_banded_diag_simd: picks the 16-bit kernel when every score it could
// meet provably fits its lanes, the 32-bit kernel otherwise.
#include <algorithm>
#include <cstdint>

#include "align/band_matrix.h"
#include "align/banded_simd.h"
#include "core/export.h"

namespace engine {

// Every reachable band cell (i, j) scores at least what min(i, j) diagonal
// columns followed by |i - j| gap columns score (that path stays in the
// band), and at most min(i, j) times the best diagonal column when gaps
// cost (with gap > 0, at most i + j times the best column). Over the band,
// min(i, j) <= min(n, m) and |i - j| <= w; a candidate adds one more column.
// All terms stay far inside 64 bits for any 32-bit arguments.
bool banded_scores_fit_i16(std::int32_t len_a, std::int32_t len_b, std::int32_t match,
                           std::int32_t mismatch, std::int32_t gap, std::int32_t band) {
    if (band < 0) return true;  // both kernels refuse it alike
    const std::int64_t diag_cols = std::min(len_a, len_b);
    const std::int64_t gap_cols = effective_band(band, len_a, len_b);
    const std::int64_t worst_pair = std::min({match, mismatch, 0});
    const std::int64_t best_pair = std::max({match, mismatch, 0});
    const std::int64_t worst_column = std::min({match, mismatch, gap, 0});
    const std::int64_t best_column = std::max({match, mismatch, gap, 0});

    const std::int64_t lowest_score =
        diag_cols * worst_pair + gap_cols * std::min<std::int64_t>(gap, 0);
    const std::int64_t highest_score =
        gap > 0 ? (std::int64_t{len_a} + len_b) * best_column : diag_cols * best_pair;
    return lowest_score + worst_column >= kI16LowestScore &&
           highest_score + best_column <= kI16HighestScore;
}

bool banded_simd_picks_i16(std::int32_t len_a, std::int32_t len_b, std::int32_t match,
                           std::int32_t mismatch, std::int32_t gap, std::int32_t band) {
    return len_a <= kI16MaxLength && len_b <= kI16MaxLength &&
           banded_scores_fit_i16(len_a, len_b, match, mismatch, gap, band);
}

}  // namespace engine

ENGINE_EXPORT std::int32_t nw_banded_diag_simd(const std::uint8_t *seq_a, std::int32_t len_a,
                                               const std::uint8_t *seq_b, std::int32_t len_b,
                                               const char *decode, std::int32_t match,
                                               std::int32_t mismatch, std::int32_t gap,
                                               std::int32_t band, char *out_a, char *out_b,
                                               std::int32_t *score, std::int32_t *n_match,
                                               std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    const auto kernel = banded_simd_picks_i16(len_a, len_b, match, mismatch, gap, band)
                            ? _nw_banded_diag_simd_i16
                            : _nw_banded_diag_simd_i32;
    return kernel(seq_a, len_a, seq_b, len_b, decode, match, mismatch, gap, band, out_a, out_b,
                  score, n_match, n_mismatch, n_gap);
}
