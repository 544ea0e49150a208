// Test support for read mapping: random references and reads with known
// origins, and a straightforward model of the whole one-read pipeline
// (minimizers by direct k-mer encoding, anchors by linear scan of the index,
// chain extraction over the exported dynamic program, the scalar banded
// aligner, CIGAR text through snprintf) that the library must equal exactly.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine.h"
#include "map/index.h"
#include "seqio/codes.h"
#include "map/minimizer_model.h"

namespace map_test {

using Codes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t N_CODE = 31;

// ---------------------------------------------------------------------------
// References and reads.

struct Reference {
    Codes codes;  // all sequences concatenated
    std::vector<std::int64_t> offsets;
    std::vector<std::int64_t> lengths;
};

inline Codes random_codes(std::mt19937_64 &rng, std::size_t n) {
    Codes s(n);
    for (auto &c : s) c = static_cast<std::uint8_t>(rng() & 3);
    return s;
}

inline Codes reverse_complement(const Codes &s) {
    Codes r(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::uint8_t c = s[s.size() - 1 - i];
        r[i] = c < 4 ? static_cast<std::uint8_t>(3 - c) : c;
    }
    return r;
}

inline Reference make_reference(const std::vector<Codes> &seqs) {
    Reference ref;
    for (const Codes &s : seqs) {
        ref.offsets.push_back(static_cast<std::int64_t>(ref.codes.size()));
        ref.lengths.push_back(static_cast<std::int64_t>(s.size()));
        ref.codes.insert(ref.codes.end(), s.begin(), s.end());
    }
    return ref;
}

inline Reference random_reference(std::mt19937_64 &rng, const std::vector<std::size_t> &lengths) {
    std::vector<Codes> seqs;
    for (std::size_t n : lengths) seqs.push_back(random_codes(rng, n));
    return make_reference(seqs);
}

struct IndexDeleter {
    void operator()(bio_index_t *idx) const { bio_index_free(idx); }
};
using IndexPtr = std::unique_ptr<bio_index_t, IndexDeleter>;

inline IndexPtr build_index(const Reference &ref, int k, int w, int max_occ = 0) {
    return IndexPtr(bio_index_build(ref.codes.data(), static_cast<std::int64_t>(ref.codes.size()),
                                    k, w, max_occ, ref.offsets.data(), ref.lengths.data(),
                                    static_cast<std::int32_t>(ref.offsets.size())));
}

// Substitutions, and insertions or deletions of 1 to 3 bases, each at the
// given rate per base.
inline Codes mutate(std::mt19937_64 &rng, const Codes &s, double sub_rate, double indel_rate) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Codes out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double r = u(rng);
        if (r < indel_rate / 2) {
            i += rng() % 3;  // deletion: skip this and up to two more
            continue;
        }
        if (r < indel_rate) {
            const int n = 1 + static_cast<int>(rng() % 3);
            for (int j = 0; j < n; ++j) out.push_back(static_cast<std::uint8_t>(rng() & 3));
        }
        std::uint8_t c = s[i];
        if (u(rng) < sub_rate && c < 4) c = static_cast<std::uint8_t>((c + 1 + rng() % 3) & 3);
        out.push_back(c);
    }
    return out;
}

struct SampledRead {
    Codes seq;
    std::int32_t ref_id;
    std::int64_t start;  // true origin, concatenated coordinates
    std::int64_t end;
    std::int32_t strand;
};

// A stretch [start, start + len) of reference sequence ref_id, mutated, on
// the given strand.
inline SampledRead sample_read(std::mt19937_64 &rng, const Reference &ref, std::int32_t ref_id,
                               std::int64_t start, std::int64_t len, std::int32_t strand,
                               double sub_rate, double indel_rate) {
    const auto *base = ref.codes.data() + start;
    Codes stretch(base, base + len);
    Codes seq = mutate(rng, stretch, sub_rate, indel_rate);
    if (strand == 1) seq = reverse_complement(seq);
    return {seq, ref_id, start, start + len, strand};
}

