#include "seqio/pack5.h"

#include <immintrin.h>

#include <cstring>

#include "core/export.h"
#include "engine.h"

namespace {

// The 16-bit window holding the five bits of code i: byte p/8 in the high
// byte, the next byte (when the code reaches into it) in the low byte.
inline std::uint32_t code_at(const std::uint8_t *packed, std::uint32_t i, bool may_read_next) {
    const std::uint32_t p = 5 * i;
    const std::uint32_t b = p / 8;
    const std::uint32_t shift = 11 - (p % 8);
    std::uint32_t v = static_cast<std::uint32_t>(packed[b]) << 8;
    if (p % 8 >= 4 && may_read_next) v |= packed[b + 1];
    return (v >> shift) & 31u;
}

}  // namespace

ENGINE_EXPORT void bio_pack5(const std::uint8_t *codes, std::int32_t n,
                             std::uint8_t *out_buf) {
    if (n < 0) n = 0;  // a negative count packs nothing rather than clearing memory
    std::memset(out_buf, 0, static_cast<std::size_t>(engine::packed_bytes(n)) + 1);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t p = 5u * static_cast<std::uint32_t>(i);
        const std::uint32_t v = static_cast<std::uint32_t>(codes[i] & 31u) << (11 - p % 8);
        out_buf[p / 8] |= static_cast<std::uint8_t>(v >> 8);
        if (p % 8 >= 4) out_buf[p / 8 + 1] |= static_cast<std::uint8_t>(v);
    }
}

ENGINE_EXPORT void bio_unpack5(const std::uint8_t *packed, std::int32_t n, std::uint8_t *out_buf) {
    if (n <= 0) return;
    const std::uint32_t data_bytes = static_cast<std::uint32_t>(engine::packed_bytes(n));
    // Eight codes are five whole bytes. Their 40 bits, read big-endian, are
    // spread five to a byte with one bit deposit, which leaves the last code
    // in the lowest byte, so a byte swap puts them in order. This reads eight
    // bytes at a time and so stops where fewer than eight are left; the rest
    // go code by code.
    std::int32_t i = 0;
    constexpr std::uint64_t FIVE_BITS_PER_BYTE = 0x1F1F1F1F1F1F1F1Full;
    for (std::uint32_t b = 0; b + 8 <= data_bytes && i + 8 <= n; b += 5, i += 8) {
        std::uint64_t word;
        std::memcpy(&word, packed + b, sizeof word);
        const std::uint64_t bits = __builtin_bswap64(word) >> 24;
        const std::uint64_t codes = __builtin_bswap64(_pdep_u64(bits, FIVE_BITS_PER_BYTE));
        std::memcpy(out_buf + i, &codes, sizeof codes);
    }
    for (; i < n; ++i) {
        const std::uint32_t b = 5u * static_cast<std::uint32_t>(i) / 8;
        out_buf[i] = static_cast<std::uint8_t>(
            code_at(packed, static_cast<std::uint32_t>(i), b + 1 < data_bytes));
    }
}

ENGINE_EXPORT std::int32_t bio_getitem5(const std::uint8_t *packed, std::uint32_t i) {
    return static_cast<std::int32_t>(code_at(packed, i, true));
}

