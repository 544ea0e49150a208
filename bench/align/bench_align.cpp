// Throughput of nw_global, nw_semiglobal, sw_align, nw_banded and
// nw_banded_semiglobal (band 64) with match 2 / mismatch -1 / gap -2 on
// read/reference pairs of 1, 5 and 10 kb (simulated long reads, about 10%
// divergence), against parasail's full-matrix global aligners with
// traceback (linear gap: open = extend = 2) and edlib's global edit-distance
// alignment with its path (unit costs, so a different score, but the usual
// fast peer for long DNA pairs), all timed with the strings or path they
// produce, in the same run.
//
// Cells: (n + 1) x (m + 1) for full matrices, the band cells inside the
// matrix (|j - i| <= 64) for the banded aligners.
//
// Usage: bench_align [pairs_dir [repeats]]
//   pairs_dir holds pairs_1k.tsv, pairs_5k.tsv, pairs_10k.tsv (columns 6 and
//   7: read piece, reference piece); when a file is missing, random pairs
//   with 10% substitutions and indels are made with a fixed seed instead.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../alignment_pairs.h"
#include "engine.h"

#ifdef BENCH_WITH_PARASAIL
#include <parasail.h>
#endif
#ifdef BENCH_WITH_EDLIB
#include <edlib.h>
#endif

namespace {

using namespace bench;  // scoring, pairs and timing shared with the other aligner benchmark

std::uint8_t code_of(char c) {
    switch (c) {
    case 'A': case 'a': return 0;
    case 'C': case 'c': return 1;
    case 'G': case 'g': return 2;
    case 'T': case 't': return 3;
    default: return 31;
    }
}

Pair make_pair_from(std::string a, std::string b) {
    Pair p{std::move(a), std::move(b), {}, {}};
    for (char c : p.a_text) p.a.push_back(code_of(c));
    for (char c : p.b_text) p.b.push_back(code_of(c));
    return p;
}

std::vector<Pair> read_pairs(const std::string &path, std::size_t want) {
    std::vector<Pair> pairs;
    std::ifstream in(path);
    std::string line;
    while (pairs.size() < want && std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream ss(line);
        for (std::string f; std::getline(ss, f, '\t');) fields.push_back(f);
        if (fields.size() >= 7) pairs.push_back(make_pair_from(fields[5], fields[6]));
    }
    return pairs;
}

std::vector<Pair> random_pairs(std::size_t len, std::size_t count, std::mt19937 &rng) {
    static const char kLetters[] = "ACGT";
    std::vector<Pair> pairs;
    for (std::size_t p = 0; p < count; ++p) {
        std::string a(len, 'A'), b;
        for (auto &c : a) c = kLetters[rng() % 4];
        for (char c : a) {
            const unsigned roll = rng() % 100;
            if (roll < 4) continue;                                  // deletion
            if (roll < 7) b += kLetters[rng() % 4];                  // insertion
            b += roll < 10 ? kLetters[(code_of(c) + 1) % 4] : c;      // substitution
        }
        pairs.push_back(make_pair_from(std::move(a), std::move(b)));
    }
    return pairs;
}

struct Contender {
    std::string name;
    bool banded;
    std::function<std::int32_t(const Pair &, std::vector<char> &, std::vector<char> &)> run;
};

template <class F>
std::function<std::int32_t(const Pair &, std::vector<char> &, std::vector<char> &)> plain(F f) {
    return [f](const Pair &p, std::vector<char> &oa, std::vector<char> &ob) {
        std::int32_t score, nm, nx, ng;
        return f(p.a.data(), static_cast<std::int32_t>(p.a.size()), p.b.data(),
                 static_cast<std::int32_t>(p.b.size()), kDecode, kMatch, kMismatch, kGap,
                 oa.data(), ob.data(), &score, &nm, &nx, &ng);
    };
}

template <class F>
std::function<std::int32_t(const Pair &, std::vector<char> &, std::vector<char> &)> banded(F f) {
    return [f](const Pair &p, std::vector<char> &oa, std::vector<char> &ob) {
        std::int32_t score, nm, nx, ng;
        return f(p.a.data(), static_cast<std::int32_t>(p.a.size()), p.b.data(),
                 static_cast<std::int32_t>(p.b.size()), kDecode, kMatch, kMismatch, kGap, kBand,
                 oa.data(), ob.data(), &score, &nm, &nx, &ng);
    };
}

#ifdef BENCH_WITH_PARASAIL
using ParasailFn = parasail_result_t *(*)(const char *, int, const char *, int, int, int,
                                          const parasail_matrix_t *);

std::function<std::int32_t(const Pair &, std::vector<char> &, std::vector<char> &)> parasail(
    ParasailFn f) {
    return [f](const Pair &p, std::vector<char> &, std::vector<char> &) {
        static parasail_matrix_t *matrix = parasail_matrix_create("ACGTN", kMatch, kMismatch);
        const int la = static_cast<int>(p.a_text.size()), lb = static_cast<int>(p.b_text.size());
        parasail_result_t *r = f(p.a_text.data(), la, p.b_text.data(), lb, -kGap, -kGap, matrix);
        parasail_traceback_t *tb =
            parasail_result_get_traceback(r, p.a_text.data(), la, p.b_text.data(), lb, matrix,
                                          '|', '*', ' ');
        const auto columns = static_cast<std::int32_t>(std::string(tb->query).size());
        parasail_traceback_free(tb);
        parasail_result_free(r);
        return columns;
    };
}
#endif

#ifdef BENCH_WITH_EDLIB
// Global alignment with its path; returns the path length (columns).
std::int32_t edlib_global(const Pair &p, std::vector<char> &, std::vector<char> &) {
    const EdlibAlignResult r =
        edlibAlign(p.a_text.data(), static_cast<int>(p.a_text.size()), p.b_text.data(),
                   static_cast<int>(p.b_text.size()),
                   edlibNewAlignConfig(-1, EDLIB_MODE_NW, EDLIB_TASK_PATH, nullptr, 0));
    const std::int32_t columns = r.alignmentLength;
    edlibFreeAlignResult(r);
    return columns;
}
#endif

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void bench_size(const char *label, const std::vector<Pair> &pairs,
                const std::vector<Contender> &contenders, int repeats) {
    double full = 0, band = 0;
    std::size_t longest = 0;
    for (const Pair &p : pairs) {
        full += static_cast<double>(p.a.size() + 1) * static_cast<double>(p.b.size() + 1);
        band += band_cells(static_cast<std::int64_t>(p.a.size()), static_cast<std::int64_t>(p.b.size()), kBand);
        longest = std::max(longest, p.a.size() + p.b.size() + 1);
    }
    std::vector<char> oa(longest), ob(longest);
    std::printf("\n%s: %zu pairs, %.3g full-matrix cells, %.3g band cells, median of %d\n", label,
                pairs.size(), full, band, repeats);
    std::printf("%-28s %12s %14s %14s %12s\n", "aligner", "cpu seconds", "Mcells/s", "pairs/s",
                "wall s");
    for (const Contender &c : contenders) {
        std::vector<double> times, walls;
        for (int r = 0; r < repeats; ++r) {
            const auto w0 = std::chrono::steady_clock::now();
            const double t0 = thread_seconds();
            std::int64_t columns = 0;
            for (const Pair &p : pairs) columns += c.run(p, oa, ob);
            times.push_back(thread_seconds() - t0);
            walls.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
            if (columns <= 0) std::printf("(no columns?)\n");
        }
        const double t = median(times);
        std::printf("%-28s %12.4f %14.1f %14.1f %12.4f\n", c.name.c_str(), t,
                    (c.banded ? band : full) / t / 1e6, static_cast<double>(pairs.size()) / t,
                    median(walls));
    }
}

}  // namespace

