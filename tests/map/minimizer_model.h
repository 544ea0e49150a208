// Plain model of minimizer extraction, as first described: hash every k-mer
// position into an array of n values, then scan all w values of every window
// for its leftmost minimum. The tests compare the library against it, and
// the index benchmark times it as the rescanning reference.
#pragma once

#include <cstdint>
#include <memory>

namespace minimizer_model {

inline constexpr std::uint64_t INVALID = ~std::uint64_t{0};

inline std::uint64_t hash(std::uint64_t x, std::uint64_t m) {
    x = (~x + (x << 21)) & m;
    x = x ^ (x >> 24);
    x = (x * 265) & m;
    x = x ^ (x >> 14);
    x = (x * 21) & m;
    x = x ^ (x >> 28);
    x = (x + (x << 31)) & m;
    return x;
}

// Same arguments and result as bio_minimizers (k 1 to 32, w at least 1).
inline std::int64_t rescanning_minimizers(const std::uint8_t *seq, std::int64_t len, int k, int w,
                                          std::uint64_t *out_hash, std::int64_t *out_pos,
                                          std::uint8_t *out_strand) {
    const std::int64_t n = len - k + 1;
    if (n <= 0) return 0;
    const std::uint64_t mask = k == 32 ? ~std::uint64_t{0} : (std::uint64_t{1} << (2 * k)) - 1;
    // Uninitialised, as malloc gives them: the scan writes every entry.
    const std::unique_ptr<std::uint64_t[]> value(new std::uint64_t[n]);
    const std::unique_ptr<std::uint8_t[]> strand(new std::uint8_t[n]);
    std::uint64_t fwd = 0, rc = 0;
    std::int64_t valid_run = 0;
    for (std::int64_t i = 0; i < len; ++i) {
        const std::uint64_t c = seq[i];
        if (c < 4) {
            fwd = ((fwd << 2) | c) & mask;
            rc = (rc >> 2) | ((3 - c) << (2 * k - 2));
            ++valid_run;
        } else {
            fwd = rc = 0;
            valid_run = 0;
        }
        if (i < k - 1) continue;
        const std::int64_t p = i - k + 1;
        if (valid_run < k) {
            value[p] = INVALID;
            strand[p] = 0;
            continue;
        }
        const std::uint64_t hf = hash(fwd, mask);
        const std::uint64_t hr = hash(rc & mask, mask);
        value[p] = hr < hf ? hr : hf;
        strand[p] = hr < hf ? 1 : 0;
    }
    std::int64_t count = 0;
    auto emit = [&](std::int64_t j) {
        out_hash[count] = value[j];
        out_pos[count] = j;
        out_strand[count] = strand[j];
        ++count;
    };
    if (w > n) {
        std::int64_t best = 0;
        for (std::int64_t j = 1; j < n; ++j)
            if (value[j] < value[best]) best = j;
        if (value[best] != INVALID) emit(best);
        return count;
    }
    std::int64_t last = -1;
    for (std::int64_t s = 0; s + w <= n; ++s) {
        std::int64_t j = s;
        for (std::int64_t t = s + 1; t < s + w; ++t)
            if (value[t] < value[j]) j = t;
        if (j == last || value[j] == INVALID) continue;
        emit(j);
        last = j;
    }
    return count;
}

}  // namespace minimizer_model
