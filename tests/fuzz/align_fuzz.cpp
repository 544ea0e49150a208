// The banded global aligners on arbitrary sequences and scores: the
// vectorised sweep (both kernels) and the scalar anti-diagonal sweep must
// give exactly what the row-wise nw_banded gives (score, strings, counters,
// result), wherever the scores stay in the range all of them promise:
// (len_a + len_b) times the largest score magnitude below 2^30.
//
// Input layout: byte 0 the band, bytes 1-3 match, mismatch and gap (signed,
// byte 4 scales them by a power of two), bytes 5-6 where the rest is cut
// into A and B. A sequence byte gives code byte & 3 below 0xE0, else
// byte & 31 (unknown and amino-acid codes).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "align/banded_simd.h"
#include "engine.h"

namespace {

using Codes = std::vector<std::uint8_t>;
using Aligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                 std::int32_t, const char *, std::int32_t, std::int32_t,
                                 std::int32_t, std::int32_t, char *, char *, std::int32_t *,
                                 std::int32_t *, std::int32_t *, std::int32_t *);

const char kDecode[] = "ACGTDEFHIKLMNPQRSVWYBJOUXZ*-0123";

struct Result {
    std::int32_t columns, score, n_match, n_mismatch, n_gap;
    std::string a, b;
    bool operator==(const Result &) const = default;
};

Result run(Aligner align, const Codes &a, const Codes &b, std::int32_t match,
           std::int32_t mismatch, std::int32_t gap, std::int32_t band) {
    std::vector<char> out_a(a.size() + b.size() + 1), out_b(out_a.size());
    Result r{};
    r.columns = align(a.data(), std::int32_t(a.size()), b.data(), std::int32_t(b.size()), kDecode,
                      match, mismatch, gap, band, out_a.data(), out_b.data(), &r.score, &r.n_match,
                      &r.n_mismatch, &r.n_gap);
    if (r.columns < 0) std::abort();  // no allocation fails at these sizes
    r.a.assign(out_a.data(), strnlen(out_a.data(), out_a.size()));
    r.b.assign(out_b.data(), strnlen(out_b.data(), out_b.size()));
    return r;
}

Codes codes_of(const std::uint8_t *p, std::size_t n) {
    Codes c(n);
    for (std::size_t i = 0; i < n; ++i) c[i] = p[i] < 0xE0 ? p[i] & 3 : p[i] & 31;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 7) return 0;
    const std::int32_t band = data[0] % 130;
    const int shift = data[4] % 20;
    const std::int32_t match = std::int32_t(std::int8_t(data[1])) * (1 << shift);
    const std::int32_t mismatch = std::int32_t(std::int8_t(data[2])) * (1 << shift);
    const std::int32_t gap = std::int32_t(std::int8_t(data[3])) * (1 << shift);
    const std::size_t rest = size - 7, cut = ((std::size_t(data[5]) << 8) | data[6]) * rest / 65536;
    const Codes a = codes_of(data + 7, cut), b = codes_of(data + 7 + cut, rest - cut);

    const std::int64_t largest =
        std::max({std::abs(std::int64_t{match}), std::abs(std::int64_t{mismatch}),
                  std::abs(std::int64_t{gap})});
    if (largest * std::int64_t(a.size() + b.size()) >= (std::int64_t{1} << 30)) return 0;

    const Result want = run(nw_banded, a, b, match, mismatch, gap, band);
    if (run(nw_banded_diag, a, b, match, mismatch, gap, band) != want) std::abort();
    if (run(nw_banded_diag_simd, a, b, match, mismatch, gap, band) != want) std::abort();
    // The kernel nw_banded_diag_simd did not pick, wherever it applies.
    const auto n = std::int32_t(a.size()), m = std::int32_t(b.size());
    const bool picked_i16 = engine::banded_simd_picks_i16(n, m, match, mismatch, gap, band);
    const bool i16_fits = engine::banded_scores_fit_i16(n, m, match, mismatch, gap, band);
    if (picked_i16 && run(engine::_nw_banded_diag_simd_i32, a, b, match, mismatch, gap, band) != want)
        std::abort();
    if (!picked_i16 && i16_fits &&
        run(engine::_nw_banded_diag_simd_i16, a, b, match, mismatch, gap, band) != want)
        std::abort();
    return 0;
}
