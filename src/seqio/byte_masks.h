// 64-byte blocks of text as bit masks: bit i is set where byte i of the
// block equals a given byte. The line scanners find line feeds and markers
// this way, a block at a time, instead of one search call per line.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace engine {

inline constexpr std::int64_t MASK_BLOCK = 64;

struct TextBlock {
    __m256i lo, hi;
};

// The 64 bytes at p, which must all be readable.
inline TextBlock load_block(const void *p) {
    const auto *v = static_cast<const __m256i *>(p);
    return {_mm256_loadu_si256(v), _mm256_loadu_si256(v + 1)};
}

// The bytes of [p, end), fewer than 64, followed by zero bytes.
inline TextBlock load_partial_block(const char *p, const char *end) {
    alignas(32) char bytes[MASK_BLOCK] = {};
    std::memcpy(bytes, p, static_cast<std::size_t>(end - p));
    return load_block(bytes);
}

inline std::uint64_t byte_mask(const TextBlock &block, char c) {
    const __m256i wanted = _mm256_set1_epi8(c);
    const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block.lo, wanted)));
    const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block.hi, wanted)));
    return low | std::uint64_t{high} << 32;
}

}  // namespace engine
