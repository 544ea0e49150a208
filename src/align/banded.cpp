// nw_banded: global alignment restricted to the cells with |j - i| <= band.
#include <cstdint>

#include "align/align_common.h"
#include "align/band_matrix.h"
#include "core/export.h"

ENGINE_EXPORT std::int32_t nw_banded(const std::uint8_t *seq_a, std::int32_t len_a,
                                     const std::uint8_t *seq_b, std::int32_t len_b,
                                     const char *decode, std::int32_t match,
                                     std::int32_t mismatch, std::int32_t gap, std::int32_t band,
                                     char *out_a, char *out_b, std::int32_t *score,
                                     std::int32_t *n_match, std::int32_t *n_mismatch,
                                     std::int32_t *n_gap) {
    using namespace engine;
    if (band < 0) return -1;
    BandMatrices band_mx;
    if (!band_mx.reserve(len_a, effective_band(band, len_a, len_b))) return -1;
    band_mx.set_borders(len_a, len_b, gap, gap);
    band_mx.fill(seq_a, len_a, seq_b, len_b, match, mismatch, gap);
    *score = band_mx.score_at(len_a, len_b);

    TracebackWriter columns(seq_a, seq_b, decode);
    if (!columns.reserve(len_a, len_b)) return -1;
    band_mx.walk(len_a, len_b, columns);
    return columns.finish(out_a, out_b, n_match, n_mismatch, n_gap);
}