inline Codes concat(Codes a, const Codes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Codes with_unknowns(std::mt19937_64 &rng, Codes s, int count) {
    for (int i = 0; i < count && !s.empty(); ++i) s[rng() % s.size()] = N_CODE;
    return s;
}

// A reference of 1 to 4 sequences with copied segments (forward and
// reverse complement), so that reads have several chains on both strands.
inline Reference repetitive_reference(std::mt19937_64 &rng) {
    const int n_seqs = 1 + static_cast<int>(rng() % 4);
    std::vector<Codes> seqs;
    for (int i = 0; i < n_seqs; ++i) seqs.push_back(random_codes(rng, 300 + rng() % 5000));
    const int n_copies = static_cast<int>(rng() % 5);
    for (int c = 0; c < n_copies; ++c) {
        Codes &from = seqs[rng() % n_seqs];
        Codes &to = seqs[rng() % n_seqs];
        const std::size_t len = std::min<std::size_t>({100 + rng() % 800, from.size(), to.size()});
        const std::size_t fs = rng() % (from.size() - len + 1), ts = rng() % (to.size() - len + 1);
        Codes piece(from.begin() + fs, from.begin() + fs + len);
        if (rng() % 2) piece = reverse_complement(piece);
        piece = mutate(rng, piece, (rng() % 3) * 0.01, 0.0);
        std::copy(piece.begin(), piece.begin() + std::min(len, piece.size()), to.begin() + ts);
    }
    if (rng() % 3 == 0)
        for (Codes &s : seqs) s = with_unknowns(rng, s, static_cast<int>(rng() % 5));
    return make_reference(seqs);
}

inline Codes random_read(std::mt19937_64 &rng, const Reference &ref, int k) {
    const int n_refs = static_cast<int>(ref.offsets.size());
    const int r = static_cast<int>(rng() % n_refs);
    const std::int64_t off = ref.offsets[r], len = ref.lengths[r];
    const int kind = static_cast<int>(rng() % 10);
    const std::int64_t read_len = std::min<std::int64_t>(len, 20 + rng() % 1500);
    const std::int64_t start = off + static_cast<std::int64_t>(rng() % (len - read_len + 1));
    const double sub = (rng() % 6) * 0.01, indel = (rng() % 4) * 0.005;
    const int strand = static_cast<int>(rng() % 2);
    switch (kind) {
    case 0:  // runs past the end of its sequence
        return concat(sample_read(rng, ref, r, off + len - read_len / 2, read_len / 2, 0, sub,
                                  indel).seq,
                      random_codes(rng, 1 + rng() % 300));
    case 1:  // starts before its sequence
        return reverse_complement(concat(random_codes(rng, 1 + rng() % 300),
                                         sample_read(rng, ref, r, off, read_len / 2, 0, sub,
                                                     indel).seq));
    case 2:  // unknown bases
        return with_unknowns(rng,
                             sample_read(rng, ref, r, start, read_len, strand, sub, indel).seq,
                             1 + static_cast<int>(rng() % 10));
    case 3:  // shorter than k, or barely longer
        return random_codes(rng, static_cast<std::size_t>(rng() % (k + 5)));
    case 4:  // unrelated
        return random_codes(rng, 50 + rng() % 800);
    default:
        return sample_read(rng, ref, r, start, read_len, strand, sub, indel).seq;
    }
}

// ---------------------------------------------------------------------------
// Model of the one-read pipeline.

struct Minimizer {
    std::uint64_t hash;
    std::int64_t pos;
    std::uint8_t strand;
};

// The rescanning minimizer model the minimizer tests use, as records.
inline std::vector<Minimizer> naive_minimizers(const std::uint8_t *seq, std::int64_t len, int k,
                                               int w) {
    const std::int64_t n = len - k + 1;
    if (n <= 0) return {};
    std::vector<std::uint64_t> hash(n);
    std::vector<std::int64_t> pos(n);
    std::vector<std::uint8_t> strand(n);
    const std::int64_t count = minimizer_model::rescanning_minimizers(
        seq, len, k, w, hash.data(), pos.data(), strand.data());
    std::vector<Minimizer> out;
    for (std::int64_t i = 0; i < count; ++i) out.push_back({hash[i], pos[i], strand[i]});
    return out;
}

struct ModelChain {
    double score;
    std::int32_t strand;
    std::int32_t n_anchors;
    std::int64_t ref_start, ref_end, query_start, query_end, diag;
};

inline int cmp_model_chain(const void *pa, const void *pb) {
    const auto &a = *static_cast<const ModelChain *>(pa);
    const auto &b = *static_cast<const ModelChain *>(pb);
    if (a.score != b.score) return a.score > b.score ? -1 : 1;
    if (a.ref_start != b.ref_start) return a.ref_start < b.ref_start ? -1 : 1;
    return 0;
}

inline std::int64_t median_diagonal(std::vector<std::int64_t> d) {
    std::sort(d.begin(), d.end());
    const std::size_t h = d.size() / 2;
    if (d.size() % 2 == 1) return d[h];
    return static_cast<std::int64_t>((static_cast<double>(d[h - 1]) + static_cast<double>(d[h])) *
                                     0.5);
}

// Chains of one strand's anchors, in the order they are extracted.
inline std::vector<ModelChain> model_chain_strand(const std::vector<std::int64_t> &ref_pos,
                                                  const std::vector<std::int64_t> &query_pos,
                                                  int strand, int qlen, int k, double min_score) {
    struct Anchor {
        std::int64_t x, y, ref_pos, query_pos;
    };
    const int n = static_cast<int>(ref_pos.size());
    std::vector<Anchor> a(n);
    for (int i = 0; i < n; ++i) {
        const std::int64_t y = strand == 0 ? query_pos[i] : (qlen - k) - query_pos[i];
        a[i] = {ref_pos[i], y, ref_pos[i], query_pos[i]};
    }
    std::sort(a.begin(), a.end(),
              [](const Anchor &p, const Anchor &q) { return std::tie(p.x, p.y) < std::tie(q.x, q.y); });
    std::vector<std::int64_t> x(n), y(n);
    for (int i = 0; i < n; ++i) x[i] = a[i].x, y[i] = a[i].y;
    std::vector<double> f(n);
    std::vector<std::int32_t> prev(n);
    bio_chain_dp(x.data(), y.data(), n, k, 5000, 64, 0.01 * k, f.data(), prev.data());
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](int p, int q) {
        if (f[p] != f[q]) return f[p] > f[q];
        return p < q;
    });
    std::vector<char> used(n, 0);
    std::vector<ModelChain> chains;
    for (int i : order) {
        if (f[i] < min_score) break;
        if (used[i]) continue;
        std::vector<int> path;
        int cur = i;
        while (true) {
            path.push_back(cur);
            used[cur] = 1;
            const int p = prev[cur];
            if (p < 0 || used[p]) {
                cur = p;
                break;
            }
            cur = p;
        }
        double score = f[i];
        if (cur < 0) {
            if (path.size() < 2) continue;
        } else {
            if (path.size() < 2) continue;
            score = f[i] - f[cur];
            if (score < min_score) continue;
        }
        ModelChain c{score, strand, static_cast<std::int32_t>(path.size()), INT64_MAX, INT64_MIN,
                     INT64_MAX, INT64_MIN, 0};
        std::vector<std::int64_t> diags;
        for (int p : path) {
            c.ref_start = std::min(c.ref_start, a[p].ref_pos);
            c.ref_end = std::max(c.ref_end, a[p].ref_pos + k);
            c.query_start = std::min(c.query_start, a[p].query_pos);
            c.query_end = std::max(c.query_end, a[p].query_pos + k);
            diags.push_back(strand == 0 ? a[p].ref_pos - a[p].query_pos
                                        : a[p].ref_pos + a[p].query_pos);
        }
        c.diag = median_diagonal(diags);
        if (strand == 1) c.diag -= qlen - k;
        chains.push_back(c);
    }
    return chains;
}

