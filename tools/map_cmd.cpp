// bioeng map: index a reference, map reads batch by batch, print PAF or SAM.
#include "cli.h"
#include "commands.h"
#include "format.h"
#include "input.h"
#include "output.h"
#include "progress.h"
#include "reference.h"

#include "engine.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <thread>

namespace bioeng {

const char MAP_USAGE[] =
    "Usage: bioeng map [options] <ref.fa> <reads.fa|reads.fq>\n"
    "\n"
    "Maps reads to a reference and prints one line per hit: PAF by default\n"
    "(12 standard columns, tp:A:P/S and cg:Z: tags), SAM with -a. Inputs may be\n"
    "FASTA or FASTQ, plain, gzip or BGZF (detected from the content); '-' reads\n"
    "the reads from standard input.\n"
    "\n"
    "Options:\n"
    "  -k INT            k-mer length, 1..32 [15]\n"
    "  -w INT            minimizer window, in k-mers [10]\n"
    "  --max-occ INT     drop minimizers occurring more than INT times in the\n"
    "                    reference; 0 keeps all [500]\n"
    "  -N, --max-hits INT  hits per read: the primary and up to INT-1 secondary [5]\n"
    "  --min-score NUM   least chain score [40]\n"
    "  -t, --threads INT threads for parsing and mapping; 0 uses every processor [0]\n"
    "  -a                SAM output (header, unmapped reads with flag 4)\n"
    "  --batch-size INT  bytes of read text per batch [16777216]\n"
    "  -h, --help        this help\n";

namespace {

struct MapSettings {
    int32_t k = 15;
    int32_t w = 10;
    int32_t max_occ = 500;
    int32_t max_hits = 5;
    double min_score = 40;
    int32_t threads = 0;
    bool sam = false;
    size_t batch_bytes = size_t(16) << 20;
    std::string ref_path;
    std::string reads_path;
};

MapSettings parse_map_args(int argc, char **argv, bool &help) {
    MapSettings s;
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
            s.k = int32_t(args.int_value(1, 32));
        else if (name == "-w")
            s.w = int32_t(args.int_value(1, 1000000));
        else if (name == "--max-occ")
            s.max_occ = int32_t(args.int_value(0, INT32_MAX));
        else if (name == "-N" || name == "--max-hits")
            s.max_hits = int32_t(args.int_value(1, 1000));
        else if (name == "--min-score")
            s.min_score = args.double_value();
        else if (name == "-t" || name == "--threads")
            s.threads = int32_t(args.int_value(0, 1024));
        else if (name == "-a")
            s.sam = true;
        else if (name == "--batch-size")
            s.batch_bytes = size_t(args.int_value(1024, int64_t(1) << 30));
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

int32_t parser_threads(int32_t requested) {
    if (requested > 0) return requested;
    unsigned n = std::thread::hardware_concurrency();
    return n ? int32_t(n) : 1;
}

struct IndexDeleter {
    void operator()(bio_index_t *idx) const { bio_index_free(idx); }
};
using IndexPtr = std::unique_ptr<bio_index_t, IndexDeleter>;

// A read whose CIGAR did not fit its region in the batch, mapped again on
// its own with room for any CIGAR. Mapping is deterministic, so the hits are
// the same; only the CIGAR text is now complete.
struct Remapped {
    std::vector<bio_map_hit_t> hits;
    std::vector<char> cigar;
};

// Maps the reads of one parsed batch and formats the result.
class BatchMapper {
public:
    BatchMapper(const bio_index_t *idx, const RefTable &refs, const MapSettings &s,
                const std::string &reads_label)
        : idx_(idx), refs_(refs), s_(s), label_(reads_label) {}

    void map(const RecordBatch &batch, std::string &out) {
        unpack(batch);
        layout_cigar_regions(batch.count);
        hits_.reserve_discard(size_t(batch.count) * size_t(s_.max_hits));
        n_hits_.reserve_discard(size_t(batch.count));
        int32_t rc = bio_map_batch(idx_, seqs_.data(), seq_offs_.data(), batch.count,
                                   s_.max_hits, hits_.data(), s_.min_score, n_hits_.data(),
                                   cigar_.data(), cigar_offs_.data(), s_.threads);
        if (rc != 0) throw std::bad_alloc();
        remap_cut_cigars(batch.count);
        format(batch, out);
    }

private:
    void unpack(const RecordBatch &batch) {
        size_t total = 0;
        for (int32_t i = 0; i < batch.count; ++i) total += size_t(batch.length(i));
        seqs_.reserve_discard(total + 1);
        seq_offs_.reserve_discard(size_t(batch.count) + 1);
        int64_t at = 0;
        for (int32_t i = 0; i < batch.count; ++i) {
            seq_offs_.data()[i] = at;
            bio_unpack5(batch.packed_seq(i), batch.length(i), seqs_.data() + at);
            at += batch.length(i);
        }
        seq_offs_.data()[batch.count] = at;
    }

    // Room for the CIGARs of typical hits (a run every few bases); a read
    // that needs more is mapped again by remap_cut_cigars.
    static int64_t cigar_region(int32_t qlen, int32_t max_hits) {
        return int64_t(max_hits) * (qlen / 2 + 48) + 16;
    }

    void layout_cigar_regions(int32_t n) {
        cigar_offs_.reserve_discard(size_t(n) + 1);
        int64_t at = 0;
        for (int32_t i = 0; i < n; ++i) {
            cigar_offs_.data()[i] = at;
            int32_t qlen = int32_t(seq_offs_.data()[i + 1] - seq_offs_.data()[i]);
            at += cigar_region(qlen, s_.max_hits);
        }
        cigar_offs_.data()[n] = at;
        if (at >= INT32_MAX) throw InputError(label_ + ": batch too large for CIGAR offsets");
        cigar_.reserve_discard(size_t(at) + 1);
    }

    void remap_cut_cigars(int32_t n) {
        remapped_.clear();
        for (int32_t i = 0; i < n; ++i) {
            const bio_map_hit_t *h = hits_.data() + size_t(i) * size_t(s_.max_hits);
            bool cut = false;
            for (int32_t j = 0; j < n_hits_.data()[i]; ++j)
                if (h[j].aln_len > 0 && h[j].cigar_len == 0) cut = true;
            if (cut) remap(i);
        }
    }

    void remap(int32_t i) {
        const uint8_t *seq = seqs_.data() + seq_offs_.data()[i];
        int32_t qlen = int32_t(seq_offs_.data()[i + 1] - seq_offs_.data()[i]);
        // Every column could start a run of its own: at most 2 * qlen columns
        // of "1X" per hit, plus the library's reserve.
        int64_t cap = int64_t(s_.max_hits) * (4 * int64_t(qlen) + 32) + 64;
        Remapped r;
        r.hits.resize(size_t(s_.max_hits));
        r.cigar.resize(size_t(std::min<int64_t>(cap, INT32_MAX)));
        int32_t got = bio_map_read(idx_, seq, qlen, s_.max_hits, r.hits.data(), s_.max_hits,
                                   s_.min_score, r.cigar.data(), int32_t(r.cigar.size()));
        if (got < 0) throw std::bad_alloc();
        r.hits.resize(size_t(got));
        remapped_.emplace_back(i, std::move(r));
    }

    void format(const RecordBatch &batch, std::string &out) {
        size_t next_remap = 0;
        for (int32_t i = 0; i < batch.count; ++i) {
            ReadView read;
            read.name = record_name(batch.name(i));
            read.codes = seqs_.data() + seq_offs_.data()[i];
            read.len = batch.length(i);
            read.qual = batch.has_quals() ? batch.qual(i) : nullptr;
            const bio_map_hit_t *hits = hits_.data() + size_t(i) * size_t(s_.max_hits);
            int32_t n = n_hits_.data()[i];
            const char *cigar = cigar_.data();
            if (next_remap < remapped_.size() && remapped_[next_remap].first == i) {
                const Remapped &r = remapped_[next_remap++].second;
                hits = r.hits.data();
                n = int32_t(r.hits.size());
                cigar = r.cigar.data();
            }
            if (n == 0 && s_.sam) append_sam_unmapped(out, read);
            for (int32_t j = 0; j < n; ++j) {
                std::string_view cg(cigar + hits[j].cigar_off, size_t(hits[j].cigar_len));
                if (s_.sam)
                    append_sam_hit(out, read, hits[j], refs_, cg, j > 0);
                else
                    append_paf(out, read, hits[j], refs_, cg, j == 0);
            }
        }
    }

    const bio_index_t *idx_;
    const RefTable &refs_;
    const MapSettings &s_;
    const std::string &label_;
    RawBuffer<uint8_t> seqs_;
    RawBuffer<int64_t> seq_offs_;
    RawBuffer<int64_t> cigar_offs_;
    RawBuffer<char> cigar_;
    RawBuffer<bio_map_hit_t> hits_;
    RawBuffer<int32_t> n_hits_;
    std::vector<std::pair<int32_t, Remapped>> remapped_;
};

IndexPtr build_index(const RefTable &refs, const MapSettings &s) {
    bio_index_t *idx = bio_index_build(refs.codes.data(), int64_t(refs.codes.size()), s.k, s.w,
                                       s.max_occ, refs.offsets.data(), refs.lengths.data(),
                                       refs.size());
    if (!idx) throw InputError(s.ref_path + ": out of memory while building the index");
    return IndexPtr(idx);
}

} // namespace

int run_map(int argc, char **argv) {
    bool help = false;
    MapSettings s = parse_map_args(argc, argv, help);
    if (help) {
        std::fputs(MAP_USAGE, stdout);
        return EXIT_OK;
    }
    ReaderOptions ropt;
    ropt.threads = parser_threads(s.threads);
    RefTable refs = with_context(s.ref_path, [&] { return load_reference(s.ref_path, ropt); });
    IndexPtr idx = build_index(refs, s);

    ropt.chunk_bytes = s.batch_bytes;
    std::string label = s.reads_path == "-" ? "standard input" : s.reads_path;
    RecordReader reads = with_context(label, [&] { return open_records(s.reads_path, ropt); });
    BatchMapper mapper(idx.get(), refs, s, label);
    OutputStream out;
    Progress progress("bioeng map");
    RecordBatch batch;
    std::string text;
    bool header_written = !s.sam;
    uint64_t done = 0;
    while (with_context(label, [&] { return reads.next(batch); })) {
        text.clear();
        with_context(label, [&] { mapper.map(batch, text); });
        if (!header_written) {
            out.write(sam_header(refs, "bioeng " + join_command_line(argc, argv)));
            header_written = true;
        }
        out.write(text);
        done += uint64_t(batch.count);
        progress.update(done, reads.bytes_read());
    }
    progress.finish();
    out.finish();
    return EXIT_OK;
}

} // namespace bioeng
