// Chaining of one strand's anchors: sort, score every anchor as the end of a
// chain, then extract chains greedily from the best score down, each anchor
// on at most one chain, and summarise each accepted chain.
#include "map/chain.h"

#include <algorithm>
#include <cstdint>

#include "core/buffer.h"
#include "engine.h"

namespace engine {

namespace {

template <class T>
int three_way(T a, T b) {
    return (a > b) - (a < b);
}

}  // namespace

int _cmp_anc(const void *a, const void *b) {
    const auto *p = static_cast<const anchor_t *>(a);
    const auto *q = static_cast<const anchor_t *>(b);
    if (p->x != q->x) return three_way(p->x, q->x);
    return three_way(p->y, q->y);
}

int _cmp_fidx(const void *a, const void *b) {
    const auto *p = static_cast<const fidx_t *>(a);
    const auto *q = static_cast<const fidx_t *>(b);
    if (p->score != q->score) return three_way(q->score, p->score);
    return three_way(p->index, q->index);
}

int _cmp_cchain(const void *a, const void *b) {
    const auto *p = static_cast<const chain_t *>(a);
    const auto *q = static_cast<const chain_t *>(b);
    if (p->score != q->score) return three_way(q->score, p->score);
    return three_way(p->ref_start, q->ref_start);
}

int _cmp_i64(const void *a, const void *b) {
    return three_way(*static_cast<const std::int64_t *>(a), *static_cast<const std::int64_t *>(b));
}

void sort_anchors(anchor_t *anchors, std::int32_t n) {
    std::sort(anchors, anchors + n, [](const anchor_t &p, const anchor_t &q) {
        return p.x != q.x ? p.x < q.x : p.y < q.y;
    });
}

void sort_by_score(fidx_t *order, std::int32_t n) {
    std::sort(order, order + n, [](const fidx_t &p, const fidx_t &q) {
        return p.score != q.score ? p.score > q.score : p.index < q.index;
    });
}

void sort_i64(std::int64_t *values, std::int32_t n) { std::sort(values, values + n); }

namespace {

// Reverse-strand anchors chain on the reverse complement of the read, where
// the k-mer at query_pos starts at (qlen - k) - query_pos.
void make_anchors(const std::int64_t *ref_pos, const std::int64_t *query_pos, std::int32_t n,
                  std::int32_t strand, std::int32_t qlen, std::int32_t k, anchor_t *anchors) {
    const std::int64_t flip = static_cast<std::int64_t>(qlen) - k;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int64_t y = strand == 0 ? query_pos[i] : flip - query_pos[i];
        anchors[i] = anchor_t{ref_pos[i], y, ref_pos[i], query_pos[i]};
    }
}

// Where the read's first base (of its reverse complement, for the reverse
// strand) lies on the reference, as the median over the chain's anchors.
std::int64_t median_diagonal(const anchor_t *anchors, const std::int32_t *path, std::int32_t c,
                             std::int32_t strand, std::int32_t qlen, std::int32_t k,
                             std::int64_t *d) {
    for (std::int32_t t = 0; t < c; ++t) {
        const anchor_t &a = anchors[path[t]];
        d[t] = strand == 0 ? a.ref_pos - a.query_pos : a.ref_pos + a.query_pos;
    }
    sort_i64(d, c);
    const std::int32_t h = c / 2;
    std::int64_t median = d[h];
    if (c % 2 == 0) {
        median = static_cast<std::int64_t>(
            (static_cast<double>(d[h - 1]) + static_cast<double>(d[h])) * 0.5);
    }
    return strand == 0 ? median : median - (static_cast<std::int64_t>(qlen) - k);
}

chain_t summarise(const anchor_t *anchors, const std::int32_t *path, std::int32_t c, double score,
                  std::int32_t strand, std::int32_t qlen, std::int32_t k, std::int64_t *d) {
    chain_t chain{};
    chain.score = score;
    chain.strand = strand;
    chain.n_anchors = c;
    const anchor_t &first = anchors[path[0]];
    std::int64_t ref_lo = first.ref_pos, ref_hi = first.ref_pos;
    std::int64_t query_lo = first.query_pos, query_hi = first.query_pos;
    for (std::int32_t t = 1; t < c; ++t) {
        const anchor_t &a = anchors[path[t]];
        if (a.ref_pos < ref_lo) ref_lo = a.ref_pos;
        if (a.ref_pos > ref_hi) ref_hi = a.ref_pos;
        if (a.query_pos < query_lo) query_lo = a.query_pos;
        if (a.query_pos > query_hi) query_hi = a.query_pos;
    }
    chain.ref_start = ref_lo;
    chain.ref_end = ref_hi + k;
    chain.query_start = query_lo;
    chain.query_end = query_hi + k;
    chain.diag = median_diagonal(anchors, path, c, strand, qlen, k, d);
    return chain;
}

// Walks back from anchor i through its predecessors, marking each visited
// anchor used, until the chain starts or runs into an anchor already used.
// Returns the path length; *junction is that used anchor, or -1.
std::int32_t backtrack(std::int32_t i, const std::int32_t *prev, std::uint8_t *used,
                       std::int32_t *path, std::int32_t *junction) {
    std::int32_t len = 0;
    std::int32_t cur = i;
    for (;;) {
        path[len++] = cur;
        used[cur] = 1;
        const std::int32_t next = prev[cur];
        if (next < 0 || used[next]) {
            *junction = next;
            return len;
        }
        cur = next;
    }
}

}  // namespace

