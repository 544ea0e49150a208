// Index building and read mapping on arbitrary references and reads.
//
// Input layout: four parameter bytes (k, w, max_occ, hit slots, min_score,
// threads, reference count), two bytes giving the share of the rest that is
// reference, then the reference bytes (code = byte & 3, or 31 for bytes of
// 0xF0 and above) and the read descriptors. A descriptor copies a stretch of
// the reference, forward or reverse complement, with a few substitutions,
// or takes its codes literally from the input, so that reads both map and
// miss.
//
// Checks: bio_map_batch gives for every read exactly what bio_map_read gives
// for it alone (CIGAR offsets moved by the read's region start), leaves the
// slots past each read's count alone, and every hit's fields lie in their
// documented ranges: window inside one reference sequence, read extents of
// the window's length inside the read, counters consistent with the CIGAR.
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine.h"

namespace {

using Codes = std::vector<std::uint8_t>;

// Names the failed condition before aborting, so a crash reads at once.
#define check(cond)                                                             \
    do {                                                                        \
        if (!(cond)) {                                                          \
            std::fprintf(stderr, "map_fuzz.cpp:%d: %s\n", __LINE__, #cond);      \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

struct Params {
    std::int32_t k, w, max_occ, max_hits, n_threads, n_refs;
    double min_score;
};

// Reads the input front to back; past the end it yields zeros.
class Bytes {
public:
    Bytes(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::size_t left() const { return size_ - pos_; }

private:
    const std::uint8_t *data_;
    std::size_t size_, pos_ = 0;
};

std::uint8_t code_of(std::uint8_t byte) { return byte >= 0xF0 ? 31 : byte & 3; }

struct Reference {
    Codes codes;
    std::vector<std::int64_t> offsets, lengths;
};

// n_refs sequences cut at points the input chooses (empty ones included).
Reference make_reference(Bytes &in, std::size_t len, std::int32_t n_refs) {
    std::vector<std::int64_t> cuts{0, std::int64_t(len)};
    for (std::int32_t r = 1; r < n_refs; ++r) cuts.push_back(std::int64_t(in.next() * len / 256));
    std::sort(cuts.begin(), cuts.end());
    Reference ref;
    for (std::size_t i = 0; i < len; ++i) ref.codes.push_back(code_of(in.next()));
    for (std::size_t r = 0; r + 1 < cuts.size(); ++r) {
        ref.offsets.push_back(cuts[r]);
        ref.lengths.push_back(cuts[r + 1] - cuts[r]);
    }
    return ref;
}

Codes make_read(Bytes &in, const Codes &ref) {
    const std::uint8_t mode = in.next();
    const std::size_t len = std::size_t(in.next()) * 4 + (mode >> 4);
    Codes read;
    if (mode % 3 == 2 || ref.empty()) {
        for (std::size_t i = 0; i < len && in.left(); ++i) read.push_back(code_of(in.next()));
        return read;
    }
    const std::size_t start = ((std::size_t(in.next()) << 8) | in.next()) % ref.size();
    read.assign(ref.begin() + std::ptrdiff_t(start),
                ref.begin() + std::ptrdiff_t(std::min(ref.size(), start + len)));
    for (std::uint8_t edits = in.next() % 4; edits > 0 && !read.empty(); --edits)
        read[in.next() * 131u % read.size()] = code_of(in.next());
    if (mode % 3 == 1) {
        std::reverse(read.begin(), read.end());
        for (auto &c : read) c = c < 4 ? std::uint8_t(3 - c) : c;
    }
    return read;
}

// A CIGAR's runs consume exactly the window on both sides and add up to the
// alignment length.
void check_cigar(const char *text, std::int32_t len, const bio_map_hit_t &h) {
    std::int64_t ref_used = 0, read_used = 0, columns = 0;
    for (std::int32_t i = 0; i < len;) {
        std::int64_t run = 0;
        check(text[i] >= '1' && text[i] <= '9');
        while (i < len && text[i] >= '0' && text[i] <= '9') run = run * 10 + (text[i++] - '0');
        check(i < len);
        const char op = text[i++];
        check(op == 'M' || op == 'I' || op == 'D');
        ref_used += op != 'I' ? run : 0;
        read_used += op != 'D' ? run : 0;
        columns += run;
    }
    check(ref_used == h.ref_end - h.ref_start && read_used == h.query_end - h.query_start);
    check(columns == h.aln_len);
}

void check_hit(const bio_map_hit_t &h, std::int32_t slot, const Reference &ref, std::int32_t qlen,
               double min_score, const char *cigar, std::int64_t region_begin,
               std::int64_t region_end) {
    check(h.ref_id >= 0 && std::size_t(h.ref_id) < ref.offsets.size());
    const std::int64_t seq_begin = ref.offsets[std::size_t(h.ref_id)];
    const std::int64_t seq_end = seq_begin + ref.lengths[std::size_t(h.ref_id)];
    check(seq_begin <= h.ref_start && h.ref_start < h.ref_end && h.ref_end <= seq_end);
    check(0 <= h.query_start && h.query_start < h.query_end && h.query_end <= qlen);
    check(h.query_end - h.query_start == h.ref_end - h.ref_start);
    check(h.strand == 0 || h.strand == 1);
    const std::int64_t window = h.ref_end - h.ref_start;
    check(window <= h.aln_len && h.aln_len <= 2 * window);
    check(0 <= h.n_match && h.n_match <= window);
    check(h.identity == double(h.n_match) / double(h.aln_len));
    check(h.chain_score >= min_score);
    check(h.mapq >= 0 && h.mapq <= 60 && (slot == 0 || h.mapq == 5));
    check(h.cigar_len >= 0);
    if (h.cigar_len > 0) {
        check(region_begin <= h.cigar_off && h.cigar_off + h.cigar_len < region_end);
        check_cigar(cigar + h.cigar_off, h.cigar_len, h);
    }
}

// Field by field: the record has tail padding that nobody writes.
bool same_hit(const bio_map_hit_t &a, const bio_map_hit_t &b, std::int64_t cigar_shift) {
    return a.identity == b.identity && a.chain_score == b.chain_score &&
           a.ref_start == b.ref_start && a.ref_end == b.ref_end &&
           a.query_start == b.query_start && a.query_end == b.query_end && a.strand == b.strand &&
           a.n_match == b.n_match && a.aln_len == b.aln_len && a.mapq == b.mapq &&
           a.ref_id == b.ref_id && a.cigar_off == b.cigar_off + cigar_shift &&
           a.cigar_len == b.cigar_len;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 6) return 0;
    Bytes in(data, size);
    Params p{};
    const std::uint8_t b0 = in.next(), b1 = in.next(), b2 = in.next(), b3 = in.next();
    p.k = 4 + b0 % 16;
    p.w = 1 + (b0 >> 4) % 8;
    p.max_occ = b1 % 8;  // 0: no limit
    p.max_hits = b2 % 5;
    p.min_score = double(b2 >> 3) * 2;
    p.n_threads = 1 + b3 % 2;
    p.n_refs = 1 + (b3 >> 1) % 4;
    const std::size_t share = (std::size_t(in.next()) << 8) | in.next();
    const std::size_t ref_len = in.left() * share / 65536;

    const Reference ref = make_reference(in, ref_len, p.n_refs);
    Codes seqs;
    std::vector<std::int64_t> seq_offs{0};
    while (in.left() > 0 && seq_offs.size() <= 32) {
        const Codes read = make_read(in, ref.codes);
        seqs.insert(seqs.end(), read.begin(), read.end());
        seq_offs.push_back(std::int64_t(seqs.size()));
    }
    const auto n_reads = std::int32_t(seq_offs.size() - 1);

    bio_index_t *idx = bio_index_build(ref.codes.data(), std::int64_t(ref.codes.size()), p.k, p.w,
                                       p.max_occ, ref.offsets.data(), ref.lengths.data(),
                                       std::int32_t(ref.offsets.size()));
    check(idx != nullptr);

    // CIGAR regions: mostly roomy, some too small for any text.
    std::vector<std::int64_t> cigar_offs{0};
    for (std::int32_t i = 0; i < n_reads; ++i) {
        const std::int64_t qlen = seq_offs[std::size_t(i) + 1] - seq_offs[std::size_t(i)];
        cigar_offs.push_back(cigar_offs.back() + (i % 5 == 4 ? i % 17 : 16 * qlen + 64));
    }
    const std::size_t slots = std::size_t(n_reads) * std::size_t(std::max(p.max_hits, 0));
    bio_map_hit_t untouched;
    std::memset(&untouched, 0x5C, sizeof untouched);
    std::vector<bio_map_hit_t> hits(slots, untouched);
    std::vector<std::int32_t> n_hits(std::size_t(n_reads), -7);
    std::vector<char> cigar(std::size_t(cigar_offs.back()) + 1);
    const std::int32_t rc = bio_map_batch(idx, seqs.data(), seq_offs.data(), n_reads, p.max_hits,
                                          hits.data(), p.min_score, n_hits.data(), cigar.data(),
                                          cigar_offs.data(), p.n_threads);
    check(rc == 0);

    std::vector<bio_map_hit_t> one(std::size_t(std::max(p.max_hits, 1)));
    for (std::int32_t i = 0; i < n_reads; ++i) {
        const auto ui = std::size_t(i);
        const auto qlen = std::int32_t(seq_offs[ui + 1] - seq_offs[ui]);
        const std::int64_t region = cigar_offs[ui], cap = cigar_offs[ui + 1] - region;
        std::vector<char> own(std::size_t(cap) + 1);
        const std::int32_t n = bio_map_read(idx, seqs.data() + seq_offs[ui], qlen, p.max_hits,
                                            one.data(), p.max_hits, p.min_score, own.data(),
                                            std::int32_t(cap));
        check(n >= 0 && n <= std::max(p.max_hits, 0) && n == n_hits[ui]);
        for (std::int32_t j = 0; j < std::max(p.max_hits, 0); ++j) {
            const bio_map_hit_t &h = hits[ui * std::size_t(p.max_hits) + std::size_t(j)];
            if (j >= n) {
                check(std::memcmp(&h, &untouched, sizeof h) == 0);
                continue;
            }
            check(same_hit(h, one[std::size_t(j)], region));
            check_hit(h, j, ref, qlen, p.min_score, cigar.data(), region, region + cap);
            check(std::memcmp(cigar.data() + h.cigar_off, own.data() + one[std::size_t(j)].cigar_off,
                              std::size_t(h.cigar_len)) == 0);
        }
    }
    bio_index_free(idx);
    return 0;
}
