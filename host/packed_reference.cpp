#include "packed_reference.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace bioeng {

namespace {

constexpr int64_t BASES_PER_BYTE = 4;
constexpr uint8_t BASE_MASK = 3;
constexpr uint8_t LARGEST_BASE = 3; // codes above it are kept as runs

// The four codes of every packed byte, so that whole bytes decode with one
// copy instead of four shifts.
using Quad = std::array<uint8_t, BASES_PER_BYTE>;
constexpr std::array<Quad, 256> make_decode_table() {
    std::array<Quad, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int j = 0; j < BASES_PER_BYTE; ++j) t[size_t(b)][size_t(j)] = uint8_t((b >> (2 * j)) & BASE_MASK);
    return t;
}
constexpr std::array<Quad, 256> DECODE = make_decode_table();

uint8_t base_at(const uint8_t *bases, int64_t i) {
    return uint8_t((bases[i / BASES_PER_BYTE] >> (2 * (i % BASES_PER_BYTE))) & BASE_MASK);
}

} // namespace

PackedReference::PackedReference(const uint8_t *codes, int64_t n) : size_(std::max<int64_t>(n, 0)) {
    const size_t whole = size_t(size_ / BASES_PER_BYTE);
    const size_t bytes = size_t((size_ + BASES_PER_BYTE - 1) / BASES_PER_BYTE);
    bases_.resize(bytes);
    // Codes above 3 are packed as whatever their low bits are: extract
    // writes their runs over them.
    for (size_t b = 0; b < whole; ++b) {
        const uint8_t *c = codes + b * BASES_PER_BYTE;
        bases_[b] = uint8_t((c[0] & BASE_MASK) | (c[1] & BASE_MASK) << 2 | (c[2] & BASE_MASK) << 4 |
                            (c[3] & BASE_MASK) << 6);
    }
    if (whole < bytes) {
        uint8_t last = 0;
        for (int64_t i = int64_t(whole) * BASES_PER_BYTE; i < size_; ++i)
            last |= uint8_t((codes[i] & BASE_MASK) << (2 * (i % BASES_PER_BYTE)));
        bases_[whole] = last;
    }
    add_runs(codes, size_);
}

void PackedReference::add_runs(const uint8_t *codes, int64_t n) {
    constexpr int64_t RUN_MAX = std::numeric_limits<uint32_t>::max();
    auto other = [](uint8_t c) { return c > LARGEST_BASE; };
    for (int64_t i = 0; i < n;) {
        i = std::find_if(codes + i, codes + n, other) - codes;
        if (i == n) break;
        int64_t j = i + 1;
        while (j < n && codes[j] == codes[i] && j - i < RUN_MAX) ++j;
        runs_.push_back(Run{i, uint32_t(j - i), codes[i]});
        i = j;
    }
    runs_.shrink_to_fit();
}

size_t PackedReference::memory_bytes() const {
    return bases_.capacity() + runs_.capacity() * sizeof(Run);
}

void PackedReference::extract(int64_t start, int64_t len, uint8_t *out) const {
    if (len <= 0) return;
    const uint8_t *bases = bases_.data();
    const int64_t end = start + len;
    int64_t i = start;
    uint8_t *o = out;
    for (; i < end && i % BASES_PER_BYTE != 0; ++i) *o++ = base_at(bases, i);
    for (; i + BASES_PER_BYTE <= end; i += BASES_PER_BYTE, o += BASES_PER_BYTE)
        std::memcpy(o, DECODE[bases[i / BASES_PER_BYTE]].data(), BASES_PER_BYTE);
    for (; i < end; ++i) *o++ = base_at(bases, i);
    patch_runs(start, len, out);
}

void PackedReference::extract(int64_t start, int64_t len, std::vector<uint8_t> &out) const {
    out.resize(size_t(std::max<int64_t>(len, 0)));
    extract(start, len, out.data());
}

// Runs are sorted and disjoint, so their ends are sorted too: the first run
// reaching into the range is found by binary search.
void PackedReference::patch_runs(int64_t start, int64_t len, uint8_t *out) const {
    const int64_t end = start + len;
    auto r = std::partition_point(runs_.begin(), runs_.end(),
                                  [start](const Run &run) { return run.start + int64_t(run.len) <= start; });
    for (; r != runs_.end() && r->start < end; ++r) {
        int64_t from = std::max(r->start, start);
        int64_t to = std::min(r->start + int64_t(r->len), end);
        std::memset(out + (from - start), r->code, size_t(to - from));
    }
}

} // namespace bioeng
