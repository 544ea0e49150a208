// nw_banded_semiglobal: banded alignment where B's leading residues inside
// the band and A's trailing residues cost nothing. Only the last column of
// the band is searched for the end, so B's trailing residues always count.
#include <algorithm>
#include <cstdint>

#include "align/align_common.h"
#include "align/band_matrix.h"
#include "core/export.h"

namespace {

struct EndRow {
    std::int64_t row;
    std::int32_t score;
};

// Topmost best cell of column len_b among the rows whose cell (i, len_b) lies
// in the band; row len_a with NEG_INF when none is reachable.
EndRow best_in_last_column(const engine::BandMatrices &band_mx, std::int64_t len_a,
                           std::int64_t len_b, std::int64_t w) {
    EndRow end{len_a, engine::NEG_INF};
    const std::int64_t i_hi = std::min(len_a, len_b + w);
    for (std::int64_t i = std::max<std::int64_t>(0, len_b - w); i <= i_hi; ++i) {
        const std::int32_t value = band_mx.score_at(i, len_b);
        if (value > end.score) end = {i, value};
    }
    return end;
}

}  // namespace

ENGINE_EXPORT std::int32_t nw_banded_semiglobal(const std::uint8_t *seq_a, std::int32_t len_a,
                                                const std::uint8_t *seq_b, std::int32_t len_b,
                                                const char *decode, std::int32_t match,
                                                std::int32_t mismatch, std::int32_t gap,
                                                std::int32_t band, char *out_a, char *out_b,
                                                std::int32_t *score, std::int32_t *n_match,
                                                std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    if (band < 0) return -1;
    const std::int64_t w = effective_band(band, len_a, len_b);
    BandMatrices band_mx;
    if (!band_mx.reserve(len_a, w)) return -1;
    band_mx.set_borders(len_a, len_b, /*row0_gap=*/0, gap);
    band_mx.fill(seq_a, len_a, seq_b, len_b, match, mismatch, gap);
    const EndRow end = best_in_last_column(band_mx, len_a, len_b, w);
    *score = end.score;

    TracebackWriter columns(seq_a, seq_b, decode);
    if (!columns.reserve(len_a, len_b)) return -1;
    for (std::int64_t i = len_a; i > end.row; --i) columns.up(i);  // A's free tail
    band_mx.walk(end.row, len_b, columns);
    return columns.finish(out_a, out_b, n_match, n_mismatch, n_gap);
}
