#include "mapper.h"

#include "worker_threads.h"

#include <algorithm>
#include <climits>

namespace bioeng {

namespace {

// Room for the CIGARs of typical hits (a run every few bases); a read
// that needs more is mapped again by remap_cut_cigars.
int64_t cigar_region(int32_t qlen, int32_t max_hits) {
    return int64_t(max_hits) * (qlen / 2 + 48) + 16;
}

} // namespace

IndexPtr build_index(const RefTable &refs, const MapSettings &s, const std::string &label) {
    bio_index_t *idx = bio_index_build(refs.codes.data(), int64_t(refs.codes.size()), s.k, s.w,
                                       s.max_occ, refs.offsets.data(), refs.lengths.data(),
                                       refs.size());
    if (!idx) throw InputError(label + ": out of memory while building the index");
    return IndexPtr(idx);
}

void emit_read_records(std::string &out, const ReadView &read, const bio_map_hit_t *hits,
                       int32_t n_hits, const char *cigar, const RefTable &refs, bool sam) {
    if (n_hits == 0 && sam) append_sam_unmapped(out, read);
    for (int32_t j = 0; j < n_hits; ++j) {
        std::string_view cg(cigar + hits[j].cigar_off, size_t(hits[j].cigar_len));
        if (sam)
            append_sam_hit(out, read, hits[j], refs, cg, j > 0);
        else
            append_paf(out, read, hits[j], refs, cg, j == 0);
    }
}

void emit_alignment_records(std::string &out, const ReadView &read, const std::vector<Alignment> &alns,
                            const RefTable &refs, const MapSettings &s, bool sam, RecordScratch &scratch) {
    std::vector<uint8_t> (&oread)[2] = scratch.oread;
    if (alns.empty() && sam) append_sam_unmapped(out, read);
    bool oriented[2] = {false, false};
    for (size_t j = 0; j < alns.size(); ++j) {
        int32_t strand = alns[j].strand;
        if (!oriented[strand]) oriented_read(read.codes, read.len, strand, oread[strand]);
        oriented[strand] = true;
        if (sam)
            append_sam_alignment(out, read, alns, j, refs, oread[strand].data(), s.md, scratch.ref_span);
        else
            append_paf_alignment(out, read, alns[j], refs, oread[strand].data(), s.cs, scratch.ref_span);
    }
}

void BatchMapper::map(const RecordBatch &batch, const std::string &label, std::string &out) {
    unpack(batch);
    layout_cigar_regions(batch.count, label);
    hits_.reserve_discard(size_t(batch.count) * size_t(s_.max_hits));
    n_hits_.reserve_discard(size_t(batch.count));
    int32_t rc = bio_map_batch(idx_, seqs_.data(), seq_offs_.data(), batch.count, s_.max_hits,
                               hits_.data(), s_.min_score, n_hits_.data(), cigar_.data(),
                               cigar_offs_.data(), s_.threads);
    if (rc != 0) throw std::bad_alloc();
    size_t first = out.size();
    paf_.clear();
    if (!s_.raw_hits) {
        // Re-alignment needs the hits only, not their CIGAR text.
        realign_and_format(batch, out);
    } else {
        remap_cut_cigars(batch.count);
        format(batch, s_.sam, out);
        if (paf_beside()) format(batch, false, paf_);
        count_raw_hits(batch);
    }
    if (s_.sam && !s_.read_group_id.empty())
        append_tag_to_lines(out, first, "RG:Z:" + s_.read_group_id);
}

void MapCounts::add_read(int32_t len, uint64_t n_primary, uint64_t n_secondary,
                         uint64_t n_supplementary) {
    reads += 1;
    bases += uint64_t(len);
    if (n_primary == 0) return;
    mapped_reads += 1;
    mapped_bases += uint64_t(len);
    primary += n_primary;
    secondary += n_secondary;
    supplementary += n_supplementary;
}

void MapCounts::add(const MapCounts &o) {
    reads += o.reads;
    bases += o.bases;
    mapped_reads += o.mapped_reads;
    mapped_bases += o.mapped_bases;
    primary += o.primary;
    secondary += o.secondary;
    supplementary += o.supplementary;
}

namespace {

void count_alignments(MapCounts &c, int32_t len, const std::vector<Alignment> &alns) {
    uint64_t n[3] = {0, 0, 0};
    for (const Alignment &a : alns) ++n[size_t(a.kind)];
    c.add_read(len, n[size_t(AlnKind::primary)], n[size_t(AlnKind::secondary)],
               n[size_t(AlnKind::supplementary)]);
}

} // namespace

ReadView BatchMapper::read_view(const RecordBatch &batch, int32_t i) const {
    ReadView read;
    read.name = record_name(batch.name(i));
    read.codes = seqs_.data() + seq_offs_.data()[i];
    read.len = batch.length(i);
    read.qual = batch.has_quals() ? batch.qual(i) : nullptr;
    return read;
}

// Reads are re-aligned and formatted on the mapping threads, in chunks of
// REALIGN_CHUNK reads taken in turn; each chunk's text goes to its own slot,
// so the output is the same for any thread count.
void BatchMapper::realign_and_format(const RecordBatch &batch, std::string &out) {
    constexpr int32_t REALIGN_CHUNK = 16;
    const int32_t n = batch.count;
    const int32_t n_chunks = (n + REALIGN_CHUNK - 1) / REALIGN_CHUNK;
    std::vector<std::string> texts(static_cast<size_t>(n_chunks));
    std::vector<std::string> pafs(paf_beside() ? size_t(n_chunks) : 0);
    std::vector<MapCounts> counts(static_cast<size_t>(n_chunks));
    RefSeqs ref{&refs_.packed, refs_.offsets.data(), refs_.lengths.data(), refs_.size()};
    if (!ref_mins_ready_) compute_ref_minimizers(ref, s_.k, s_.w, worker_count(s_.threads), ref_mins_);
    ref_mins_ready_ = true;
    ref.mins = &ref_mins_;
    RealignOptions opt;
    opt.k = s_.k;
    opt.w = s_.w;
    opt.secondaries = s_.secondaries;
    opt.secondary_ratio = s_.secondary_ratio;
    for_each_on_threads(size_t(n_chunks), worker_count(s_.threads), [&] {
        return [&, realigner = std::make_unique<Realigner>(ref, opt), alns = std::vector<Alignment>(),
                records = RecordScratch()](size_t c) mutable {
            std::string &text = texts[c];
            for (int32_t i = int32_t(c) * REALIGN_CHUNK; i < std::min(n, int32_t(c + 1) * REALIGN_CHUNK); ++i) {
                ReadView read = read_view(batch, i);
                const bio_map_hit_t *hits = hits_.data() + size_t(i) * size_t(s_.max_hits);
                realigner->align_read(read.codes, read.len, hits, n_hits_.data()[i], alns);
                emit_alignment_records(text, read, alns, refs_, s_, s_.sam, records);
                if (paf_beside()) emit_alignment_records(pafs[c], read, alns, refs_, s_, false, records);
                count_alignments(counts[c], read.len, alns);
            }
        };
    });
    size_t total = out.size();
    for (const std::string &t : texts) total += t.size();
    out.reserve(total);
    for (const std::string &t : texts) out.append(t);
    for (const std::string &t : pafs) paf_.append(t);
    for (const MapCounts &c : counts) counts_.add(c);
}

void BatchMapper::unpack(const RecordBatch &batch) {
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

void BatchMapper::layout_cigar_regions(int32_t n, const std::string &label) {
    cigar_offs_.reserve_discard(size_t(n) + 1);
    int64_t at = 0;
    for (int32_t i = 0; i < n; ++i) {
        cigar_offs_.data()[i] = at;
        int32_t qlen = int32_t(seq_offs_.data()[i + 1] - seq_offs_.data()[i]);
        at += cigar_region(qlen, s_.max_hits);
    }
    cigar_offs_.data()[n] = at;
    if (at >= INT32_MAX) throw InputError(label + ": batch too large for CIGAR offsets");
    cigar_.reserve_discard(size_t(at) + 1);
}

void BatchMapper::remap_cut_cigars(int32_t n) {
    remapped_.clear();
    for (int32_t i = 0; i < n; ++i) {
        const bio_map_hit_t *h = hits_.data() + size_t(i) * size_t(s_.max_hits);
        bool cut = false;
        for (int32_t j = 0; j < n_hits_.data()[i]; ++j)
            if (h[j].aln_len > 0 && h[j].cigar_len == 0) cut = true;
        if (cut) remap(i);
    }
}

void BatchMapper::remap(int32_t i) {
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

// The library's hits: the first is the primary, the others secondary.
void BatchMapper::count_raw_hits(const RecordBatch &batch) {
    for (int32_t i = 0; i < batch.count; ++i) {
        uint64_t n = uint64_t(n_hits_.data()[i]);
        counts_.add_read(batch.length(i), n ? 1 : 0, n ? n - 1 : 0, 0);
    }
}

void BatchMapper::format(const RecordBatch &batch, bool sam, std::string &out) {
    size_t next_remap = 0;
    for (int32_t i = 0; i < batch.count; ++i) {
        ReadView read = read_view(batch, i);
        const bio_map_hit_t *hits = hits_.data() + size_t(i) * size_t(s_.max_hits);
        int32_t n = n_hits_.data()[i];
        const char *cigar = cigar_.data();
        if (next_remap < remapped_.size() && remapped_[next_remap].first == i) {
            const Remapped &r = remapped_[next_remap++].second;
            hits = r.hits.data();
            n = int32_t(r.hits.size());
            cigar = r.cigar.data();
        }
        emit_read_records(out, read, hits, n, cigar, refs_, sam);
    }
}

} // namespace bioeng
