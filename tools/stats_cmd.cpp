// bioeng stats: record and base counts, lengths and GC of FASTA/FASTQ files.
#include "cli.h"
#include "commands.h"
#include "format.h"
#include "input.h"
#include "output.h"
#include "progress.h"
#include "stats.h"

#include "engine.h"

#include <cstdio>
#include <thread>

namespace bioeng {

const char STATS_USAGE[] =
    "Usage: bioeng stats [options] <file> [<file>...]\n"
    "\n"
    "Prints one tab-separated line per FASTA/FASTQ file (plain, gzip or BGZF):\n"
    "file, format, compression, records, bases, min_len, max_len, avg_len,\n"
    "N50 and GC (percent of G and C among the A, C, G and T bases).\n"
    "\n"
    "Options:\n"
    "  -t, --threads INT  parser threads; 0 uses every processor [0]\n"
    "  --batch-size INT   bytes of text per batch [16777216]\n"
    "  -h, --help         this help\n";

namespace {

struct StatsSettings {
    int32_t threads = 0;
    size_t batch_bytes = size_t(16) << 20;
    std::vector<std::string> files;
};

StatsSettings parse_stats_args(int argc, char **argv, bool &help) {
    StatsSettings s;
    ArgWalker args(argc, argv);
    std::string name;
    bool option = false;
    while (args.next(name, option)) {
        if (!option)
            s.files.push_back(name);
        else if (name == "-h" || name == "--help")
            help = true;
        else if (name == "-t" || name == "--threads")
            s.threads = int32_t(args.int_value(0, 1024));
        else if (name == "--batch-size")
            s.batch_bytes = size_t(args.int_value(1024, int64_t(1) << 30));
        else
            throw UsageError("unknown option " + name);
    }
    if (!help && s.files.empty()) throw UsageError("stats needs at least one file");
    return s;
}

SeqStats file_stats(const std::string &path, const StatsSettings &s, Progress &progress,
                    const char *&format, Compression &compression) {
    ReaderOptions opt;
    unsigned hw = std::thread::hardware_concurrency();
    opt.threads = s.threads > 0 ? s.threads : int32_t(hw ? hw : 1);
    opt.chunk_bytes = s.batch_bytes;
    RecordReader reader = open_records(path, opt);
    SeqStats st;
    RecordBatch batch;
    std::vector<uint8_t> scratch;
    while (reader.next(batch)) {
        size_t total = 0;
        for (int32_t i = 0; i < batch.count; ++i) total += size_t(batch.length(i));
        if (scratch.size() < total) scratch.resize(total);
        size_t at = 0;
        for (int32_t i = 0; i < batch.count; ++i) {
            int32_t len = batch.length(i);
            bio_unpack5(batch.packed_seq(i), len, scratch.data() + at);
            st.add_length(len);
            at += size_t(len);
        }
        st.add_codes(scratch.data(), total);
        progress.update(st.records, reader.bytes_read());
    }
    format = reader.format() == BIO_FMT_FASTQ ? "FASTQ" : "FASTA";
    compression = reader.compression();
    return st;
}

} // namespace

int run_stats(int argc, char **argv) {
    bool help = false;
    StatsSettings s = parse_stats_args(argc, argv, help);
    if (help) {
        std::fputs(STATS_USAGE, stdout);
        return EXIT_OK;
    }
    // Every file is read before anything is printed, so a bad file leaves
    // standard output empty.
    std::string table =
        "file\tformat\tcompression\trecords\tbases\tmin_len\tmax_len\tavg_len\tN50\tGC\n";
    Progress progress("bioeng stats");
    for (const std::string &path : s.files) {
        const char *format = "";
        Compression compression = Compression::none;
        std::string label = path == "-" ? "standard input" : path;
        SeqStats st =
            with_context(label, [&] { return file_stats(path, s, progress, format, compression); });
        table += path + "\t" + format + "\t" + compression_name(compression) + "\t";
        table += format_stats(st);
        table += "\n";
    }
    progress.finish();
    OutputStream out;
    out.write(table);
    out.finish();
    return EXIT_OK;
}

} // namespace bioeng
