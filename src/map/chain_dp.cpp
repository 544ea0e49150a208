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

// Whether the anchors all lie on one diagonal, each 1 to max_dist after the
// one before in x. Then every anchor's best predecessor is the one before:
// linking to it adds min(dx, k) at no gap cost, a farther one on the
// diagonal adds no more (min(a, k) + min(b, k) >= min(a + b, k), and the
// nearer one's score already holds the farther one's link), and the
// nearest wins ties.
bool on_one_diagonal(const std::int64_t *x, const std::int64_t *y, std::int32_t n,
                     std::int64_t max_dist) {
    for (std::int32_t i = 1; i < n; ++i) {
        const std::int64_t dx = x[i] - x[i - 1];
        if (dx < 1 || dx > max_dist || y[i] - y[i - 1] != dx) return false;
    }
    return true;
}

}  // namespace

const double *engine::log2_table() {
    static const Log2Table table;  // filled on first use, once, by any thread
    return table.value;
}

ENGINE_EXPORT void bio_chain_dp(const int64_t *x, const int64_t *y, int32_t n, int32_t k,
                                int64_t max_dist, int32_t max_lookback, double gap_scale,
                                double *f, int32_t *prev) {
    const double *log2_of = engine::log2_table();
    if (k >= 1 && max_lookback >= 1 && n >= 1 && on_one_diagonal(x, y, n, max_dist)) {
        // Every link is to the anchor before, scored as the loop below scores it.
        f[0] = static_cast<double>(k);
        prev[0] = -1;
        for (std::int32_t i = 1; i < n; ++i) {
            const std::int64_t dx = x[i] - x[i - 1], dy = y[i] - y[i - 1];
            f[i] = f[i - 1] + static_cast<double>(link_bases(dx, dy, k)) -
                   link_gap_cost(dx, dy, gap_scale, log2_of);
            prev[i] = i - 1;
        }
        return;
    }
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
