// nw_banded_diag: the banded global alignment of nw_banded, swept along
// anti-diagonals with three score vectors; every cell by the scalar rule.
#include <cstdint>

#include "align/align_common.h"
#include "align/banded_diag_sweep.h"
#include "core/export.h"

ENGINE_EXPORT std::int32_t nw_banded_diag(const std::uint8_t *seq_a, std::int32_t len_a,
                                          const std::uint8_t *seq_b, std::int32_t len_b,
                                          const char *decode, std::int32_t match,
                                          std::int32_t mismatch, std::int32_t gap,
                                          std::int32_t band, char *out_a, char *out_b,
                                          std::int32_t *score, std::int32_t *n_match,
                                          std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    const BandedCall call{seq_a, len_a, seq_b, len_b, decode, match, mismatch, gap,
                          band,  out_a, out_b, score, n_match, n_mismatch, n_gap};
    const auto no_blocks = [](const DiagonalView<std::int32_t> &, std::int64_t first,
                              std::int64_t) { return first; };
    return sweep_banded_diag<std::int32_t>(call, NEG_INF, no_blocks);
}
