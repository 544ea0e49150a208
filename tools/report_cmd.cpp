// bioeng report: pictures of a PAF file as one self-contained HTML page.
#include "cli.h"
#include "commands.h"
#include "host.h"
#include "output.h"

namespace bioeng {

const char REPORT_USAGE[] =
    "Usage: bioeng report [options] <in.paf> [<in.paf>...]\n"
    "\n"
    "Draws the mapping results of PAF files (plain or gzip; '-' is standard\n"
    "input) as one self-contained HTML page with inline SVG, for any browser:\n"
    "a summary table, histograms of identity (matching bases / alignment\n"
    "columns) and mapping quality, read length against identity, and the\n"
    "depth of coverage along each reference sequence (the 24 longest with\n"
    "alignments). Primary and supplementary lines (tp:A:P, tp:A:I) are drawn;\n"
    "secondary lines are only counted.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  write the page to FILE instead of standard output\n"
    "  --title TEXT       title of the page [the input file names]\n"
    "  -h, --help         this help\n";

namespace {

class HostReport : public HostHandle<bh_report, bh_report_free> {
public:
    HostReport() : HostHandle(bh_report_new()) {}
    void add(const std::string &path) {
        checked<bh_report_error>(bh_report_add_paf(get(), path.c_str()));
    }
    std::string_view html(const std::string &title) {
        const char *text = nullptr;
        size_t len = 0;
        checked<bh_report_error>(bh_report_html(get(), title.c_str(), &text, &len));
        return {text, len};
    }
};

struct ReportArgs {
    std::string output_path;
    std::string title;
    std::vector<std::string> inputs;
};

ReportArgs parse_report_args(int argc, char **argv, bool &help) {
    ReportArgs s;
    ArgWalker args(argc, argv);
    std::string name;
    bool option = false;
    while (args.next(name, option)) {
        if (!option)
            s.inputs.push_back(name);
        else if (name == "-h" || name == "--help")
            help = true;
        else if (name == "-o" || name == "--output")
            s.output_path = args.value();
        else if (name == "--title")
            s.title = args.value();
        else
            throw UsageError("unknown option " + name);
    }
    if (!help && s.inputs.empty()) throw UsageError("report needs a PAF file");
    if (s.title.empty()) {
        for (const std::string &p : s.inputs) {
            if (!s.title.empty()) s.title.append(", ");
            s.title.append(p);
        }
    }
    return s;
}

} // namespace

int run_report(int argc, char **argv) {
    bool help = false;
    ReportArgs s = parse_report_args(argc, argv, help);
    if (help) {
        write_all(REPORT_USAGE);
        return EXIT_OK;
    }
    HostReport report;
    for (const std::string &path : s.inputs) report.add(path);
    // The page is complete before the output is opened: a bad input leaves
    // no half-written file behind.
    std::string_view page = report.html(s.title);
    OutputStream out(s.output_path);
    out.write(page);
    out.finish();
    return EXIT_OK;
}

} // namespace bioeng
