// sw_align: the best-scoring local alignment. Zero borders, a diagonal
// candidate floored at zero, the first best cell in fill order as the end,
// and a traceback that stops at the first cell not above zero.
#include <cstdint>

#include "align/align_common.h"
#include "align/full_matrix.h"
#include "core/export.h"

namespace {

struct BestCell {
    std::int64_t i = 0;
    std::int64_t j = 0;
    std::int32_t score = 0;

    // Only a strictly greater cell replaces the best, so the first maximum
    // in fill order (smallest i, then smallest j) is kept: the row's first
    // cell holding its maximum, when that beats the best so far.
    void consider_row(std::int64_t row, const std::int32_t *scores, std::int64_t len_b,
                      std::int32_t row_max) {
        if (row_max <= score) return;
        *this = {row, 1 + engine::first_position_of(scores + 1, len_b, row_max), row_max};
    }
};

}  // namespace

ENGINE_EXPORT std::int32_t sw_align(const std::uint8_t *seq_a, std::int32_t len_a,
                                    const std::uint8_t *seq_b, std::int32_t len_b,
                                    const char *decode, std::int32_t match, std::int32_t mismatch,
                                    std::int32_t gap, char *out_a, char *out_b,
                                    std::int32_t *score, std::int32_t *n_match,
                                    std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    FullMatrices mx(len_a, len_b);
    if (!mx.reserve()) return -1;
    BestCell best;
    mx.fill<DiagonalFloor::zero>(seq_a, seq_b, {match, mismatch, gap}, ZERO_BORDERS,
                                 [&](std::int64_t i, const std::int32_t *row, std::int32_t row_max) {
                                     best.consider_row(i, row, len_b, row_max);
                                 });
    *score = best.score;

    TracebackWriter columns(seq_a, seq_b, decode);
    if (!columns.reserve(len_a, len_b)) return -1;
    mx.walk_while_positive(best.i, best.j, columns);
    return columns.finish(out_a, out_b, n_match, n_mismatch, n_gap);
}
