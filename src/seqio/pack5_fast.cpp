#include "seqio/pack5_fast.h"

#include <cstring>

#include "seqio/pack5.h"

namespace engine {

namespace {

bool row_is_uniform(const ByteTable &table, int nibble) {
    for (int lo = 1; lo < 16; ++lo)
        if (table[16 * nibble + lo] != table[16 * nibble]) return false;
    return true;
}

// The value shared by most uniform rows; the rows holding it need no lookup.
std::uint8_t most_common_uniform_value(const ByteTable &table) {
    int best_count = 0;
    std::uint8_t best = table[0];
    for (int h = 0; h < 16; ++h) {
        if (!row_is_uniform(table, h)) continue;
        int count = 0;
        for (int g = 0; g < 16; ++g) count += row_is_uniform(table, g) && table[16 * g] == table[16 * h];
        if (count > best_count) {
            best_count = count;
            best = table[16 * h];
        }
    }
    return best;
}

}  // namespace

LetterConverter::LetterConverter(const ByteTable &table) : table_(table) {
    fill_ = most_common_uniform_value(table);
    for (int h = 0; h < 16; ++h) {
        if (row_is_uniform(table, h) && table[16 * h] == fill_) continue;
        const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i *>(table.data() + 16 * h));
        rows_[n_rows_] = _mm256_broadcastsi128_si256(row);
        row_nibble_[n_rows_] = static_cast<std::uint8_t>(h);
        ++n_rows_;
    }
}

void LetterConverter::convert(const std::uint8_t *src, std::size_t n, std::uint8_t *dst) const {
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i fill = _mm256_set1_epi8(static_cast<char>(fill_));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
        const __m256i lo = _mm256_and_si256(bytes, low_nibble);
        const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low_nibble);
        __m256i out = fill;
        for (int r = 0; r < n_rows_; ++r) {
            const __m256i in_row = _mm256_cmpeq_epi8(hi, _mm256_set1_epi8(static_cast<char>(row_nibble_[r])));
            out = _mm256_blendv_epi8(out, _mm256_shuffle_epi8(rows_[r], lo), in_row);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), out);
    }
    for (; i < n; ++i) dst[i] = table_[src[i]];
}

namespace {

constexpr std::uint64_t LOW_FIVE_BITS = 0x1F1F1F1F1F1F1F1FULL;

// Eight codes -> 40 stream bits, first code in the top bits, written as five
// big-endian bytes followed by three zero bytes (eight bytes stored).
inline void pack_eight(const std::uint8_t *codes, std::uint8_t *out) {
    std::uint64_t word;
    std::memcpy(&word, codes, 8);
    const std::uint64_t bits = _pext_u64(__builtin_bswap64(word), LOW_FIVE_BITS);
    const std::uint64_t stream = __builtin_bswap64(bits << 24);
    std::memcpy(out, &stream, 8);
}

}  // namespace

void pack5_fast(const std::uint8_t *codes, std::size_t n, std::uint8_t *out) {
    std::size_t i = 0;
    // Each group stores three bytes past its own five; with 16 codes left
    // those bytes still lie inside the record's packed bytes.
    for (; i + 16 <= n; i += 8) pack_eight(codes + i, out + i / 8 * 5);
    // The last 8 to 15 codes: pack zero-padded copies and keep the data
    // bytes plus the one zero byte after them.
    std::uint8_t tail_codes[16] = {};
    std::uint8_t tail_out[24];
    const std::size_t rest = n - i;
    if (rest) std::memcpy(tail_codes, codes + i, rest);
    pack_eight(tail_codes, tail_out);
    pack_eight(tail_codes + 8, tail_out + 5);
    std::memcpy(out + i / 8 * 5, tail_out, static_cast<std::size_t>(packed_bytes64(static_cast<std::int64_t>(rest))) + 1);
}

}  // namespace engine
