// Score arithmetic of the aligners: plain signed 32-bit sums, never clamped.
// Callers keep their scores in range; should they not, the sums wrap around
// like the machine's adds instead of being undefined.
#pragma once

#include <cstdint>

namespace engine {

inline std::int32_t add32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

inline std::int32_t mul32(std::int64_t count, std::int32_t score) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) *
                                     static_cast<std::uint32_t>(score));
}

// Score of the column pairing codes a and b.
inline std::int32_t pair_score(std::uint8_t a, std::uint8_t b, std::int32_t match,
                               std::int32_t mismatch) {
    return a == b ? match : mismatch;
}

}  // namespace engine
