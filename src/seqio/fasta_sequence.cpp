#include "seqio/fasta_sequence.h"

#include <immintrin.h>

#include <cstring>

#include "seqio/byte_masks.h"

namespace engine {

namespace {

constexpr std::int64_t BLOCK = MASK_BLOCK;

inline void copy_64(const std::uint8_t *src, std::uint8_t *dst) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32), hi);
}

// Copies the bytes of the block whose bits are set in `kept`, in order, to
// dst, one 64-byte copy per run of kept bytes. `block` must be readable for
// 127 bytes. Returns the end of the copied bytes.
inline std::uint8_t *copy_kept(const std::uint8_t *block, std::uint64_t kept, std::uint8_t *dst) {
    while (kept) {
        const int start = __builtin_ctzll(kept);
        const std::uint64_t past_run = kept + (kept & -kept);  // clears the lowest run of ones
        const int stop = past_run ? __builtin_ctzll(past_run) : 64;
        copy_64(block + start, dst);
        dst += stop - start;
        kept &= past_run;
    }
    return dst;
}

template <bool kCopy>
FastaSequence walk(const char *p, const char *end, std::uint8_t *dst) {
    std::int64_t residues = 0;
    std::uint64_t line_start_carry = 1;  // p starts a line
    alignas(32) std::uint8_t tail[2 * BLOCK];
    while (p < end) {
        const std::int64_t left = end - p;
        const std::int64_t valid = left < BLOCK ? left : BLOCK;
        // Runs are copied 64 bytes at a time from anywhere in the block, so
        // near the text end the bytes come from a padded copy.
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(p);
        if (left < 2 * BLOCK) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, p, static_cast<std::size_t>(left));
            bytes = tail;
        }
        const TextBlock block = load_block(bytes);
        const std::uint64_t lf = byte_mask(block, '\n');
        const std::uint64_t cr = byte_mask(block, '\r');
        const std::uint64_t gt = byte_mask(block, '>');

        const std::uint64_t in_text = valid == BLOCK ? ~std::uint64_t{0} : (std::uint64_t{1} << valid) - 1;
        // The last byte of the block is followed by a line feed or by the
        // end of the text: a carriage return there is dropped.
        const bool last_before_lf_or_end = valid < BLOCK || left == BLOCK || p[BLOCK] == '\n';
        const std::uint64_t last_bit = last_before_lf_or_end ? std::uint64_t{1} << (valid - 1) : 0;
        const std::uint64_t line_ends = lf | (cr & ((lf >> 1) | last_bit));
        const std::uint64_t line_starts = ((lf << 1) | line_start_carry) & in_text;
        const std::uint64_t next_record = gt & line_starts;

        const std::uint64_t mine = next_record ? (next_record & -next_record) - 1 : in_text;
        const std::uint64_t kept = mine & ~line_ends;
        residues += __builtin_popcountll(kept);
        if constexpr (kCopy) dst = copy_kept(bytes, kept, dst);
        if (next_record) return {p + __builtin_ctzll(next_record), residues};
        line_start_carry = lf >> 63;
        p += valid;
    }
    return {end, residues};
}

}  // namespace

FastaSequence measure_fasta_sequence(const char *p, const char *end) {
    return walk<false>(p, end, nullptr);
}

FastaSequence gather_fasta_sequence(const char *p, const char *end, std::uint8_t *dst) {
    return walk<true>(p, end, dst);
}

}  // namespace engine
