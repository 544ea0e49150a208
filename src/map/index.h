// The minimizer index: sorted (hash, position, strand) entries of a
// reference, a copy of the reference codes and its table of sequences.
#pragma once

#include <cstdint>

// Fields in this order; every array is its own reservation and owned by the
// handle (one-element reservations when a count is zero).
struct bio_index_t {
    std::int32_t k;
    std::int32_t w;
    std::int64_t ref_len;
    std::int64_t n_min;
    std::uint64_t *min_hash;   // ascending, unsigned
    std::int64_t *min_pos;     // k-mer start in the concatenated reference
    std::uint8_t *min_strand;  // 0 forward hash, 1 reverse-complement hash
    std::uint8_t *ref;
    std::int32_t n_refs;
    std::int64_t *ref_offsets;
    std::int64_t *ref_lengths;
    // Lookup directory, in the handle's own reservation right after these
    // fields. Slot t holds the hashes h with h >> dir_shift == t; dir[t] is
    // the first entry of slot t or a later one, for t = 0 .. dir_slots
    // (dir[dir_slots] = n_min). Hashes span 2k bits, so the slot is their top
    // bits.
    std::int32_t dir_shift;
    std::int64_t dir_slots;
    const std::int64_t *dir;
};

namespace engine {

// Entries [lo, hi) of the index hold hash h (empty when lo == hi).
struct HashRun {
    std::int64_t lo;
    std::int64_t hi;
};
HashRun index_hash_run(const bio_index_t *idx, std::uint64_t h);

// Hints for a coming index_hash_run of h: first fetch its directory slot,
// a little later (once the slot has arrived) the entries the slot points at.
void index_prefetch_slot(const bio_index_t *idx, std::uint64_t h);
void index_prefetch_entries(const bio_index_t *idx, std::uint64_t h);

// Index of the reference sequence holding concatenated position x: the last
// sequence whose offset is not greater than x (0 when x precedes them all).
std::int32_t index_ref_of(const bio_index_t *idx, std::int64_t x);

}  // namespace engine
