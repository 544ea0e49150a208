// Five-bit packed sequences: code i in bits 5i..5i+4 of a stream written
// most significant bit first.
#pragma once

#include <cstdint>

namespace engine {

// Bytes of packed data for n codes, (5n + 7) / 8, in 32-bit arithmetic as
// the packed layout defines it (n <= 429,496,728).
constexpr std::int32_t packed_bytes(std::int32_t n) { return (5 * n + 7) / 8; }

// The same for 64-bit counts, used where totals may exceed 32 bits.
constexpr std::int64_t packed_bytes64(std::int64_t n) { return (5 * n + 7) / 8; }

}  // namespace engine
