// The vectorised banded kernels: the anti-diagonal banded alignment computed
// 16 cells (16-bit lanes) or 8 cells (32-bit lanes) at a time. Same calling
// form and results as nw_banded_diag while the scores stay in the lane range.
#pragma once

#include <cstdint>

namespace engine {

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

}  // namespace engine
