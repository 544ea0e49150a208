// Thin typed wrappers over 256-bit AVX2 vectors for the banded kernels: one
// per lane width, with the same members, so that one kernel template serves
// both. Masks are lanes of all ones (true) or all zeros (false).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace engine {

#define ENGINE_LANES_INLINE [[gnu::always_inline]] static inline

// 16 lanes of signed 16-bit scores.
struct Lanes16 {
    using Score = std::int16_t;
    static constexpr int kLanes = 16;
    static constexpr Score kMarker = -16384;  // NEG_INF16: unreachable cell

    ENGINE_LANES_INLINE __m256i splat(std::int32_t x) {
        return _mm256_set1_epi16(static_cast<Score>(x));
    }
    ENGINE_LANES_INLINE __m256i load(const Score *p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    ENGINE_LANES_INLINE void store(Score *p, __m256i v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
    }
    // Saturating, so the marker plus a negative gap stays at or below the
    // marker instead of wrapping to a large score.
    ENGINE_LANES_INLINE __m256i add(__m256i a, __m256i b) { return _mm256_adds_epi16(a, b); }
    ENGINE_LANES_INLINE __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    ENGINE_LANES_INLINE __m256i max(__m256i a, __m256i b) { return _mm256_max_epi16(a, b); }
    ENGINE_LANES_INLINE __m256i greater(__m256i a, __m256i b) { return _mm256_cmpgt_epi16(a, b); }

    // [s, x0 .. x14]: the lanes moved up by one, s entering lane 0.
    ENGINE_LANES_INLINE __m256i shift_up(__m256i x, Score s) {
        const __m256i s_then_low = _mm256_permute2x128_si256(_mm256_set1_epi16(s), x, 0x20);
        return _mm256_alignr_epi8(x, s_then_low, 14);
    }
    // [x1 .. x15, s]: the lanes moved down by one, s entering the last lane.
    ENGINE_LANES_INLINE __m256i shift_down(__m256i x, Score s) {
        const __m256i high_then_s = _mm256_permute2x128_si256(x, _mm256_set1_epi16(s), 0x21);
        return _mm256_alignr_epi8(high_then_s, x, 2);
    }

    // Mask of the lanes whose codes are equal: lane l compares a[l] with
    // b_back[15 - l], that is A forwards against B backwards. The bytes are
    // compared before widening, and B is reversed with one byte shuffle.
    ENGINE_LANES_INLINE __m256i equal_codes(const std::uint8_t *a, const std::uint8_t *b_back) {
        const __m128i reverse = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        const __m128i ca = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a));
        const __m128i cb = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(b_back)), reverse);
        return _mm256_cvtepi8_epi16(_mm_cmpeq_epi8(ca, cb));
    }

    // The 16 lanes (each 0, 1 or 2) as 16 consecutive bytes.
    ENGINE_LANES_INLINE void store_codes(std::uint8_t *dst, __m256i codes) {
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(codes),
                                               _mm256_extracti128_si256(codes, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), bytes);
    }
};

// 8 lanes of signed 32-bit scores.
struct Lanes32 {
    using Score = std::int32_t;
    static constexpr int kLanes = 8;
    static constexpr Score kMarker = -1073741824;  // NEG_INF: unreachable cell

    ENGINE_LANES_INLINE __m256i splat(std::int32_t x) { return _mm256_set1_epi32(x); }
    ENGINE_LANES_INLINE __m256i load(const Score *p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    ENGINE_LANES_INLINE void store(Score *p, __m256i v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
    }
    // Wrapping; the marker (-2^30) plus any gap the scores' range admits
    // stays between -2^31 and the marker.
    ENGINE_LANES_INLINE __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    ENGINE_LANES_INLINE __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
    ENGINE_LANES_INLINE __m256i max(__m256i a, __m256i b) { return _mm256_max_epi32(a, b); }
    ENGINE_LANES_INLINE __m256i greater(__m256i a, __m256i b) { return _mm256_cmpgt_epi32(a, b); }

    // As in Lanes16, over 8 lanes of 32 bits.
    ENGINE_LANES_INLINE __m256i shift_up(__m256i x, Score s) {
        const __m256i s_then_low = _mm256_permute2x128_si256(_mm256_set1_epi32(s), x, 0x20);
        return _mm256_alignr_epi8(x, s_then_low, 12);
    }
    ENGINE_LANES_INLINE __m256i shift_down(__m256i x, Score s) {
        const __m256i high_then_s = _mm256_permute2x128_si256(x, _mm256_set1_epi32(s), 0x21);
        return _mm256_alignr_epi8(high_then_s, x, 4);
    }

    // As Lanes16::equal_codes over 8 codes.
    ENGINE_LANES_INLINE __m256i equal_codes(const std::uint8_t *a, const std::uint8_t *b_back) {
        const __m128i reverse = _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m128i ca = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(a));
        const __m128i cb =
            _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(b_back)), reverse);
        return _mm256_cvtepi8_epi32(_mm_cmpeq_epi8(ca, cb));
    }

    // The 8 lanes (each 0, 1 or 2) as 8 consecutive bytes.
    ENGINE_LANES_INLINE void store_codes(std::uint8_t *dst, __m256i codes) {
        const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(codes),
                                              _mm256_extracti128_si256(codes, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_packus_epi16(words, words));
    }
};

#undef ENGINE_LANES_INLINE

}  // namespace engine
