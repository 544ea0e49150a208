// Throughput of the streaming reader (one record per call) and the batch
// reader over large files in the page cache, next to a kseq.h peer that
// only splits records (no letter or quality conversion).
//
// Files: $READER_BENCH_FASTQ and $READER_BENCH_FASTA, by default the shared
// benchmark data (bench/data/parse/big.fastq, big.fasta; see bench/make-data.sh).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine.h"

#ifdef READER_BENCH_KSEQ
#include <htslib/kseq.h>
KSEQ_INIT(int, read)
#endif

namespace {

// Large enough for a whole bacterial genome as one FASTA record.
constexpr std::int32_t SEQ_CAP = 64 << 20;
constexpr std::int32_t NAME_CAP = 4096;

std::int64_t file_size(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

void finish(benchmark::State &state, const std::string &path, std::int64_t records,
            std::int64_t bases) {
    state.SetBytesProcessed(state.iterations() * file_size(path));
    state.counters["records"] = double(records);
    state.counters["bases"] = double(bases);
}

void read_single(benchmark::State &state, const std::string &path, std::int32_t protein) {
    std::vector<char> name(NAME_CAP);
    std::vector<std::uint8_t> seq(SEQ_CAP), qual(SEQ_CAP);
    std::int64_t records = 0, bases = 0;
    for (auto _ : state) {
        bio_parser_t *reader = bio_parser_open(path.c_str());
        if (!reader) return state.SkipWithError("cannot open the file");
        records = bases = 0;
        std::int32_t len = 0, is_protein = 0, qual_len = 0;
        while (bio_parser_next(reader, name.data(), NAME_CAP, seq.data(), SEQ_CAP, &len, protein,
                               &is_protein, qual.data(), &qual_len) == 1) {
            ++records;
            bases += len;
        }
        bio_parser_close(reader);
        benchmark::DoNotOptimize(seq.data());
    }
    finish(state, path, records, bases);
}

void read_batches(benchmark::State &state, const std::string &path) {
    const std::int32_t max_records = 4096;
    const std::int32_t names_cap = 4 << 20, packed_cap = 64 << 20, quals_cap = 64 << 20;
    std::vector<char> names(names_cap);
    std::vector<std::uint8_t> packed(packed_cap), quals(quals_cap);
    std::vector<std::int32_t> name_offs(max_records + 1), packed_offs(max_records + 1),
        qual_offs(max_records + 1), seq_lens(max_records), flags(max_records);
    std::int64_t records = 0, bases = 0;
    for (auto _ : state) {
        bio_parser_t *reader = bio_parser_open(path.c_str());
        if (!reader) return state.SkipWithError("cannot open the file");
        records = bases = 0;
        for (;;) {
            const std::int32_t n = bio_parser_next_batch(
                reader, max_records, 0, names.data(), names_cap, name_offs.data(), packed.data(),
                packed_cap, packed_offs.data(), seq_lens.data(), flags.data(), quals.data(),
                quals_cap, qual_offs.data());
            if (n <= 0) break;
            records += n;
            for (std::int32_t k = 0; k < n; ++k) bases += seq_lens[std::size_t(k)];
        }
        bio_parser_close(reader);
        benchmark::DoNotOptimize(packed.data());
    }
    finish(state, path, records, bases);
}

#ifdef READER_BENCH_KSEQ
void read_kseq(benchmark::State &state, const std::string &path) {
    std::int64_t records = 0, bases = 0;
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return state.SkipWithError("cannot open the file");
        kseq_t *seq = kseq_init(fd);
        records = bases = 0;
        while (kseq_read(seq) >= 0) {
            ++records;
            bases += std::int64_t(seq->seq.l);
        }
        kseq_destroy(seq);
        close(fd);
    }
    finish(state, path, records, bases);
}
#endif

std::string env_or(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

int main(int argc, char **argv) {
    const std::pair<std::string, std::string> files[] = {
        {"fastq", env_or("READER_BENCH_FASTQ", "bench/data/parse/big.fastq")},
        {"fasta", env_or("READER_BENCH_FASTA", "bench/data/parse/big.fasta")},
    };
    for (const auto &[label, path] : files) {
        if (file_size(path) < 0) continue;
        benchmark::RegisterBenchmark(("next/" + label).c_str(), read_single, path, 0)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        if (label == "fasta")  // the alphabet detected per record, as hosts reading FASTA often ask
            benchmark::RegisterBenchmark("next-detect/fasta", read_single, path, -1)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("batch/" + label).c_str(), read_batches, path)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef READER_BENCH_KSEQ
        benchmark::RegisterBenchmark(("kseq/" + label).c_str(), read_kseq, path)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
