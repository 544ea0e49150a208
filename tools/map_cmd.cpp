// bioeng map: index a reference, map reads batch by batch, print PAF or SAM.
#include "cli.h"
#include "commands.h"
#include "host.h"
#include "output.h"
#include "progress.h"

#include <climits>

namespace bioeng {

const char MAP_USAGE[] =
    "Usage: bioeng map [options] <ref.fa> <reads.fa|reads.fq>\n"
    "\n"
    "Maps reads to a reference and prints one line per alignment: PAF by default\n"
    "(12 standard columns, then tp, NM, ms, AS, nn, cm, s1, s2, de, cg tags), SAM\n"
    "with -a. Every hit is re-aligned: true reference and read spans, read ends\n"
    "that do not match soft-clipped, parts of a chimeric read as supplementary\n"
    "alignments (SAM flag 2048, SA tag). Inputs may be FASTA or FASTQ, plain,\n"
    "gzip or BGZF (detected from the content); '-' reads the reads from standard\n"
    "input.\n"
    "\n"
    "Options:\n"
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
    "  --batch-size INT  bytes of read text per batch [16777216]\n"
    "  -h, --help        this help\n";

namespace {

struct MapArgs {
    bh_map_options opt;
    int64_t batch_bytes = int64_t(16) << 20;
    std::string ref_path;
    std::string reads_path;
};

MapArgs parse_map_args(int argc, char **argv, bool &help) {
    MapArgs s;
    bh_map_options_init(&s.opt);
    ArgWalker args(argc, argv);
    std::vector<std::string> positional;
    std::string name;
    bool option = false;
    while (args.next(name, option)) {
        if (!option)
            positional.push_back(name);
        else if (name == "-h" || name == "--help")
            help = true;
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
        else if (name == "--batch-size")
            s.batch_bytes = args.int_value(1024, int64_t(1) << 30);
        else
            throw UsageError("unknown option " + name);
    }
    if (help) return s;
    if (positional.size() != 2)
        throw UsageError("map needs a reference and a reads file (got " +
                         std::to_string(positional.size()) + " file names)");
    s.ref_path = positional[0];
    s.reads_path = positional[1];
    return s;
}

} // namespace

int run_map(int argc, char **argv) {
    bool help = false;
    MapArgs s = parse_map_args(argc, argv, help);
    if (help) {
        write_all(MAP_USAGE);
        return EXIT_OK;
    }
    HostMapper mapper;
    mapper.load(s.ref_path, s.opt);

    bh_read_options ropt;
    bh_read_options_init(&ropt);
    ropt.threads = s.opt.threads;
    ropt.batch_bytes = s.batch_bytes;
    ropt.keep_empty = 1; // a read with no bases is still a read: SAM lists it as unmapped
    HostReader reads;
    reads.open(s.reads_path, ropt);
    OutputStream out;
    Progress progress("bioeng map");
    bool header_written = !s.opt.sam;
    uint64_t done = 0;
    while (reads.next()) {
        std::string_view text = mapper.map(reads);
        if (!header_written) {
            // The header goes out after the first batch: a bad reads file
            // leaves standard output empty. It is copied out first, as the
            // mapper's next call reuses the text's storage.
            std::string records(text);
            out.write(mapper.sam_header("bioeng " + join_command_line(argc, argv)));
            out.write(records);
            header_written = true;
        } else {
            out.write(text);
        }
        done += uint64_t(reads.count());
        progress.update(done, bh_reader_bytes_read(reads.get()));
    }
    progress.finish();
    out.finish();
    return EXIT_OK;
}

} // namespace bioeng
