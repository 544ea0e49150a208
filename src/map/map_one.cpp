#include "map/map_one.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/buffer.h"
#include "core/export.h"
#include "map/chain.h"
#include "map/index.h"
#include "map/window_align.h"

namespace engine {

namespace {

struct Window {
    std::int64_t start;
    std::int64_t end;
    std::int32_t ref_id;
};

bool sample_minimizers(const bio_index_t *idx, const std::uint8_t *seq, std::int32_t qlen,
                 ReadMinimizers &m) {
    const auto n = static_cast<std::size_t>(qlen - idx->k + 1);
    if (!m.hash.reserve(n) || !m.pos.reserve(n) || !m.strand.reserve(n)) return false;
    m.count = bio_minimizers(seq, qlen, idx->k, idx->w, m.hash.data(), m.pos.data(),
                             m.strand.data());
    return m.count >= 0;
}

// Marks a read minimizer whose hash the index does not hold.
constexpr std::uint64_t NO_RUN = ~std::uint64_t{0};

// Looks every read minimizer up once and returns the number of anchors they
// give. The hashes are not needed afterwards, so each is replaced by the
// index entry where its run starts (NO_RUN for none): collection then walks
// the runs without searching the index a second time.
std::int64_t locate_runs(const bio_index_t *idx, ReadMinimizers &m) {
    // The lookups of a read are independent: fetching the directory slots
    // and entries of the ones ahead overlaps their cache misses.
    constexpr std::int64_t SLOT_AHEAD = 16, ENTRIES_AHEAD = 8;
    std::int64_t total = 0;
    for (std::int64_t i = 0; i < m.count; ++i) {
        if (i + SLOT_AHEAD < m.count) index_prefetch_slot(idx, m.hash[i + SLOT_AHEAD]);
        if (i + ENTRIES_AHEAD < m.count) index_prefetch_entries(idx, m.hash[i + ENTRIES_AHEAD]);
        const HashRun run = index_hash_run(idx, m.hash[i]);
        total += run.hi - run.lo;
        m.hash[i] = run.hi > run.lo ? static_cast<std::uint64_t>(run.lo) : NO_RUN;
    }
    return total;
}

bool reserve_anchors(std::int64_t total, StrandAnchors &a) {
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(total, 1));
    a.n_fwd = a.n_rev = 0;
    return a.fwd_ref.reserve(n) && a.fwd_read.reserve(n) && a.rev_ref.reserve(n) &&
           a.rev_read.reserve(n);
}

// Every entry of each located run, in index order. An entry taken on the
// same strand as the read minimizer pairs the read forward; otherwise it
// pairs the read's reverse complement.
void collect_anchors(const bio_index_t *idx, const ReadMinimizers &m, StrandAnchors &a) {
    for (std::int64_t i = 0; i < m.count; ++i) {
        if (m.hash[i] == NO_RUN) continue;
        const auto lo = static_cast<std::int64_t>(m.hash[i]);
        const std::uint64_t h = idx->min_hash[lo];
        for (std::int64_t e = lo; e < idx->n_min && idx->min_hash[e] == h; ++e) {
            if (idx->min_strand[e] == m.strand[i]) {
                a.fwd_ref[a.n_fwd] = idx->min_pos[e];
                a.fwd_read[a.n_fwd++] = m.pos[i];
            } else {
                a.rev_ref[a.n_rev] = idx->min_pos[e];
                a.rev_read[a.n_rev++] = m.pos[i];
            }
        }
    }
}

// Chains each strand's anchors into `chains`; returns the chain count, or
// -1 when memory runs out (chaining takes at most 2^31 - 1 anchors a strand).
std::int32_t chain_both_strands(const StrandAnchors &a, std::int32_t qlen, std::int32_t k,
                                double min_score, Buffer<chain_t> &chains, ChainScratch &work) {
    constexpr std::int64_t max_anchors = std::numeric_limits<std::int32_t>::max();
    if (a.n_fwd > max_anchors || a.n_rev > max_anchors) return -1;
    if (!chains.reserve(static_cast<std::size_t>(a.n_fwd + a.n_rev + 1))) return -1;
    std::int32_t n_chains = 0;
    if (a.n_fwd > 0 && _chain_strand(a.fwd_ref.data(), a.fwd_read.data(),
                                     static_cast<std::int32_t>(a.n_fwd), 0, qlen, k, min_score,
                                     chains.data(), &n_chains, work) < 0)
        return -1;
    if (a.n_rev > 0 && _chain_strand(a.rev_ref.data(), a.rev_read.data(),
                                     static_cast<std::int32_t>(a.n_rev), 1, qlen, k, min_score,
                                     chains.data(), &n_chains, work) < 0)
        return -1;
    return n_chains;
}

// True when an already kept chain on the same strand covers more than half
// of the shorter of the two reference spans.
bool overlaps_kept(const chain_t &c, const chain_t *kept, std::int32_t n_kept) {
    for (std::int32_t i = 0; i < n_kept; ++i) {
        const chain_t &q = kept[i];
        if (q.strand != c.strand) continue;
        const std::int64_t shorter = std::min(c.ref_end - c.ref_start, q.ref_end - q.ref_start);
        if (shorter <= 0) continue;
        const std::int64_t overlap =
            std::min(c.ref_end, q.ref_end) - std::max(c.ref_start, q.ref_start);
        if (static_cast<double>(overlap) > 0.5 * static_cast<double>(shorter)) return true;
    }
    return false;
}

// Sorted chains into `kept`, dropping those that repeat a better chain's
// reference span. Returns the kept count, or -1 when memory runs out.
std::int32_t filter_overlaps(const chain_t *chains, std::int32_t n_chains, Buffer<chain_t> &kept) {
    if (!kept.reserve(static_cast<std::size_t>(std::max(n_chains, 1)))) return -1;
    std::int32_t n_kept = 0;
    for (std::int32_t i = 0; i < n_chains; ++i)
        if (n_kept == 0 || !overlaps_kept(chains[i], kept.data(), n_kept))
            kept[n_kept++] = chains[i];
    return n_kept;
}

// Adds without wrapping past the 64-bit range; only a table that does not
// describe the reference could need it.
std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

// The chain's diagonal laid across the whole read, clipped to the reference
// sequence holding the chain and to the reference copy itself, so a table
// pointing outside the copy never makes the kernel read outside it. False
// when nothing is left, or when the index has no reference sequences.
bool chain_window(const bio_index_t *idx, const chain_t &c, std::int32_t qlen, Window &win) {
    if (idx->n_refs <= 0) return false;
    const std::int32_t r = index_ref_of(idx, c.ref_start);
    const std::int64_t seq_start = idx->ref_offsets[r];
    const std::int64_t seq_end = saturating_add(seq_start, idx->ref_lengths[r]);
    win.start = std::max({c.diag, seq_start, std::int64_t{0}});
    win.end = std::min({seq_end, c.diag + qlen, idx->ref_len});
    win.ref_id = r;
    return win.end > win.start;
}

// Reverse complement with every code above 3 turned into 4, so that an
// unknown read base never matches the reference on this strand.
void reverse_complement(const std::uint8_t *seq, std::int32_t qlen, std::uint8_t *out) {
    for (std::int32_t i = 0; i < qlen; ++i) {
        const std::uint8_t c = seq[qlen - 1 - i];
        out[i] = c < 4 ? static_cast<std::uint8_t>(3 - c) : std::uint8_t{4};
    }
}

void orient_read(const std::uint8_t *seq, std::int32_t qlen, std::int32_t strand,
                 AlignBuffers &buf) {
    if (buf.read_strand == strand) return;
    if (strand == 0)
        std::copy(seq, seq + qlen, buf.read.data());
    else
        reverse_complement(seq, qlen, buf.read.data());
    buf.read_strand = strand;
}

bool reserve_align_buffers(std::int32_t qlen, AlignBuffers &buf) {
    buf.read_strand = -1;
    return buf.read.reserve(static_cast<std::size_t>(qlen)) &&
           buf.runs.reserve(window_run_capacity(qlen));
}

void write_hit(const chain_t &c, const Window &win, std::int32_t qlen, const WindowAlignment &aln,
               std::int32_t mapq, std::int32_t cigar_off, std::int32_t cigar_len,
               bio_map_hit_t &hit) {
    const std::int32_t aln_len = aln.n_match + aln.n_mismatch + aln.n_gap;
    // Read extents in the read's input orientation.
    const std::int64_t q0 = c.strand == 0 ? win.start - c.diag : qlen + c.diag - win.end;
    const std::int64_t q1 = c.strand == 0 ? win.end - c.diag : qlen + c.diag - win.start;
    hit.identity = aln_len > 0 ? static_cast<double>(aln.n_match) / aln_len : 0.0;
    hit.chain_score = c.score;
    hit.ref_start = win.start;
    hit.ref_end = win.end;
    hit.query_start = static_cast<std::int32_t>(q0);
    hit.query_end = static_cast<std::int32_t>(q1);
    hit.strand = c.strand;
    hit.n_match = aln.n_match;
    hit.aln_len = aln_len;
    hit.mapq = mapq;
    hit.ref_id = win.ref_id;
    hit.cigar_off = cigar_off;
    hit.cigar_len = cigar_len;
}

// Aligns the read against the windows of the first n_cand kept chains and
// writes their hits; returns the number written.
std::int32_t align_chains(const bio_index_t *idx, const std::uint8_t *seq, std::int32_t qlen,
                          const chain_t *kept, std::int32_t n_cand, bio_map_hit_t *hits,
                          std::int32_t max_hits, char *cigar, std::int32_t cigar_cap,
                          AlignBuffers &buf) {
    const double second = n_cand > 1 ? kept[1].score : 0.0;
    std::int32_t n_hits = 0;
    std::int32_t cigar_at = 0;
    for (std::int32_t ci = 0; ci < n_cand && n_hits < max_hits; ++ci) {
        const chain_t &c = kept[ci];
        Window win;
        if (!chain_window(idx, c, qlen, win)) continue;
        orient_read(seq, qlen, c.strand, buf);
        const auto len = static_cast<std::int32_t>(win.end - win.start);
        WindowAlignment aln;
        if (!align_window(idx->ref + win.start, buf.read.data() + (win.start - c.diag), len,
                          buf.runs.data(), window_run_capacity(qlen), aln))
            continue;
        const std::int32_t cigar_off = cigar_at;
        const std::int32_t cigar_len = append_window_cigar(aln, cigar, cigar_cap, &cigar_at);
        write_hit(c, win, qlen, aln, map_quality(ci, n_cand, kept[0].score, second), cigar_off,
                  cigar_len, hits[n_hits++]);
    }
    return n_hits;
}

}  // namespace