struct MapArgs {
    std::int32_t max_chains = 5;
    std::int32_t max_hits = 5;
    double min_score = 0.0;
    std::int32_t cigar_cap = 4096;
};

// What one mapping call leaves: the result, every hit slot and every CIGAR
// byte (buffers start filled with a marker, so untouched bytes show).
struct MapOutput {
    std::int32_t result = 0;
    std::vector<bio_map_hit_t> hits;
    std::vector<char> cigar;
};

inline constexpr unsigned char HIT_MARK = 0xA5;
inline constexpr char CIGAR_MARK = '#';

inline MapOutput fresh_output(const MapArgs &args) {
    MapOutput out;
    out.hits.resize(static_cast<std::size_t>(std::max(args.max_hits, 0)) + 1);
    std::memset(static_cast<void *>(out.hits.data()), HIT_MARK,
                out.hits.size() * sizeof(bio_map_hit_t));
    out.cigar.assign(static_cast<std::size_t>(std::max(args.cigar_cap, 0)) + 16, CIGAR_MARK);
    return out;
}

inline MapOutput library_map(const bio_index_t *idx, const Codes &read, const MapArgs &args) {
    MapOutput out = fresh_output(args);
    out.result = bio_map_read(idx, read.data(), static_cast<std::int32_t>(read.size()),
                              args.max_chains, out.hits.data(), args.max_hits, args.min_score,
                              out.cigar.data(), args.cigar_cap);
    return out;
}

