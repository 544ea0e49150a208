// What the aligner benchmarks share: the scoring they all use, sequence
// pairs held both as residue codes (for the library) and as letters (for
// the peers), the band's cell count, and the thread's processor time.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr std::int32_t kMatch = 2, kMismatch = -1, kGap = -2, kBand = 64;
// Residue code to letter, as the library decodes nucleotides.
inline const char kDecode[] = "ACGTNNNNNNNNNNNNNNNNNNNNNNNNNNNN";

using Codes = std::vector<std::uint8_t>;

struct Pair {
    std::string a_text, b_text;
    Codes a, b;
};

// Cells (i, j) of an (n+1) x (m+1) matrix with |j - i| <= w.
inline double band_cells(std::int64_t n, std::int64_t m, std::int64_t w) {
    double cells = 0;
    for (std::int64_t i = 0; i <= n; ++i)
        cells += static_cast<double>(
            std::max<std::int64_t>(0, std::min(m, i + w) - std::max<std::int64_t>(0, i - w) + 1));
    return cells;
}

// Processor seconds of this thread (user and system, so page faults count):
// on a shared machine far steadier than wall time.
inline double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace bench