std::int32_t map_quality(std::int32_t ci, std::int32_t n_cand, double best, double second) {
    if (ci > 0) return MAPQ_SECONDARY;
    if (n_cand == 1 || best == 0.0) return MAPQ_MAX;
    // nearbyint rounds half to even under the default rounding mode.
    const double q = std::nearbyint(MAPQ_MAX * (1.0 - second / best));
    return static_cast<std::int32_t>(std::clamp(q, 0.0, static_cast<double>(MAPQ_MAX)));
}

std::int32_t _map_one(const bio_index_t *idx, const std::uint8_t *seq, std::int32_t qlen,
                      std::int32_t max_chains, bio_map_hit_t *hits, std::int32_t max_hits,
                      double min_score, char *cigar, std::int32_t cigar_cap, MapScratch &scratch) {
    if (!idx) return 0;
    const std::int32_t k = idx->k;
    if (qlen < k) return 0;

    // The read's reservations all come before the first hit is written, so
    // their failure leaves the caller's buffers untouched. Only the
    // aligner reserves later, per window; its failure skips that chain.
    ReadMinimizers &mins = scratch.mins;
    StrandAnchors &anchors = scratch.anchors;
    if (!sample_minimizers(idx, seq, qlen, mins)) return -1;
    if (!reserve_anchors(locate_runs(idx, mins), anchors)) return -1;
    collect_anchors(idx, mins, anchors);
    const std::int32_t n_chains =
        chain_both_strands(anchors, qlen, k, min_score, scratch.chains, scratch.chain);
    if (n_chains < 0) return -1;
    chain_t *chains = scratch.chains.data();
    std::qsort(chains, static_cast<std::size_t>(n_chains), sizeof(chain_t), _cmp_cchain);

    const std::int32_t n_kept = filter_overlaps(chains, n_chains, scratch.kept);
    if (n_kept < 0) return -1;
    if (!reserve_align_buffers(qlen, scratch.align)) return -1;

    const std::int32_t n_cand = std::min(n_kept, max_chains);
    if (max_hits <= 0 || n_cand <= 0) return 0;
    return align_chains(idx, seq, qlen, scratch.kept.data(), n_cand, hits, max_hits, cigar,
                        cigar_cap, scratch.align);
}

}  // namespace engine

ENGINE_EXPORT std::int32_t bio_map_read(const bio_index_t *idx, const std::uint8_t *seq,
                                        std::int32_t qlen, std::int32_t max_chains,
                                        bio_map_hit_t *hits, std::int32_t max_hits,
                                        double min_score, char *cigar, std::int32_t cigar_cap) {
    if (!idx) return 0;
    engine::MapScratch scratch;
    return engine::_map_one(idx, seq, qlen, max_chains, hits, max_hits, min_score, cigar,
                            cigar_cap, scratch);
}
