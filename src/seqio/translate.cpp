#include <immintrin.h>

#include <cstdint>

#include "core/export.h"
#include "engine.h"
#include "seqio/codes.h"

namespace {

constexpr std::uint8_t CODE_A = 0, CODE_G = 2, CODE_T = 3;

bool atg_at(const std::uint8_t *codes, std::int32_t i) {
    return codes[i] == CODE_A && codes[i + 1] == CODE_T && codes[i + 2] == CODE_G;
}

}  // namespace

// Thirty-two candidate positions per step: three shifted loads compared with
// A, T and G, the first set bit of their conjunction is the answer.
ENGINE_EXPORT std::int32_t bio_find_atg(const std::uint8_t *codes, std::int32_t n) {
    if (n <= 2) return -1;
    const __m256i a = _mm256_set1_epi8(CODE_A), t = _mm256_set1_epi8(CODE_T),
                  g = _mm256_set1_epi8(CODE_G);
    std::int32_t i = 0;
    for (; i + 34 <= n; i += 32) {
        const auto *p = codes + i;
        const __m256i hit = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)), a),
            _mm256_and_si256(
                _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 1)), t),
                _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 2)), g)));
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
        if (mask) return i + static_cast<std::int32_t>(__builtin_ctz(mask));
    }
    for (; i + 2 < n; ++i)
        if (atg_at(codes, i)) return i;
    return -1;
}

ENGINE_EXPORT void bio_translate(const std::uint8_t *table, const std::uint8_t *codes,
                                 std::int32_t n_codons, std::uint8_t *out_buf) {
    for (std::int32_t k = 0; k < n_codons; ++k) {
        const std::uint8_t *codon = codes + 3 * static_cast<std::int64_t>(k);
        const unsigned index = 16u * codon[0] + 4u * codon[1] + codon[2];
        out_buf[k] = index > 63 ? engine::RC_UNKNOWN : table[index];
    }
}
