// bioeng stats: record and base counts, lengths and GC of FASTA/FASTQ files.
#include "cli.h"
#include "commands.h"
#include "host.h"
#include "output.h"
#include "progress.h"

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

// The row of one file: file, format, compression, then the counts.
std::string file_row(const std::string &path, const StatsSettings &s, Progress &progress) {
    bh_read_options opt;
    bh_read_options_init(&opt, sizeof opt);
    opt.threads = s.threads;
    opt.batch_bytes = int64_t(s.batch_bytes);
    opt.keep_empty = 1; // a record with no bases still counts
    HostReader reader;
    reader.open(path, opt);
    HostStats stats;
    while (reader.next()) {
        stats.add(reader);
        progress.update(bh_stats_records(stats.get()), bh_reader_bytes_read(reader.get()));
    }
    const char *format = bh_reader_format(reader.get()) == 2 ? "FASTQ" : "FASTA";
    return path + "\t" + format + "\t" + bh_reader_compression(reader.get()) + "\t" +
           stats.row() + "\n";
}

} // namespace

int run_stats(int argc, char **argv) {
    bool help = false;
    StatsSettings s = parse_stats_args(argc, argv, help);
    if (help) {
        write_all(STATS_USAGE);
        return EXIT_OK;
    }
    // Every file is read before anything is printed, so a bad file leaves
    // standard output empty.
    std::string table =
        "file\tformat\tcompression\trecords\tbases\tmin_len\tmax_len\tavg_len\tN50\tGC\n";
    Progress progress("bioeng stats");
    for (const std::string &path : s.files) table += file_row(path, s, progress);
    progress.finish();
    write_all(table);
    return EXIT_OK;
}

} // namespace bioeng
