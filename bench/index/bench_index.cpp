// Minimizer extraction (the library's sliding-window selection against a
// plain rescan of every window) and index building on a reference genome.
//
//   bench_index [google-benchmark flags]   figures; reference from $BENCH_REF
//                                          (FASTA), else 4.6 Mb of random bases
//   bench_index --build REF.fa K W         read REF.fa, build one index, print
//                                          its size (for timing whole runs)
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "map/index.h"
#include "map/minimizer_model.h"
#include "seqio/codes.h"

namespace {

struct Reference {
    std::vector<std::uint8_t> codes;
    std::vector<std::int64_t> offsets, lengths;
};

// Whole file at once: the build is what is timed, not line reading.
Reference read_fasta(const char *path) {
    Reference ref;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ref.codes.reserve(text.size());
    bool header = false;
    for (char c : text) {
        if (c == '>') {
            if (!ref.offsets.empty()) ref.lengths.push_back(ref.codes.size() - ref.offsets.back());
            ref.offsets.push_back(static_cast<std::int64_t>(ref.codes.size()));
            header = true;
        } else if (c == '\n') {
            header = false;
        } else if (!header && c != '\r') {
            ref.codes.push_back(engine::_MAP_NT[static_cast<unsigned char>(c)]);
        }
    }
    if (!ref.offsets.empty()) ref.lengths.push_back(ref.codes.size() - ref.offsets.back());
    return ref;
}

Reference random_reference(std::size_t len) {
    Reference ref;
    std::mt19937_64 rng(1);
    ref.codes.resize(len);
    for (auto &c : ref.codes) c = rng() & 3;
    ref.offsets = {0};
    ref.lengths = {static_cast<std::int64_t>(len)};
    return ref;
}

const Reference &reference() {
    static const Reference ref = [] {
        const char *path = std::getenv("BENCH_REF");
        return path && *path ? read_fasta(path) : random_reference(4641652);
    }();
    return ref;
}

using Extract = std::int64_t (*)(const std::uint8_t *, std::int64_t, int, int, std::uint64_t *,
                                 std::int64_t *, std::uint8_t *);

void run_extraction(benchmark::State &state, Extract extract) {
    const Reference &ref = reference();
    const auto len = static_cast<std::int64_t>(ref.codes.size());
    const int w = static_cast<int>(state.range(0));
    std::vector<std::uint64_t> hash(len);
    std::vector<std::int64_t> pos(len);
    std::vector<std::uint8_t> strand(len);
    std::int64_t count = 0;
    for (auto _ : state) {
        count = extract(ref.codes.data(), len, 15, w, hash.data(), pos.data(), strand.data());
        benchmark::DoNotOptimize(count);
    }
    state.counters["minimizers"] = static_cast<double>(count);
    state.SetItemsProcessed(state.iterations() * len);  // bases
}

void BM_MinimizersSliding(benchmark::State &state) { run_extraction(state, bio_minimizers); }
void BM_MinimizersRescan(benchmark::State &state) { run_extraction(state, minimizer_model::rescanning_minimizers); }
BENCHMARK(BM_MinimizersSliding)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimizersRescan)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

void BM_IndexBuild(benchmark::State &state) {
    const Reference &ref = reference();
    const int max_occ = static_cast<int>(state.range(0));
    std::int64_t n_min = 0;
    for (auto _ : state) {
        bio_index_t *idx = bio_index_build(ref.codes.data(),
                                           static_cast<std::int64_t>(ref.codes.size()), 15, 10,
                                           max_occ, ref.offsets.data(), ref.lengths.data(),
                                           static_cast<std::int32_t>(ref.offsets.size()));
        n_min = bio_index_n_minimizers(idx);
        bio_index_free(idx);
    }
    state.counters["entries"] = static_cast<double>(n_min);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ref.codes.size()));
}
BENCHMARK(BM_IndexBuild)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond);

