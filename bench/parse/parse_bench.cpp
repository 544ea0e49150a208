// Throughput of bio_parse_mem_parallel on a FASTA or FASTQ file already held
// in memory, at 1 and 2 threads, against two peers reading the same bytes in
// the same run: the library's streaming batch reader (bio_parser_next_batch
// over the file, which stays in the page cache) and kseq.h reading the same
// memory through a read callback. Runs are interleaved and repeated; the
// report gives medians and ratios measured in the same run.
//
// Usage: parse_bench FILE fasta|fastq [repeats [only-contenders-containing]]
#include <omp.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine.h"

#ifdef PARSE_BENCH_KSEQ
#include <htslib/kseq.h>
#endif

namespace {

std::vector<char> read_file(const char *path) {
    std::vector<char> text;
    FILE *f = std::fopen(path, "rb");
    if (!f) return text;
    std::fseek(f, 0, SEEK_END);
    text.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    const std::size_t got = std::fread(text.data(), 1, text.size(), f);
    std::fclose(f);
    text.resize(got);
    return text;
}

// Output buffers sized from the text: every output is smaller than it.
struct Outputs {
    std::vector<char> names;
    std::vector<std::uint8_t> packed, quals;
    std::vector<std::int32_t> name_offs, packed_offs, seq_lens, is_protein, qual_offs;
    std::int32_t max_records;
    explicit Outputs(std::size_t text_len, std::size_t records)
        : names(text_len), packed(text_len), quals(text_len), name_offs(records + 1),
          packed_offs(records + 1), seq_lens(records), is_protein(records), qual_offs(records + 1),
          max_records(static_cast<std::int32_t>(records)) {
        // Touch every page once so that no run pays the first-touch faults
        // (the caller's buffers are reused from call to call).
        std::memset(names.data(), 1, names.size());
        std::memset(packed.data(), 1, packed.size());
        std::memset(quals.data(), 1, quals.size());
    }
};

std::int32_t parse_mem(const std::vector<char> &text, int fmt, int threads, Outputs &o) {
    return bio_parse_mem_parallel(text.data(), static_cast<std::int64_t>(text.size()), fmt, threads, 0,
                                  o.names.data(), static_cast<std::int32_t>(o.names.size()),
                                  o.name_offs.data(), o.packed.data(),
                                  static_cast<std::int64_t>(o.packed.size()), o.packed_offs.data(),
                                  o.seq_lens.data(), o.is_protein.data(),
                                  fmt == 2 ? o.quals.data() : nullptr,
                                  static_cast<std::int64_t>(o.quals.size()),
                                  fmt == 2 ? o.qual_offs.data() : nullptr, o.max_records);
}

// The streaming reader in batches of up to 4096 records, 64 MB buffers.
std::int64_t stream_reader(const char *path, int fmt, Outputs &o) {
    bio_parser_t *reader = bio_parser_open(path);
    if (!reader) return -1;
    constexpr std::int32_t BATCH = 4096, CAP = 64 << 20;
    std::int64_t records = 0;
    for (;;) {
        const std::int32_t n = bio_parser_next_batch(
            reader, BATCH, 0, o.names.data(), CAP, o.name_offs.data(), o.packed.data(), CAP,
            o.packed_offs.data(), o.seq_lens.data(), o.is_protein.data(),
            fmt == 2 ? o.quals.data() : nullptr, CAP, fmt == 2 ? o.qual_offs.data() : nullptr);
        if (n <= 0) break;
        records += n;
    }
    bio_parser_close(reader);
    return records;
}

#ifdef PARSE_BENCH_KSEQ
struct MemoryFile {
    const char *data;
    std::size_t size, pos;
};
int memory_read(MemoryFile *f, void *buf, int len) {
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), f->size - f->pos);
    std::memcpy(buf, f->data + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}
KSEQ_INIT(MemoryFile *, memory_read)

std::int64_t kseq_records(const std::vector<char> &text) {
    MemoryFile file{text.data(), text.size(), 0};
    kseq_t *seq = kseq_init(&file);
    std::int64_t records = 0, bases = 0;
    while (kseq_read(seq) >= 0) {
        ++records;
        bases += static_cast<std::int64_t>(seq->seq.l);
    }
    kseq_destroy(seq);
    return bases > 0 ? records : -1;
}
#endif

// Processor time of the whole process (all threads, user and system).
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Wall-clock seconds of one run; its processor seconds go to *cpu.
double seconds(const std::function<std::int64_t()> &run, std::int64_t *result, double *cpu) {
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    *result = run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    *cpu = cpu_seconds() - cpu0;
    return wall;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE fasta|fastq [repeats]\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    const int fmt = std::strcmp(argv[2], "fasta") == 0 ? 1 : 2;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::vector<char> text = read_file(path);
    if (text.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    const std::size_t records_bound = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    Outputs out(text.size(), std::min<std::size_t>(records_bound, 0x7fffffff));

    struct Contender {
        const char *name;
        std::function<std::int64_t()> run;
        std::vector<double> times;
        std::int64_t result = 0;
        std::vector<double> cpu_times;
    };
    std::vector<Contender> contenders;
    contenders.push_back({"parse_mem 1 thread", [&] { return std::int64_t{parse_mem(text, fmt, 1, out)}; }, {}});
    contenders.push_back({"parse_mem 2 threads", [&] { return std::int64_t{parse_mem(text, fmt, 2, out)}; }, {}});
    contenders.push_back({"streaming batch reader", [&] { return stream_reader(path, fmt, out); }, {}});
#ifdef PARSE_BENCH_KSEQ
    contenders.push_back({"kseq.h (same memory)", [&] { return kseq_records(text); }, {}});
#endif
    if (argc > 4)
        contenders.erase(std::remove_if(contenders.begin(), contenders.end(),
                                        [&](const Contender &c) { return !std::strstr(c.name, argv[4]); }),
                         contenders.end());
    if (contenders.empty()) return 2;
    // Every other round runs the contenders in reverse order: on a virtual
    // machine, memory released a few seconds earlier is slower to reserve
    // again than memory released just before, which would otherwise favour
    // whichever contender follows another that reserves much.
    for (int r = 0; r < repeats; ++r)
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            Contender &c = contenders[r % 2 ? contenders.size() - 1 - i : i];
            double cpu = 0;
            c.times.push_back(seconds(c.run, &c.result, &cpu));
            c.cpu_times.push_back(cpu);
        }

    const double mb = static_cast<double>(text.size()) / 1e6;
    std::printf("%s: %.1f MB, %s, %d repeats, omp_get_max_threads %d\n", path, mb, argv[2], repeats,
                omp_get_max_threads());
    std::printf("%-24s %10s %10s %10s %12s %10s\n", "contender", "records", "median s", "MB/s", "vs 1 thread",
                "cpu s");
    const double base = median(contenders[0].times);
    for (const Contender &c : contenders) {
        const double t = median(c.times);
        std::printf("%-24s %10lld %10.3f %10.0f %12.2f %10.3f\n", c.name, static_cast<long long>(c.result), t,
                    mb / t, base / t, median(c.cpu_times));
    }
#ifdef PARSE_BENCH_KSEQ
    if (contenders.size() < 4) return 0;
    const double two = median(contenders[1].times), kseq = median(contenders.back().times);
    std::printf("2 threads / 1 thread: %.2fx; 2 threads / kseq: %.2fx\n", base / two, kseq / two);
#endif
    return 0;
}
