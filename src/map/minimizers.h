// Minimizer records as the index sorts them, and the marker of a k-mer
// position that holds a code above 3.
#pragma once

#include <cstdint>

namespace engine {

// Largest unsigned value, so an invalid position never wins a window.
inline constexpr std::uint64_t MINIMIZER_INVALID = ~std::uint64_t{0};

inline constexpr std::int32_t MAX_K = 32;

// 2k one-bits (all 64 for k = 32).
constexpr std::uint64_t kmer_mask(std::int32_t k) {
    return k >= MAX_K ? ~std::uint64_t{0} : (std::uint64_t{1} << (2 * k)) - 1;
}

// One sampled k-mer: the hash opens the record because _cmp_min looks only
// at it.
struct min_rec_t {
    std::uint64_t hash;
    std::int64_t pos;
    std::uint8_t strand;
};

// Ascending unsigned hash; -1, 0 or 1.
int _cmp_min(const void *a, const void *b);

// Sorts `count` minimizers, given as three parallel arrays in position
// order, by hash into `records`: the order _cmp_min gives, with equal hashes
// kept in their input order (a stable radix sort, so the same input always
// gives the same records). The three arrays serve as the second buffer of
// the sort and are left scrambled.
void sort_minimizers_by_hash(std::uint64_t *hash, std::int64_t *pos, std::uint8_t *strand,
                             std::int64_t count, min_rec_t *records);

// The minimizers of the windows ending at k-mer positions [from, to) of seq,
// exactly those bio_minimizers writes for these windows over the whole
// sequence, counted by bucket (hash >> shift) into counts[bucket], and
// their positions marked: bit p % 64 of marks[p / 64] is set for position p
// (with an atomic or, so ranges of one sequence may be counted at once).
// *first gets the first position written, -1 when there is none. Needs
// w - 1 <= from <= to <= seq_len - k + 1. False when working memory cannot
// be reserved.
bool count_minimizers_by_bucket(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k,
                                std::int32_t w, std::int64_t from, std::int64_t to, int shift,
                                std::int64_t *counts, std::uint64_t *marks, std::int64_t *first);

// Writes the minimizers marked at positions [from, to) of seq, in position
// order, each to entry next[hash >> shift]++ of the three arrays, with the
// hash and strand the scan gives them. Reserves nothing.
void scatter_marked_minimizers(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k,
                               const std::uint64_t *marks, std::int64_t from, std::int64_t to,
                               int shift, std::int64_t *next, std::uint64_t *hash,
                               std::int64_t *pos, std::uint8_t *strand);

}  // namespace engine
