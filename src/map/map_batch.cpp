#include <omp.h>

#include <cstdint>

#include "core/export.h"
#include "map/map_one.h"

namespace engine {

namespace {

// Lengths and capacities are differences of the low 32 bits of two
// offsets; unsigned arithmetic keeps the wrap-around defined.
std::int32_t low32_span(const std::int64_t *offs, std::int32_t i) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(offs[i + 1]) -
                                     static_cast<std::uint32_t>(offs[i]));
}

// Read i's block of hit slots. With no slots there is no block: the base
// pointer is handed on but never written, and no address outside the hit
// array is ever formed.
bio_map_hit_t *slot_block(bio_map_hit_t *hits, std::int32_t i, std::int32_t max_hits) {
    if (max_hits <= 0) return hits;
    return hits + static_cast<std::int64_t>(i) * max_hits;
}

// Makes each hit's CIGAR offset count from the start of the whole buffer.
void rebase_cigar_offsets(bio_map_hit_t *hits, std::int32_t n, std::int64_t region_start) {
    const auto base = static_cast<std::uint32_t>(region_start);
    for (std::int32_t j = 0; j < n; ++j)
        hits[j].cigar_off =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(hits[j].cigar_off) + base);
}

// Maps read i into its own slots, CIGAR region and count; false when its
// working memory could not be reserved (its count is then 0).
bool map_batch_read(const bio_index_t *idx, const std::uint8_t *seqs, const std::int64_t *seq_offs,
                    std::int32_t i, std::int32_t max_hits, bio_map_hit_t *hits, double min_score,
                    std::int32_t *n_hits, char *cigar, const std::int64_t *cigar_offs,
                    MapScratch &scratch) {
    bio_map_hit_t *block = slot_block(hits, i, max_hits);
    const std::int32_t n =
        _map_one(idx, seqs + seq_offs[i], low32_span(seq_offs, i), max_hits, block, max_hits,
                 min_score, cigar + cigar_offs[i], low32_span(cigar_offs, i), scratch);
    if (n < 0) {
        n_hits[i] = 0;
        return false;
    }
    rebase_cigar_offsets(block, n, cigar_offs[i]);
    n_hits[i] = n;
    return true;
}

}  // namespace

}  // namespace engine

ENGINE_EXPORT std::int32_t bio_map_batch(const bio_index_t *idx, const std::uint8_t *seqs,
                                         const std::int64_t *seq_offs, std::int32_t n_reads,
                                         std::int32_t max_hits, bio_map_hit_t *hits,
                                         double min_score, std::int32_t *n_hits, char *cigar,
                                         const std::int64_t *cigar_offs, std::int32_t n_threads) {
    if (!idx) return -1;
    omp_set_num_threads(n_threads > 0 ? n_threads : omp_get_num_procs());
    // Only ever set to 1, so the order of the stores does not matter.
    int failed = 0;
#pragma omp parallel
    {
        // Each thread keeps one working memory for all its reads.
        engine::MapScratch scratch;
        // Each read writes only its own slots, count and CIGAR region; the
        // end of the region is the only barrier needed.
#pragma omp for schedule(nonmonotonic : dynamic, engine::MAP_BATCH_CHUNK) nowait
        for (std::int32_t i = 0; i < n_reads; ++i) {
            if (!engine::map_batch_read(idx, seqs, seq_offs, i, max_hits, hits, min_score, n_hits,
                                        cigar, cigar_offs, scratch)) {
#pragma omp atomic write
                failed = 1;
            }
        }
    }
    return failed ? -1 : 0;
}