inline std::int32_t model_mapq(std::size_t ci, std::size_t n_cand, double best, double second) {
    if (ci > 0) return 5;
    if (n_cand == 1 || best == 0.0) return 60;
    const double q = std::nearbyint(60.0 * (1.0 - second / best));
    return static_cast<std::int32_t>(std::min(60.0, std::max(0.0, q)));
}

// Appends a CIGAR with the reserve rule and snprintf; returns its length.
inline std::int32_t model_cigar(const std::string &gapped_ref, const std::string &gapped_read,
                                char *cigar, std::int32_t cap, std::int32_t *at) {
    const std::int32_t start = *at;
    std::size_t col = 0;
    while (col < gapped_ref.size()) {
        auto op_of = [&](std::size_t c) {
            return gapped_ref[c] == '-' ? 'I' : gapped_read[c] == '-' ? 'D' : 'M';
        };
        const char op = op_of(col);
        std::size_t end = col;
        while (end < gapped_ref.size() && op_of(end) == op) ++end;
        if (static_cast<std::int64_t>(*at) >= static_cast<std::int64_t>(cap) - 15) {
            *at = start;
            return 0;
        }
        *at += std::snprintf(cigar + *at, 16, "%d%c", static_cast<int>(end - col), op);
        col = end;
    }
    return *at - start;
}

