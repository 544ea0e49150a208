// Colinear chaining dynamic program: the best score of a chain ending at
// each anchor, looking back over a bounded number of predecessors.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/export.h"
#include "engine.h"
#include "map/chain.h"

namespace {

// What linking to a predecessor dx, dy away adds: the new bases, at most
// one seed.
inline std::int64_t link_bases(std::int64_t dx, std::int64_t dy, std::int32_t k) {
    const std::int64_t a = dx < dy ? dx : dy;
    return a < k ? a : k;
}

// log2 of an indel length: from the table when it covers g, else the call.
inline double indel_log2(std::int64_t g, const double *table) {
    return g < engine::LOG2_TABLE_SIZE ? table[g] : std::log2(static_cast<double>(g));
}

// What the implied indel of length |dx - dy| costs; log2 only when there is
// one.
inline double link_gap_cost(std::int64_t dx, std::int64_t dy, double gap_scale,
                            const double *table) {
    const std::int64_t g = dx > dy ? dx - dy : dy - dx;
    if (g == 0) return 0.0;
    return gap_scale * static_cast<double>(g) + 0.5 * indel_log2(g, table);
}

struct Log2Table {
    double value[engine::LOG2_TABLE_SIZE];
    Log2Table() {
        value[0] = 0.0;
        for (std::int64_t g = 1; g < engine::LOG2_TABLE_SIZE; ++g)
            value[g] = std::log2(static_cast<double>(g));
    }
};

}  // namespace

const double *engine::log2_table() {
    static const Log2Table table;  // filled on first use, once, by any thread
    return table.value;
}

ENGINE_EXPORT void bio_chain_dp(const int64_t *x, const int64_t *y, int32_t n, int32_t k,
                                int64_t max_dist, int32_t max_lookback, double gap_scale,
                                double *f, int32_t *prev) {
    const double *log2_of = engine::log2_table();
    for (std::int32_t i = 0; i < n; ++i) {
        double best = static_cast<double>(k);
        std::int32_t best_j = -1;
        // No predecessor at all when max_lookback <= 0.
        const std::int64_t stop = std::max<std::int64_t>(0, std::int64_t{i} - max_lookback);
        for (std::int64_t j = std::int64_t{i} - 1; j >= stop; --j) {
            const std::int64_t dx = x[i] - x[j];
            if (dx > max_dist) break;  // x ascends: earlier anchors are farther
            const std::int64_t dy = y[i] - y[j];
            if (dx <= 0 || dy <= 0 || dy > max_dist) continue;
            // Summed in this order, (f + a) - c, so scores are the same on
            // every build; the nearest predecessor wins ties because only a
            // strictly better candidate replaces the best.
            const double candidate = f[j] + static_cast<double>(link_bases(dx, dy, k)) -
                                     link_gap_cost(dx, dy, gap_scale, log2_of);
            if (candidate > best) {
                best = candidate;
                best_j = static_cast<std::int32_t>(j);
            }
        }
        f[i] = best;
        prev[i] = best_j;
    }
}
