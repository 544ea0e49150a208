// nw_semiglobal: B's leading residues are free, and at the end either B's
// or A's trailing residues, whichever scores best; A's leading residues
// always count.
#include <cstdint>
#include <limits>

#include "align/align_common.h"
#include "align/full_matrix.h"
#include "core/export.h"

namespace {

struct EndCell {
    std::int64_t i;
    std::int64_t j;
    std::int32_t score;
};

// The last column's topmost maximum, gathered row by row during the fill.
struct LastColumnBest {
    std::int64_t i = 0;
    std::int32_t score = std::numeric_limits<std::int32_t>::min();

    void consider(std::int64_t row, std::int32_t value) {
        if (value > score) *this = {row, value};
    }
};

// The last row's leftmost maximum, replaced by the last column's topmost
// maximum only when that one is strictly greater.
EndCell best_end_cell(const std::int32_t *last_row, std::int64_t len_a, std::int64_t len_b,
                      const LastColumnBest &column) {
    EndCell end{len_a, len_b, std::numeric_limits<std::int32_t>::min()};
    for (std::int64_t j = 0; j <= len_b; ++j)
        if (last_row[j] > end.score) end = {len_a, j, last_row[j]};
    if (column.score > end.score) end = {column.i, len_b, column.score};
    return end;
}

}  // namespace

ENGINE_EXPORT std::int32_t nw_semiglobal(const std::uint8_t *seq_a, std::int32_t len_a,
                                         const std::uint8_t *seq_b, std::int32_t len_b,
                                         const char *decode, std::int32_t match,
                                         std::int32_t mismatch, std::int32_t gap, char *out_a,
                                         char *out_b, std::int32_t *score, std::int32_t *n_match,
                                         std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    FullMatrices mx(len_a, len_b);
    if (!mx.reserve()) return -1;
    LastColumnBest column;
    mx.fill<DiagonalFloor::none>(
        seq_a, seq_b, {match, mismatch, gap}, free_row0_borders(gap),
        [&](std::int64_t i, const std::int32_t *row, std::int32_t) {
            column.consider(i, row[len_b]);
        });
    const EndCell end = best_end_cell(mx.last_row(), len_a, len_b, column);
    *score = end.score;

    TracebackWriter columns(seq_a, seq_b, decode);
    if (!columns.reserve(len_a, len_b)) return -1;
    // The free tail comes last in the alignment, so it is emitted first.
    for (std::int64_t i = len_a; i > end.i; --i) columns.up(i);
    for (std::int64_t j = len_b; j > end.j; --j) columns.left(j);
    mx.walk_to_origin(end.i, end.j, columns);
    return columns.finish(out_a, out_b, n_match, n_mismatch, n_gap);
}