// The whole one-read pipeline, written out plainly.
inline MapOutput model_map(const bio_index_t *idx, const Codes &read, const MapArgs &args) {
    MapOutput out = fresh_output(args);
    const int k = idx->k;
    const int qlen = static_cast<int>(read.size());
    if (qlen < k) return out;
    std::vector<std::int64_t> fr, fq, rr, rq;
    for (const Minimizer &m : naive_minimizers(read.data(), qlen, k, idx->w))
        for (std::int64_t e = 0; e < idx->n_min; ++e) {
            if (idx->min_hash[e] != m.hash) continue;
            if (idx->min_strand[e] == m.strand)
                fr.push_back(idx->min_pos[e]), fq.push_back(m.pos);
            else
                rr.push_back(idx->min_pos[e]), rq.push_back(m.pos);
        }
    std::vector<ModelChain> chains;
    if (!fr.empty()) chains = model_chain_strand(fr, fq, 0, qlen, k, args.min_score);
    if (!rr.empty()) {
        auto rev = model_chain_strand(rr, rq, 1, qlen, k, args.min_score);
        chains.insert(chains.end(), rev.begin(), rev.end());
    }
    if (!chains.empty())
        std::qsort(chains.data(), chains.size(), sizeof(ModelChain), cmp_model_chain);
    std::vector<ModelChain> kept;
    for (const ModelChain &c : chains) {
        bool drop = false;
        for (const ModelChain &q : kept) {
            const std::int64_t m = std::min(c.ref_end - c.ref_start, q.ref_end - q.ref_start);
            const std::int64_t ov =
                std::min(c.ref_end, q.ref_end) - std::max(c.ref_start, q.ref_start);
            if (q.strand == c.strand && m > 0 && static_cast<double>(ov) > 0.5 * m) drop = true;
        }
        if (!drop) kept.push_back(c);
    }
    const std::size_t n_cand = std::min<std::size_t>(kept.size(), std::max(args.max_chains, 0));
    std::int32_t n_hits = 0, cigar_at = 0;
    for (std::size_t ci = 0; ci < n_cand && n_hits < args.max_hits; ++ci) {
        const ModelChain &c = kept[ci];
        if (idx->n_refs <= 0) continue;
        std::int32_t r = 0;
        while (r + 1 < idx->n_refs && idx->ref_offsets[r + 1] <= c.ref_start) ++r;
        const std::int64_t ws = std::max({c.diag, idx->ref_offsets[r], std::int64_t{0}});
        const std::int64_t we = std::min(
            {idx->ref_offsets[r] + idx->ref_lengths[r], c.diag + qlen, idx->ref_len});
        if (we <= ws) continue;
        Codes prepared(read);
        if (c.strand == 1)
            for (int i = 0; i < qlen; ++i) {
                const std::uint8_t b = read[qlen - 1 - i];
                prepared[i] = b < 4 ? static_cast<std::uint8_t>(3 - b) : 4;
            }
        const int len = static_cast<int>(we - ws);
        std::string ga(2 * len + 1, '\0'), gb(2 * len + 1, '\0');
        std::int32_t score, nm, nx, ng;
        const std::int32_t cols =
            nw_banded_diag(idx->ref + ws, len, prepared.data() + (ws - c.diag), len,
                           engine::_MAP_DECODE, 2, -1, -2, 64, ga.data(), gb.data(), &score, &nm,
                           &nx, &ng);
        if (cols < 0) continue;
        ga.resize(cols);
        gb.resize(cols);
        bio_map_hit_t &h = out.hits[n_hits++];
        const std::int32_t off = cigar_at;
        h.cigar_len = cols > 0 ? model_cigar(ga, gb, out.cigar.data(), args.cigar_cap, &cigar_at) : 0;
        h.cigar_off = off;
        h.aln_len = nm + nx + ng;
        h.n_match = nm;
        h.identity = h.aln_len > 0 ? static_cast<double>(nm) / h.aln_len : 0.0;
        h.chain_score = c.score;
        h.ref_start = ws;
        h.ref_end = we;
        h.query_start = static_cast<std::int32_t>(c.strand == 0 ? ws - c.diag : qlen + c.diag - we);
        h.query_end = static_cast<std::int32_t>(c.strand == 0 ? we - c.diag : qlen + c.diag - ws);
        h.strand = c.strand;
        h.mapq = model_mapq(ci, n_cand, kept[0].score, n_cand > 1 ? kept[1].score : 0.0);
        h.ref_id = r;
    }
    out.result = n_hits;
    return out;
}

// ---------------------------------------------------------------------------
// Comparison.

inline std::string describe(const bio_map_hit_t &h) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "{id %.17g score %.17g ref [%lld,%lld) q [%d,%d) strand %d nm %d len %d "
                  "mapq %d ref_id %d cigar %d+%d}",
                  h.identity, h.chain_score, static_cast<long long>(h.ref_start),
                  static_cast<long long>(h.ref_end), h.query_start, h.query_end, h.strand,
                  h.n_match, h.aln_len, h.mapq, h.ref_id, h.cigar_off, h.cigar_len);
    return buf;
}

inline bool same_hit(const bio_map_hit_t &a, const bio_map_hit_t &b) {
    return a.identity == b.identity && a.chain_score == b.chain_score &&
           a.ref_start == b.ref_start && a.ref_end == b.ref_end &&
           a.query_start == b.query_start && a.query_end == b.query_end &&
           a.strand == b.strand && a.n_match == b.n_match && a.aln_len == b.aln_len &&
           a.mapq == b.mapq && a.ref_id == b.ref_id && a.cigar_off == b.cigar_off &&
           a.cigar_len == b.cigar_len;
}

inline bool untouched(const bio_map_hit_t &h) {
    const auto *p = reinterpret_cast<const unsigned char *>(&h);
    for (std::size_t i = 0; i < sizeof h; ++i)
        if (p[i] != HIT_MARK) return false;
    return true;
}

inline std::string cigar_text(const MapOutput &out, const bio_map_hit_t &h) {
    return std::string(out.cigar.data() + h.cigar_off, static_cast<std::size_t>(h.cigar_len));
}

}  // namespace map_test
