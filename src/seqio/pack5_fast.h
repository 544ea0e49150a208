// Whole-record conversion and packing for the batch parsers: the same bytes
// as convert_letters followed by bio_pack5, produced with vector lookups and
// eight codes per bit-extract instead of one table load and one shift per
// byte. Sizes are 64-bit, so records beyond the 32-bit arithmetic of
// bio_pack5 are packed correctly as well.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "seqio/codes.h"

namespace engine {

// A 256-entry letter table as sixteen 16-byte rows, one per high nibble,
// looked up 32 bytes at a time with byte shuffles. Rows whose sixteen
// entries all equal the most common uniform value are not looked up: for
// the letter tables that leaves five rows (punctuation, upper and lower
// case letters).
class LetterConverter {
public:
    explicit LetterConverter(const ByteTable &table);

    // dst[i] = table[src[i]] for i < n; dst may equal src.
    void convert(const std::uint8_t *src, std::size_t n, std::uint8_t *dst) const;

private:
    const ByteTable &table_;
    __m256i rows_[16];
    std::uint8_t row_nibble_[16];
    int n_rows_ = 0;
    std::uint8_t fill_ = 0;
};

// Same bytes as bio_pack5(codes, n, out): (5n + 7) / 8 data bytes and one
// zero byte after them; nothing beyond is written.
void pack5_fast(const std::uint8_t *codes, std::size_t n, std::uint8_t *out);

}  // namespace engine
