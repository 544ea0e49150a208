#include "seqio/codes.h"

#include <immintrin.h>

namespace engine {

bool looks_like_protein(const ByteTable &aa_only, const std::uint8_t *raw, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (aa_only[raw[i]]) return true;
    return false;
}

void convert_letters(const ByteTable &table, std::uint8_t *bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) bytes[i] = table[bytes[i]];
}

// Saturating subtraction of 33: 32 bytes at a time, then 16, then 8, then
// one by one.
void phred_from_ascii(std::uint8_t *qual, std::size_t n) {
    std::size_t i = 0;
    const __m256i offset32 = _mm256_set1_epi8(33);
    for (; i + 32 <= n; i += 32) {
        auto *p = reinterpret_cast<__m256i *>(qual + i);
        _mm256_storeu_si256(p, _mm256_subs_epu8(_mm256_loadu_si256(p), offset32));
    }
    const __m128i offset16 = _mm_set1_epi8(33);
    for (; i + 16 <= n; i += 16) {
        auto *p = reinterpret_cast<__m128i *>(qual + i);
        _mm_storeu_si128(p, _mm_subs_epu8(_mm_loadu_si128(p), offset16));
    }
    for (; i + 8 <= n; i += 8) {
        auto *p = reinterpret_cast<__m128i *>(qual + i);
        _mm_storel_epi64(p, _mm_subs_epu8(_mm_loadl_epi64(p), offset16));
    }
    for (; i < n; ++i) qual[i] = qual[i] >= 33 ? static_cast<std::uint8_t>(qual[i] - 33) : 0;
}

}  // namespace engine
