// bioeng align: pairwise alignment of the first records of two files.
#include "cli.h"
#include "commands.h"
#include "host.h"
#include "output.h"

#include "engine.h"

#include <cstdio>
#include <unistd.h>

namespace bioeng {

const char ALIGN_USAGE[] =
    "Usage: bioeng align [options] <a.fa> <b.fa>\n"
    "\n"
    "Aligns the first record of <a.fa> (row A) with the first record of <b.fa>\n"
    "(row B) and prints the score, the column counts, a CIGAR of B against A\n"
    "(M: two residues, I: gap in A, D: gap in B) and the gapped strings.\n"
    "Protein records are recognised by their letters.\n"
    "\n"
    "Options:\n"
    "  -m, --method NAME  global | semiglobal | local | banded |\n"
    "                     banded-semiglobal | banded-diag | simd [global]\n"
    "  --match INT        score of two equal residues [2]\n"
    "  --mismatch INT     score of two different residues [-1]\n"
    "  --gap INT          score of each gap column [-2]\n"
    "  --band INT         half-width of the band (banded methods) [64]\n"
    "  --width INT        letters per line of the gapped strings; 0 puts each\n"
    "                     string on one line [60]\n"
    "  -h, --help         this help\n";

namespace {

using Aligner = int32_t (*)(const uint8_t *, int32_t, const uint8_t *, int32_t, const char *,
                            int32_t, int32_t, int32_t, char *, char *, int32_t *, int32_t *,
                            int32_t *, int32_t *);
using BandedAligner = int32_t (*)(const uint8_t *, int32_t, const uint8_t *, int32_t,
                                  const char *, int32_t, int32_t, int32_t, int32_t, char *, char *,
                                  int32_t *, int32_t *, int32_t *, int32_t *);

struct Method {
    const char *name;
    Aligner full;       // full-matrix aligners
    BandedAligner band; // banded aligners
};

const Method METHODS[] = {
    {"global", nw_global, nullptr},
    {"semiglobal", nw_semiglobal, nullptr},
    {"local", sw_align, nullptr},
    {"banded", nullptr, nw_banded},
    {"banded-semiglobal", nullptr, nw_banded_semiglobal},
    {"banded-diag", nullptr, nw_banded_diag},
    {"simd", nullptr, nw_banded_diag_simd},
};

constexpr int32_t UNREACHABLE_SCORE = -1073741824; // the banded aligners' end cell outside the band
constexpr double FULL_MATRIX_BYTES_PER_CELL = 5.0;  // score + traceback byte

// Letters of the codes as the library defines them: "ACGT", the twenty amino
// acids in alphabetical order, stop, then X for gap and unknown codes.
const char NUCLEOTIDE_DECODE[33] = "ACGTNNNNNNNNNNNNNNNNNNNNNNNNNNNN";
const char PROTEIN_DECODE[33] = "ACGTACDEFGHIKLMNPQRSTVWY*XXXXXXX";

struct AlignSettings {
    const Method *method = &METHODS[0];
    int32_t match = 2, mismatch = -1, gap = -2, band = 64;
    int32_t width = 60;
    std::string a_path, b_path;
};

AlignSettings parse_align_args(int argc, char **argv, bool &help) {
    AlignSettings s;
    ArgWalker args(argc, argv);
    std::vector<std::string> files;
    std::string name;
    bool option = false;
    while (args.next(name, option)) {
        if (!option) {
            files.push_back(name);
        } else if (name == "-h" || name == "--help") {
            help = true;
        } else if (name == "-m" || name == "--method") {
            std::string m = args.value();
            s.method = nullptr;
            for (const Method &cand : METHODS)
                if (m == cand.name) s.method = &cand;
            if (!s.method) throw UsageError("unknown alignment method '" + m + "'");
        } else if (name == "--match") {
            s.match = int32_t(args.int_value(-1000000, 1000000));
        } else if (name == "--mismatch") {
            s.mismatch = int32_t(args.int_value(-1000000, 1000000));
        } else if (name == "--gap") {
            s.gap = int32_t(args.int_value(-1000000, 1000000));
        } else if (name == "--band") {
            s.band = int32_t(args.int_value(0, 1 << 30));
        } else if (name == "--width") {
            s.width = int32_t(args.int_value(0, 1 << 30));
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    if (help) return s;
    if (files.size() != 2)
        throw UsageError("align needs two files (got " + std::to_string(files.size()) + ")");
    s.a_path = files[0];
    s.b_path = files[1];
    return s;
}

struct FirstRecord {
    std::string name;
    std::vector<uint8_t> codes;
    bool protein = false;
};

FirstRecord read_first(const std::string &path) {
    bh_read_options opt;
    bh_read_options_init(&opt, sizeof opt);
    opt.threads = 1;
    opt.protein = -1;
    HostReader reader;
    reader.open(path, opt);
    reader.next(); // throws when there is no record at all
    FirstRecord r;
    size_t name_len = 0;
    const char *name = bh_reader_name(reader.get(), 0, &name_len);
    r.name.assign(name, name_len);
    r.codes.resize(size_t(bh_reader_length(reader.get(), 0)));
    bh_reader_codes(reader.get(), 0, r.codes.data());
    r.protein = bh_reader_is_protein(reader.get(), 0) != 0;
    return r;
}

// A full matrix that cannot fit in memory would only be killed by the system.
void check_full_matrix_fits(const AlignSettings &s, const FirstRecord &a, const FirstRecord &b) {
    double need = FULL_MATRIX_BYTES_PER_CELL * double(a.codes.size() + 1) *
                  double(b.codes.size() + 1);
    double have = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
    if (have > 0 && need > have)
        throw CommandError(std::string(s.method->name) + " alignment of " + s.a_path + " and " +
                         s.b_path + " needs " + std::to_string(int64_t(need / 1e9)) +
                         " GB for its matrix; use a banded method");
}

std::string cigar_of(const std::string &a, const std::string &b) {
    std::string cigar;
    size_t i = 0;
    while (i < a.size()) {
        char op = a[i] == '-' ? 'I' : b[i] == '-' ? 'D' : 'M';
        size_t j = i;
        while (j < a.size() && (a[j] == '-' ? 'I' : b[j] == '-' ? 'D' : 'M') == op) ++j;
        cigar += std::to_string(j - i);
        cigar.push_back(op);
        i = j;
    }
    return cigar;
}

void append_rows(std::string &out, const std::string &a, const std::string &b, int32_t width) {
    if (width <= 0) {
        out += "A\t" + a + "\nB\t" + b + "\n";
        return;
    }
    for (size_t at = 0; at < a.size(); at += size_t(width)) {
        size_t n = std::min(size_t(width), a.size() - at);
        std::string bars(n, ' ');
        for (size_t i = 0; i < n; ++i)
            if (a[at + i] == b[at + i] && a[at + i] != '-') bars[i] = '|';
        out += "A\t" + a.substr(at, n) + "\n\t" + bars + "\nB\t" + b.substr(at, n) + "\n\n";
    }
}

} // namespace

int run_align(int argc, char **argv) {
    bool help = false;
    AlignSettings s = parse_align_args(argc, argv, help);
    if (help) {
        write_all(ALIGN_USAGE);
        return EXIT_OK;
    }
    FirstRecord a = read_first(s.a_path);
    FirstRecord b = read_first(s.b_path);
    if (a.codes.size() + b.codes.size() >= size_t(INT32_MAX))
        throw CommandError(s.a_path + ", " + s.b_path + ": sequences too long to align");
    const char *decode = a.protein || b.protein ? PROTEIN_DECODE : NUCLEOTIDE_DECODE;
    int32_t la = int32_t(a.codes.size()), lb = int32_t(b.codes.size());
    std::string out_a(size_t(la + lb) + 1, '\0'), out_b(size_t(la + lb) + 1, '\0');
    int32_t score = 0, n_match = 0, n_mismatch = 0, n_gap = 0;
    int32_t cols;
    if (s.method->full) {
        check_full_matrix_fits(s, a, b);
        cols = s.method->full(a.codes.data(), la, b.codes.data(), lb, decode, s.match,
                              s.mismatch, s.gap, out_a.data(), out_b.data(), &score, &n_match,
                              &n_mismatch, &n_gap);
    } else {
        cols = s.method->band(a.codes.data(), la, b.codes.data(), lb, decode, s.match,
                              s.mismatch, s.gap, s.band, out_a.data(), out_b.data(), &score,
                              &n_match, &n_mismatch, &n_gap);
    }
    if (cols < 0)
        throw CommandError(s.a_path + ", " + s.b_path + ": out of memory while aligning");
    out_a.resize(size_t(cols));
    out_b.resize(size_t(cols));

    std::string text;
    text += "method\t" + std::string(s.method->name) + "\n";
    text += "A\t" + a.name + "\t" + std::to_string(la) + "\n";
    text += "B\t" + b.name + "\t" + std::to_string(lb) + "\n";
    text += "score\t" + std::to_string(score) +
            (score == UNREACHABLE_SCORE && !s.method->full ? "\t(end cell outside the band)" : "") +
            "\n";
    text += "columns\t" + std::to_string(cols) + "\n";
    text += "matches\t" + std::to_string(n_match) + "\n";
    text += "mismatches\t" + std::to_string(n_mismatch) + "\n";
    text += "gaps\t" + std::to_string(n_gap) + "\n";
    char identity[32];
    std::snprintf(identity, sizeof identity, "%.4f", cols ? double(n_match) / cols : 0.0);
    text += "identity\t" + std::string(identity) + "\n";
    text += "cigar\t" + (cols ? cigar_of(out_a, out_b) : std::string("*")) + "\n\n";
    append_rows(text, out_a, out_b, s.width);
    write_all(text);
    return EXIT_OK;
}

} // namespace bioeng
