// The vectorised banded kernels: the anti-diagonal banded alignment computed
// 16 cells (16-bit lanes) or 8 cells (32-bit lanes) at a time. Same calling
// form and results as nw_banded_diag while the scores stay in the lane range.
#pragma once

#include <cstdint>

namespace engine {

class TracebackRuns;

// Longest sequence nw_banded_diag_simd gives the 16-bit kernel (read
// mapping picks its kernel by the same length).
inline constexpr std::int32_t kI16MaxLength = 12000;
// Scores and candidates the 16-bit kernel represents exactly: above its
// unreachable marker (-16384), up to the largest 16-bit value.
inline constexpr std::int32_t kI16LowestScore = -16383;
inline constexpr std::int32_t kI16HighestScore = 32767;

// True when no reachable score or candidate of a banded alignment with these
// arguments can leave the 16-bit kernel's range (a cheap, conservative bound
// from the lengths, the band and the three scores).
bool banded_scores_fit_i16(std::int32_t len_a, std::int32_t len_b, std::int32_t match,
                           std::int32_t mismatch, std::int32_t gap, std::int32_t band);

// The choice of nw_banded_diag_simd: the 16-bit kernel when neither length
// exceeds kI16MaxLength and the scores provably fit, else the 32-bit one.
bool banded_simd_picks_i16(std::int32_t len_a, std::int32_t len_b, std::int32_t match,
                           std::int32_t mismatch, std::int32_t gap, std::int32_t band);

std::int32_t _nw_banded_diag_simd_i16(const std::uint8_t *seq_a, std::int32_t len_a,
                                      const std::uint8_t *seq_b, std::int32_t len_b,
                                      const char *decode, std::int32_t match,
                                      std::int32_t mismatch, std::int32_t gap, std::int32_t band,
                                      char *out_a, char *out_b, std::int32_t *score,
                                      std::int32_t *n_match, std::int32_t *n_mismatch,
                                      std::int32_t *n_gap);

std::int32_t _nw_banded_diag_simd_i32(const std::uint8_t *seq_a, std::int32_t len_a,
                                      const std::uint8_t *seq_b, std::int32_t len_b,
                                      const char *decode, std::int32_t match,
                                      std::int32_t mismatch, std::int32_t gap, std::int32_t band,
                                      char *out_a, char *out_b, std::int32_t *score,
                                      std::int32_t *n_match, std::int32_t *n_mismatch,
                                      std::int32_t *n_gap);

// The kernels' alignment (32-bit lanes when lanes32, else 16-bit) with its
// columns collected as runs of moves (TracebackRuns) instead of gapped
// strings: the same score, counters and column count (the result, -1 on
// failure), for callers that only need the alignment's shape.
std::int32_t banded_diag_simd_runs(bool lanes32, const std::uint8_t *seq_a, std::int32_t len_a,
                                   const std::uint8_t *seq_b, std::int32_t len_b,
                                   std::int32_t match, std::int32_t mismatch, std::int32_t gap,
                                   std::int32_t band, std::int32_t *score, TracebackRuns &runs,
                                   std::int32_t *n_match, std::int32_t *n_mismatch,
                                   std::int32_t *n_gap);

}  // namespace engine
