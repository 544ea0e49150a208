// bioeng map: index a reference, map reads batch by batch, print PAF or SAM.
#include "cli.h"
#include "commands.h"
#include "host.h"
#include "output.h"
#include "progress.h"
#include "summary.h"

#include <climits>
#include <memory>
#include <sys/stat.h>

namespace bioeng {

const char MAP_USAGE[] =
    "Usage: bioeng map [options] <ref.fa> <reads.fq> [<reads.fq>...]\n"
    "\n"
    "Maps reads to a reference and prints one line per alignment: PAF by default\n"
    "(12 standard columns, then tp, NM, ms, AS, nn, cm, s1, s2, de, cg tags), SAM\n"
    "with -a. Every hit is re-aligned: true reference and read spans, read ends\n"
    "that do not match soft-clipped, parts of a chimeric read as supplementary\n"
    "alignments (SAM flag 2048, SA tag). Inputs may be FASTA or FASTQ, plain,\n"
    "gzip or BGZF (detected from the content); '-' reads the reads from standard\n"
    "input. Several reads files are mapped one after the other, as if\n"
    "concatenated. A summary of the run (reads, mapped fraction, records, time,\n"
    "memory) goes to standard error at the end.\n"
    "\n"
    "Options:\n"
    "  -x STR            preset: map-ont (noisy long reads: -k15 -w10),\n"
    "                    map-pb (PacBio long reads: -k17 -w15) or sr (short\n"
    "                    accurate reads: -k21 -w11), each with --max-occ 500\n"
    "                    -N 5 --min-score 40 --secondary-ratio 0.8 (see\n"
    "                    bench/map/PRESETS.md); any of those options given as\n"
    "                    well overrides the preset, wherever it stands\n"
    "  -k INT            k-mer length, 1..32 [15]\n"
    "  -w INT            minimizer window, in k-mers [10]\n"
    "  --max-occ INT     drop minimizers occurring more than INT times in the\n"
    "                    reference; 0 keeps all [500]\n"
    "  -N, --max-hits INT  library hits per read that are re-aligned [5]\n"
    "  --secondary=yes|no  report secondary alignments [yes]\n"
    "  --secondary-ratio NUM  least chain score of a secondary alignment, as a\n"
    "                    fraction of the primary's, 0..1 [0.8]\n"
    "  --cs              PAF: add the cs tag (short form)\n"
    "  --MD              SAM: add the MD tag\n"
    "  --raw-hits        print the library's own hits unchanged: one window as\n"
    "                    long as the read per hit, no clipping, no split\n"
    "                    alignments, only the tp/cg (PAF) and NM/AS (SAM) tags\n"
    "  --min-score NUM   least chain score [40]\n"
    "  -t, --threads INT threads for parsing and mapping; 0 uses every processor [0]\n"
    "  -a                SAM output (header, unmapped reads with flag 4)\n"
    "  -R STR            SAM read group line, e.g. '@RG\\tID:run1\\tSM:sample'\n"
    "                    (\\t for a tab); written to the header, and every\n"
    "                    record gets RG:Z: with its ID (checked, and\n"
    "                    otherwise ignored, for PAF)\n"
    "  -o, --output FILE write the records to FILE instead of standard output\n"
    "  --paf FILE        with -a, also write the PAF records to FILE (one run,\n"
    "                    both outputs)\n"
    "  --summary FILE    write the run summary to FILE as JSON\n"
    "  --batch-size INT  bytes of read text per batch [16777216]\n"
    "  -h, --help        this help\n";

namespace {

struct MapArgs {
    bh_map_options opt;
    int64_t batch_bytes = int64_t(16) << 20;
    std::string read_group;
    std::string output_path;
    std::string paf_path;
    std::string summary_path;
    std::string ref_path;
    std::vector<std::string> reads_paths;
};

// The preset named by -x, wherever it stands: it is applied before every
// other option, so that options given with it override it.
std::string find_preset(int argc, char **argv) {
    std::string preset;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") break;
        if (a == "-x" && i + 1 < argc)
            preset = argv[++i];
        else if (a.rfind("-x", 0) == 0 && a.size() > 2)
            preset = a.substr(2);
    }
    return preset;
}

void apply_preset(bh_map_options &opt, const std::string &name) {
    if (name.empty()) return;
    if (bh_map_options_preset(&opt, name.c_str()) != BH_OK)
        throw UsageError("unknown preset '" + name + "' (presets: " + bh_map_presets() + ")");
}

MapArgs parse_map_args(int argc, char **argv, bool &help) {
    MapArgs s;
    bh_map_options_init(&s.opt, sizeof s.opt);
    apply_preset(s.opt, find_preset(argc, argv));
    ArgWalker args(argc, argv);
    std::vector<std::string> positional;
    std::string name;
    bool option = false;
    while (args.next(name, option)) {
        if (!option)
            positional.push_back(name);
        else if (name == "-h" || name == "--help")
            help = true;
        else if (name == "-x")
            args.value(); // applied above
        else if (name == "-k")
            s.opt.k = int32_t(args.int_value(1, 32));
        else if (name == "-w")
            s.opt.w = int32_t(args.int_value(1, 1000000));
        else if (name == "--max-occ")
            s.opt.max_occ = int32_t(args.int_value(0, INT32_MAX));
        else if (name == "-N" || name == "--max-hits")
            s.opt.max_hits = int32_t(args.int_value(1, 1000));
        else if (name == "--min-score")
            s.opt.min_score = args.double_value();
        else if (name == "-t" || name == "--threads")
            s.opt.threads = int32_t(args.int_value(0, 1024));
        else if (name == "-a")
            s.opt.sam = 1;
        else if (name == "--secondary") {
            std::string v = args.value();
            if (v != "yes" && v != "no") throw UsageError("--secondary takes yes or no");
            s.opt.secondaries = v == "yes";
        } else if (name == "--secondary-ratio") {
            s.opt.secondary_ratio = args.double_value();
            if (!(s.opt.secondary_ratio >= 0 && s.opt.secondary_ratio <= 1))
                throw UsageError("--secondary-ratio must lie between 0 and 1");
        } else if (name == "--cs")
            s.opt.cs = 1;
        else if (name == "--MD")
            s.opt.md = 1;
        else if (name == "--raw-hits")
            s.opt.raw_hits = 1;
        else if (name == "-R")
            s.read_group = args.value();
        else if (name == "-o" || name == "--output")
            s.output_path = args.value();
        else if (name == "--paf")
            s.paf_path = args.value();
        else if (name == "--summary")
            s.summary_path = args.value();
        else if (name == "--batch-size")
            s.batch_bytes = args.int_value(1024, int64_t(1) << 30);
        else
            throw UsageError("unknown option " + name);
    }
    if (help) return s;
    if (positional.size() < 2)
        throw UsageError("map needs a reference and at least one reads file (got " +
                         std::to_string(positional.size()) + " file names)");
    if (!s.paf_path.empty() && !s.opt.sam) throw UsageError("--paf goes with -a (SAM output)");
    s.ref_path = positional[0];
    s.reads_paths.assign(positional.begin() + 1, positional.end());
    s.opt.paf_beside_sam = !s.paf_path.empty();
    return s;
}

// Bytes of the reads files, when every one is a regular file; 0 otherwise
// (standard input, a pipe), when the progress line cannot tell a percentage.
uint64_t total_input_size(const std::vector<std::string> &paths) {
    uint64_t total = 0;
    for (const std::string &p : paths) {
        struct stat st;
        if (p == "-" || ::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
        total += uint64_t(st.st_size);
    }
    return total;
}

// The outputs of one run: the main one (PAF or SAM), and with --paf the PAF
// of the same mapping. Nothing is written before the first batch is mapped,
// so that a bad reads file leaves at most empty outputs.
class MapOutputs {
public:
    MapOutputs(const MapArgs &s, std::string command_line)
        : main_(s.output_path), sam_(s.opt.sam != 0), command_line_(std::move(command_line)) {
        if (!s.paf_path.empty()) paf_ = std::make_unique<OutputStream>(s.paf_path);
    }

    void write_batch(HostMapper &mapper, const HostReader &reads) {
        std::string_view text = mapper.map(reads);
        if (sam_ && !header_written_) {
            // The mapper's next call reuses the text's storage: copy first.
            std::string records(text);
            main_.write(mapper.sam_header(command_line_));
            main_.write(records);
            header_written_ = true;
        } else {
            main_.write(text);
        }
        if (paf_) paf_->write(mapper.paf());
    }

    void finish() {
        main_.finish();
        if (paf_) paf_->finish();
    }

private:
    OutputStream main_;
    std::unique_ptr<OutputStream> paf_;
    bool sam_;
    bool header_written_ = false;
    std::string command_line_;
};

void write_summary_file(const std::string &path, const std::string &json) {
    OutputStream f(path);
    f.write(json);
    f.finish();
}

} // namespace

int run_map(int argc, char **argv) {
    bool help = false;
    MapArgs s = parse_map_args(argc, argv, help);
    if (help) {
        write_all(MAP_USAGE);
        return EXIT_OK;
    }
    RunSummary summary;
    MapOutputs outputs(s, "bioeng " + join_command_line(argc, argv));
    Progress progress("bioeng map");
    progress.status("loading " + s.ref_path + " and building its index");
    HostMapper mapper;
    // Pointed to only now: s owns the text and stays where it is.
    s.opt.read_group = s.read_group.empty() ? nullptr : s.read_group.c_str();
    mapper.load(s.ref_path, s.opt);

    bh_read_options ropt;
    bh_read_options_init(&ropt, sizeof ropt);
    ropt.threads = s.opt.threads;
    ropt.batch_bytes = s.batch_bytes;
    ropt.keep_empty = 1; // a read with no bases is still a read: SAM lists it as unmapped
    progress.start(total_input_size(s.reads_paths));
    uint64_t done = 0, text_before = 0, input_before = 0;
    for (const std::string &path : s.reads_paths) {
        HostReader reads;
        reads.open(path, ropt);
        while (reads.next()) {
            outputs.write_batch(mapper, reads);
            done += uint64_t(reads.count());
            progress.update(done, text_before + bh_reader_bytes_read(reads.get()),
                            input_before + bh_reader_input_bytes(reads.get()));
        }
        text_before += bh_reader_bytes_read(reads.get());
        input_before += bh_reader_input_bytes(reads.get());
    }
    progress.finish();
    outputs.finish();
    summary.finish(mapper.counts());
    if (!s.summary_path.empty())
        write_summary_file(s.summary_path, summary.json(s.ref_path, s.reads_paths));
    std::fputs(summary.text("bioeng map").c_str(), stderr);
    return EXIT_OK;
}

} // namespace bioeng