bool ChainScratch::reserve(std::size_t n) {
    if (!(anchors.reserve(n) && x.reserve(n) && y.reserve(n) && f.reserve(n) && prev.reserve(n) &&
          order.reserve(n) && used.reserve(n) && path.reserve(n) && diag.reserve(n)))
        return false;
    std::fill(used.data(), used.data() + n, std::uint8_t{0});
    return true;
}

std::int32_t _chain_strand(const std::int64_t *ref_pos, const std::int64_t *query_pos,
                           std::int32_t n, std::int32_t strand, std::int32_t qlen, std::int32_t k,
                           double min_score, chain_t *chains, std::int32_t *n_chains) {
    ChainScratch scratch;
    return _chain_strand(ref_pos, query_pos, n, strand, qlen, k, min_score, chains, n_chains,
                         scratch);
}

std::int32_t _chain_strand(const std::int64_t *ref_pos, const std::int64_t *query_pos,
                           std::int32_t n, std::int32_t strand, std::int32_t qlen, std::int32_t k,
                           double min_score, chain_t *chains, std::int32_t *n_chains,
                           ChainScratch &work) {
    if (n <= 0) return 0;
    if (!work.reserve(static_cast<std::size_t>(n))) return -1;
    anchor_t *anchors = work.anchors.data();
    make_anchors(ref_pos, query_pos, n, strand, qlen, k, anchors);
    sort_anchors(anchors, n);
    for (std::int32_t i = 0; i < n; ++i) {
        work.x[i] = anchors[i].x;
        work.y[i] = anchors[i].y;
    }
    const double *f = work.f.data();
    const std::int32_t *prev = work.prev.data();
    bio_chain_dp(work.x.data(), work.y.data(), n, k, CHAIN_MAX_DIST, CHAIN_MAX_LOOKBACK,
                 CHAIN_GAP_COEF * k, work.f.data(), work.prev.data());
    for (std::int32_t i = 0; i < n; ++i) work.order[i] = fidx_t{f[i], i};
    // bio_chain_dp's scores are finite: k plus finite link terms.
    sort_by_score(work.order.data(), n);

    std::int32_t appended = 0;
    chain_t *out = chains + *n_chains;
    for (std::int32_t t = 0; t < n; ++t) {
        const fidx_t pair = work.order[t];
        if (pair.score < min_score) break;
        if (work.used[pair.index]) continue;
        std::int32_t junction = -1;
        const std::int32_t len =
            backtrack(pair.index, prev, work.used.data(), work.path.data(), &junction);
        if (len < 2) continue;
        double score = pair.score;
        if (junction >= 0) {
            // Only the part of the score this chain adds to the one it joins.
            score = pair.score - f[junction];
            if (score < min_score) continue;
        }
        out[appended++] = summarise(anchors, work.path.data(), len, score, strand, qlen, k,
                                    work.diag.data());
    }
    *n_chains += appended;
    return appended;
}

}  // namespace engine
