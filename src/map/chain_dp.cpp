// Colinear chaining dynamic program: the best score of a chain ending at
// each anchor, looking back over a bounded number of predecessors.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/export.h"
#include "engine.h"

namespace {

// What linking to a predecessor dx, dy away adds: the new bases, at most
// one seed.
inline std::int64_t link_bases(std::int64_t dx, std::int64_t dy, std::int32_t k) {
    const std::int64_t a = dx < dy ? dx : dy;
    return a < k ? a : k;
}

// What the implied indel of length |dx - dy| costs; log2 only when there is
// one.
inline double link_gap_cost(std::int64_t dx, std::int64_t dy, double gap_scale) {
    const std::int64_t g = dx > dy ? dx - dy : dy - dx;
    if (g == 0) return 0.0;
    return gap_scale * static_cast<double>(g) + 0.5 * std::log2(static_cast<double>(g));
}

}  // namespace

ENGINE_EXPORT void bio_chain_dp(const int64_t *x, const int64_t *y, int32_t n, int32_t k,
                                int64_t max_dist, int32_t max_lookback, double gap_scale,
                                double *f, int32_t *prev) {
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
                                     link_gap_cost(dx, dy, gap_scale);
            if (candidate > best) {
                best = candidate;
                best_j = static_cast<std::int32_t>(j);
            }
        }
        f[i] = best;
        prev[i] = best_j;
    }
}
