// Mapping of one read against a built index; bio_map_read and every thread of
// bio_map_batch call it.
#pragma once

#include <cstdint>

#include "core/buffer.h"
#include "engine.h"
#include "map/chain.h"

namespace engine {

inline constexpr std::int32_t MAP_MATCH = 2;
inline constexpr std::int32_t MAP_MISMATCH = -1;
inline constexpr std::int32_t MAP_GAP = -2;
inline constexpr std::int32_t MAP_BAND = 64;
inline constexpr std::int32_t MAP_I16_MAX_LEN = 12000;
inline constexpr std::int32_t MAPQ_MAX = 60;
inline constexpr std::int32_t MAPQ_SECONDARY = 5;
inline constexpr std::int32_t CIGAR_RESERVE = 15;
inline constexpr std::int32_t MAP_BATCH_CHUNK = 16;

// Mapping quality of the hit from kept chain ci of n_cand candidates, given
// the best and second-best kept chain scores (second is ignored when there is
// one candidate): secondary hits get MAPQ_SECONDARY, the primary
// 60 * (1 - second / best) rounded half to even and clamped to 0..60.
std::int32_t map_quality(std::int32_t ci, std::int32_t n_cand, double best, double second);

// The read's minimizers: hashes (then where their runs start), positions
// and strands.
struct ReadMinimizers {
    Buffer<std::uint64_t> hash;
    Buffer<std::int64_t> pos;
    Buffer<std::uint8_t> strand;
    std::int64_t count = 0;
};

// Anchors split by relative strand: reference and read positions.
struct StrandAnchors {
    Buffer<std::int64_t> fwd_ref;
    Buffer<std::int64_t> fwd_read;
    Buffer<std::int64_t> rev_ref;
    Buffer<std::int64_t> rev_read;
    std::int64_t n_fwd = 0;
    std::int64_t n_rev = 0;
};

// The read, oriented for the chain being aligned, and the store of the
// kernel's traceback runs; reused by every chain of the read.
struct AlignBuffers {
    Buffer<std::uint8_t> read;
    Buffer<std::uint64_t> runs;
    std::int32_t read_strand = -1;  // orientation held in `read`, -1 none yet
};

// Working memory of _map_one. A caller that maps many reads on one thread
// keeps one and passes it to every read: each reservation is then made
// again only when a read needs more than an earlier one did.
struct MapScratch {
    ReadMinimizers mins;
    StrandAnchors anchors;
    Buffer<chain_t> chains;
    Buffer<chain_t> kept;
    AlignBuffers align;
    ChainScratch chain;
};

// Maps one read (residue codes) against idx and writes up to max_hits hits,
// best chain first, packing their CIGAR texts into cigar from offset 0.
// Returns the hit count, 0 for a null index or a read shorter than k, -1
// when the read's own working memory cannot be reserved (then nothing is
// written). An aligner that cannot reserve its memory for one window only
// costs that chain its hit: the count is smaller, not -1.
std::int32_t _map_one(const bio_index_t *idx, const std::uint8_t *seq, std::int32_t qlen,
                      std::int32_t max_chains, bio_map_hit_t *hits, std::int32_t max_hits,
                      double min_score, char *cigar, std::int32_t cigar_cap, MapScratch &scratch);

}  // namespace engine
