// Banded alignment throughput: the 16-bit and 32-bit kernels against
// nw_banded_diag and nw_banded, band 64, match 2 / mismatch -1 / gap -2, on
// pairs of 1, 5, 10 and 20 kb at about 10% divergence (a random sequence and
// a copy with substitutions, insertions and deletions; fixed seed). Band
// cells are the cells with |j - i| <= 64 inside the matrix. Peers: parasail's
// traceback-producing global aligners (full matrix, so their cells are
// n x m), timed with the traceback strings they produce.
//
// Usage: bench_simd [repeats [length]]   one table per size (or only the
// given length), medians of repeats.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <ctime>
#include <vector>

#include "align/banded_simd.h"
#include "../alignment_pairs.h"
#include "engine.h"

#ifdef BENCH_WITH_PARASAIL
#include <parasail.h>
#endif

namespace {

using namespace bench;  // scoring, pairs and timing shared with the other aligner benchmark

Codes diverged_copy(std::mt19937 &rng, const Codes &src, double rate) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Codes out;
    for (std::uint8_t c : src) {
        if (u(rng) >= rate) {
            out.push_back(c);
        } else if (const unsigned kind = rng() % 3; kind == 0) {
            out.push_back(static_cast<std::uint8_t>((c + 1 + rng() % 3) % 4));
        } else if (kind == 2) {
            out.push_back(c);
            out.push_back(static_cast<std::uint8_t>(rng() % 4));
        }
    }
    return out;
}

std::vector<Pair> make_pairs(std::size_t len, int count, std::mt19937 &rng) {
    std::vector<Pair> pairs;
    for (int p = 0; p < count; ++p) {
        Pair pr;
        pr.a.resize(len);
        for (auto &c : pr.a) c = static_cast<std::uint8_t>(rng() % 4);
        pr.b = diverged_copy(rng, pr.a, 0.10);
        for (auto c : pr.a) pr.a_text.push_back(kDecode[c]);
        for (auto c : pr.b) pr.b_text.push_back(kDecode[c]);
        pairs.push_back(std::move(pr));
    }
    return pairs;
}

// Median over `repeats` of the time to run `one` on every pair, per pair.
double median_seconds_per_pair(const std::vector<Pair> &pairs, int repeats,
                               const std::function<void(const Pair &)> &one) {
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = thread_seconds();
        for (const Pair &p : pairs) one(p);
        times.push_back((thread_seconds() - t0) / pairs.size());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

using Aligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                 std::int32_t, const char *, std::int32_t, std::int32_t,
                                 std::int32_t, std::int32_t, char *, char *, std::int32_t *,
                                 std::int32_t *, std::int32_t *, std::int32_t *);

struct Row {
    std::string name;
    double seconds;      // per alignment
    double cells;        // per alignment, as that aligner counts them
};

void print_rows(const std::vector<Row> &rows, double diag_cells_per_s) {
    std::printf("  %-34s %12s %14s %12s\n", "aligner", "ms/aln", "Mcells/s", "x diag");
    for (const Row &r : rows) {
        const double cps = r.cells / r.seconds;
        std::printf("  %-34s %12.3f %14.1f %12.2f\n", r.name.c_str(), r.seconds * 1e3, cps / 1e6,
                    cps / diag_cells_per_s);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::size_t only = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
    std::mt19937 rng(20261208);
    struct Size {
        std::size_t len;
        int count;
    };
    for (const Size size : {Size{1000, 40}, Size{5000, 8}, Size{10000, 4}, Size{20000, 2}}) {
        const std::vector<Pair> pairs = make_pairs(size.len, size.count, rng);
        if (only != 0 && only != size.len) continue;
        double cells = 0, full_cells = 0;
        for (const Pair &p : pairs) {
            cells += band_cells(p.a.size(), p.b.size(), kBand);
            full_cells += double(p.a.size()) * p.b.size();
        }
        cells /= pairs.size();
        full_cells /= pairs.size();
        std::vector<char> out_a(2 * size.len + 2 * size.len / 5 + 64), out_b(out_a.size());
        std::int32_t score, nm, nx, ng;
        const auto ours = [&](Aligner f) {
            return [&, f](const Pair &p) {
                f(p.a.data(), std::int32_t(p.a.size()), p.b.data(), std::int32_t(p.b.size()),
                  kDecode, kMatch, kMismatch, kGap, kBand, out_a.data(), out_b.data(), &score,
                  &nm, &nx, &ng);
            };
        };
        std::vector<Row> rows;
        const double diag = median_seconds_per_pair(pairs, repeats, ours(nw_banded_diag));
        rows.push_back({"nw_banded_diag", diag, cells});
        rows.push_back({"nw_banded", median_seconds_per_pair(pairs, repeats, ours(nw_banded)), cells});
        if (size.len <= 12000)
            rows.push_back({"_nw_banded_diag_simd_i16",
                            median_seconds_per_pair(pairs, repeats, ours(engine::_nw_banded_diag_simd_i16)),
                            cells});
        rows.push_back({"_nw_banded_diag_simd_i32",
                        median_seconds_per_pair(pairs, repeats, ours(engine::_nw_banded_diag_simd_i32)),
                        cells});
#ifdef BENCH_WITH_PARASAIL
        if (!std::getenv("BENCH_NO_PEER")) {
        using Peer = parasail_result_t *(*)(const char *, int, const char *, int, int, int,
                                            const parasail_matrix_t *);
        struct Named {
            const char *name;
            Peer f;
        };
        parasail_matrix_t *matrix = parasail_matrix_create("ACGT", kMatch, kMismatch);
        const Named peers[] = {
            {"parasail_nw_trace_striped_avx2_256_16", parasail_nw_trace_striped_avx2_256_16},
            {"parasail_nw_trace_scan_avx2_256_16", parasail_nw_trace_scan_avx2_256_16},
            {"parasail_nw_trace_diag_avx2_256_16", parasail_nw_trace_diag_avx2_256_16},
            {"parasail_nw_trace_striped_avx2_256_32", parasail_nw_trace_striped_avx2_256_32},
            {"parasail_nw_trace_scan_avx2_256_32", parasail_nw_trace_scan_avx2_256_32},
            {"parasail_nw_trace_diag_avx2_256_32", parasail_nw_trace_diag_avx2_256_32},
        };
        for (const Named &peer : peers) {
            bool saturated = false;
            const double t = median_seconds_per_pair(pairs, std::max(1, repeats / 2), [&](const Pair &p) {
                // Linear gaps: opening and extending both cost 2.
                parasail_result_t *r = peer.f(p.a_text.data(), int(p.a.size()), p.b_text.data(),
                                              int(p.b.size()), 2, 2, matrix);
                saturated |= parasail_result_is_saturated(r) != 0;
                parasail_traceback_t *tb = parasail_result_get_traceback(
                    r, p.a_text.data(), int(p.a.size()), p.b_text.data(), int(p.b.size()), matrix,
                    '|', ':', '.');
                parasail_traceback_free(tb);
                parasail_result_free(r);
            });
            if (!saturated) rows.push_back({peer.name, t, full_cells});
        }
        parasail_matrix_free(matrix);
        }
#endif
        std::printf("%zu bp pairs (%zu pairs, band %d, %.0f band cells/aln, %.0f full cells/aln), median of %d\n",
                    size.len, pairs.size(), kBand, cells, full_cells, repeats);
        print_rows(rows, cells / diag);
        std::fflush(stdout);
    }
    return 0;
}
