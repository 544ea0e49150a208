// Mapping of one read against a built index; bio_map_read and every thread of
// bio_map_batch call it.
#pragma once

#include <cstdint>

#include "engine.h"

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

std::int32_t _map_one(const bio_index_t *idx, const std::uint8_t *seq, std::int32_t qlen,
                      std::int32_t max_chains, bio_map_hit_t *hits, std::int32_t max_hits,
                      double min_score, char *cigar, std::int32_t cigar_cap);

}  // namespace engine
