// nw_global: end-to-end alignment of all of A with all of B over the full
// matrix, the reference member of the aligner family.
#include <cstdint>

#include "align/align_common.h"
#include "align/full_matrix.h"
#include "core/export.h"

ENGINE_EXPORT std::int32_t nw_global(const std::uint8_t *seq_a, std::int32_t len_a,
                                     const std::uint8_t *seq_b, std::int32_t len_b,
                                     const char *decode, std::int32_t match,
                                     std::int32_t mismatch, std::int32_t gap, char *out_a,
                                     char *out_b, std::int32_t *score, std::int32_t *n_match,
                                     std::int32_t *n_mismatch, std::int32_t *n_gap) {
    using namespace engine;
    FullMatrices mx(len_a, len_b);
    if (!mx.reserve()) return -1;
    mx.fill<DiagonalFloor::none>(seq_a, seq_b, {match, mismatch, gap}, global_borders(gap));
    *score = mx.last_row()[len_b];

    TracebackWriter columns(seq_a, seq_b, decode);
    if (!columns.reserve(len_a, len_b)) return -1;
    mx.walk_to_origin(len_a, len_b, columns);
    return columns.finish(out_a, out_b, n_match, n_mismatch, n_gap);
}