int main(int argc, char **argv) {
    const std::string dir = argc > 1 ? argv[1] : "bench/data/pairs";
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<Contender> contenders = {
        {"nw_global", false, plain(nw_global)},
        {"nw_semiglobal", false, plain(nw_semiglobal)},
        {"sw_align", false, plain(sw_align)},
        {"nw_banded (band 64)", true, banded(nw_banded)},
        {"nw_banded_semiglobal (64)", true, banded(nw_banded_semiglobal)},
#ifdef BENCH_WITH_PARASAIL
        {"parasail_nw_trace_scan_32", false, parasail(parasail_nw_trace_scan_32)},
        {"parasail_nw_trace_striped_32", false, parasail(parasail_nw_trace_striped_32)},
        {"parasail_nw_trace_striped_16", false, parasail(parasail_nw_trace_striped_16)},
        {"parasail_nw_trace_diag_32", false, parasail(parasail_nw_trace_diag_32)},
#endif
#ifdef BENCH_WITH_EDLIB
        {"edlib (edit distance, path)", false, edlib_global},
#endif
    };
    struct Size {
        const char *label, *file;
        std::size_t len, count;
    };
    // Counts keep each size near 1e8 full-matrix cells.
    const Size sizes[] = {{"1 kb", "pairs_1k.tsv", 1000, 100},
                          {"5 kb", "pairs_5k.tsv", 5000, 4},
                          {"10 kb", "pairs_10k.tsv", 10000, 1}};
    std::mt19937 rng(2026);
    for (const Size &s : sizes) {
        std::vector<Pair> pairs = read_pairs(dir + "/" + s.file, s.count);
        if (pairs.empty()) pairs = random_pairs(s.len, s.count, rng);
        bench_size(s.label, pairs, contenders, repeats);
    }
    return 0;
}