// Lookups of the runs of read minimizers: the hashes of every minimizer of
// the reference in a shuffled order (each present at least once), plus as
// many absent ones, the mix a mapped read with errors produces.
// The two plain binary searches, for comparison.
engine::HashRun bisected_run(const bio_index_t *idx, std::uint64_t h) {
    std::int64_t lo = 0, hi = idx->n_min;
    while (lo < hi) {
        const std::int64_t mid = (lo + hi) / 2;
        if (idx->min_hash[mid] < h) lo = mid + 1; else hi = mid;
    }
    const std::int64_t first = lo;
    hi = idx->n_min;
    while (lo < hi) {
        const std::int64_t mid = (lo + hi) / 2;
        if (idx->min_hash[mid] <= h) lo = mid + 1; else hi = mid;
    }
    return engine::HashRun{first, lo};
}

template <engine::HashRun (*Lookup)(const bio_index_t *, std::uint64_t)>
void BM_HashRunLookup(benchmark::State &state) {
    const Reference &ref = reference();
    const auto len = static_cast<std::int64_t>(ref.codes.size());
    bio_index_t *idx = bio_index_build(ref.codes.data(), len, 15, 10, 0, ref.offsets.data(),
                                       ref.lengths.data(),
                                       static_cast<std::int32_t>(ref.offsets.size()));
    std::vector<std::uint64_t> probes;
    std::mt19937_64 rng(3);
    for (std::int64_t i = 0; i < bio_index_n_minimizers(idx); i += 4) {
        probes.push_back(idx->min_hash[i]);
        probes.push_back(rng() & ((std::uint64_t{1} << 30) - 1));
    }
    std::shuffle(probes.begin(), probes.end(), rng);
    std::int64_t total = 0;
    for (auto _ : state) {
        for (std::uint64_t h : probes) {
            const engine::HashRun run = Lookup(idx, h);
            total += run.hi - run.lo;
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(probes.size()));
    bio_index_free(idx);
}
BENCHMARK(BM_HashRunLookup<engine::index_hash_run>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashRunLookup<bisected_run>)->Unit(benchmark::kMillisecond);

// Both selections must agree on the reference before their speeds mean
// anything.
bool selections_agree() {
    const Reference &ref = reference();
    const auto len = static_cast<std::int64_t>(ref.codes.size());
    std::vector<std::uint64_t> h1(len), h2(len);
    std::vector<std::int64_t> p1(len), p2(len);
    std::vector<std::uint8_t> s1(len), s2(len);
    const std::int64_t a = bio_minimizers(ref.codes.data(), len, 15, 10, h1.data(), p1.data(), s1.data());
    const std::int64_t b = minimizer_model::rescanning_minimizers(ref.codes.data(), len, 15, 10, h2.data(), p2.data(), s2.data());
    return a == b && std::equal(h1.begin(), h1.begin() + a, h2.begin()) &&
           std::equal(p1.begin(), p1.begin() + a, p2.begin()) &&
           std::equal(s1.begin(), s1.begin() + a, s2.begin());
}

double peak_rss_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Builds one index and reports its size, the build's wall time and the
// process's peak resident memory before and after the build (the read of
// the FASTA comes first, so the second figure is the build's peak when it
// is the larger).
int build_once(const char *path, int k, int w) {
    const Reference ref = read_fasta(path);
    const double peak_before = peak_rss_mb();
    const auto start = std::chrono::steady_clock::now();
    bio_index_t *idx = bio_index_build(ref.codes.data(), static_cast<std::int64_t>(ref.codes.size()),
                                       k, w, 0, ref.offsets.data(), ref.lengths.data(),
                                       static_cast<std::int32_t>(ref.offsets.size()));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!idx) return 1;
    const std::int64_t n_min = bio_index_n_minimizers(idx);
    const double index_mb = (17.0 * static_cast<double>(n_min) + static_cast<double>(ref.codes.size())) / 1048576.0;
    std::printf("%lld entries; build %.2f s; index %.0f MB + reference %.0f MB; peak RSS %.0f MB before the build, %.0f MB after\n",
                static_cast<long long>(n_min), took.count(), index_mb,
                static_cast<double>(ref.codes.size()) / 1048576.0, peak_before, peak_rss_mb());
    bio_index_free(idx);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--build") == 0)
        return build_once(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (!selections_agree()) {
        std::fprintf(stderr, "sliding and rescanning selections differ\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
