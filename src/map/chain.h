// Anchors, chain records and the per-strand chaining of read mapping.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/buffer.h"

namespace engine {

inline constexpr std::int64_t CHAIN_MAX_DIST = 5000;
inline constexpr std::int32_t CHAIN_MAX_LOOKBACK = 64;
inline constexpr double CHAIN_GAP_COEF = 0.01;  // per base of k

// One seed match. (x, y) are the chaining coordinates; y is measured on the
// reverse complement of the read for reverse-strand anchors.
struct anchor_t {
    std::int64_t x;
    std::int64_t y;
    std::int64_t ref_pos;
    std::int64_t query_pos;
};

struct fidx_t {
    double score;
    std::int32_t index;
};

struct chain_t {
    double score;
    std::int32_t strand;  // 0 forward, 1 reverse
    std::int32_t n_anchors;
    std::int64_t ref_start;
    std::int64_t ref_end;      // exclusive: largest ref_pos + k
    std::int64_t query_start;
    std::int64_t query_end;    // exclusive: largest query_pos + k
    std::int64_t diag;         // median diagonal
};

// log2 of the indel lengths 1 .. LOG2_TABLE_SIZE - 1, each entry computed
// once by std::log2 of the same argument, so a lookup is bit-identical to
// the call; entry 0 is 0. Covers every indel that CHAIN_MAX_DIST allows.
inline constexpr std::int64_t LOG2_TABLE_SIZE = CHAIN_MAX_DIST + 1;
const double *log2_table();

int _cmp_anc(const void *a, const void *b);
int _cmp_fidx(const void *a, const void *b);
int _cmp_cchain(const void *a, const void *b);
int _cmp_i64(const void *a, const void *b);

// The orders qsort gives with _cmp_anc, _cmp_fidx and _cmp_i64, by an
// inlined sort. Any correct sort gives the one order where no two different
// records compare equal: anchors of one strand that agree on (x, y) agree in
// every field (x is the reference position, y fixes the read position), and
// score/index pairs carry distinct indices (with finite scores).
void sort_anchors(anchor_t *anchors, std::int32_t n);
void sort_by_score(fidx_t *order, std::int32_t n);
void sort_i64(std::int64_t *values, std::int32_t n);

// Working memory of _chain_strand, one reservation per array, kept from
// call to call by a caller that chains many reads.
struct ChainScratch {
    Buffer<anchor_t> anchors;
    Buffer<std::int64_t> x;
    Buffer<std::int64_t> y;
    Buffer<double> f;
    Buffer<std::int32_t> prev;
    Buffer<fidx_t> order;
    Buffer<std::uint8_t> used;
    Buffer<std::int32_t> path;
    Buffer<std::int64_t> diag;

    // Room for n anchors, `used` cleared. False when memory runs out.
    bool reserve(std::size_t n);
};

// Chains n anchors of one relative strand and appends the accepted chains at
// chains[*n_chains] onwards (room for n / 2 more is required). Returns the
// number appended, or -1 when working memory cannot be reserved (in
// `scratch`, or in working memory of its own).
std::int32_t _chain_strand(const std::int64_t *ref_pos, const std::int64_t *query_pos,
                           std::int32_t n, std::int32_t strand, std::int32_t qlen, std::int32_t k,
                           double min_score, chain_t *chains, std::int32_t *n_chains,
                           ChainScratch &scratch);
std::int32_t _chain_strand(const std::int64_t *ref_pos, const std::int64_t *query_pos,
                           std::int32_t n, std::int32_t strand, std::int32_t qlen, std::int32_t k,
                           double min_score, chain_t *chains, std::int32_t *n_chains);

}  // namespace engine
