// (w,k)-minimizers: every k-mer position gets a hash (the smaller of its
// forward and reverse-complement hashes) in one pass, then a sliding-window
// minimum picks the leftmost smallest hash of every window of w positions.
#include "map/minimizers.h"

#include <cstdint>

#include "core/buffer.h"
#include "core/export.h"
#include "engine.h"

namespace engine {

int _cmp_min(const void *a, const void *b) {
    const std::uint64_t ha = static_cast<const min_rec_t *>(a)->hash;
    const std::uint64_t hb = static_cast<const min_rec_t *>(b)->hash;
    return (ha > hb) - (ha < hb);
}

namespace {

// Positions hashed per block: the rolling 2-bit values of a block are
// collected first so that the hashing loop has no dependency between
// positions and vectorises.
constexpr std::int64_t HASH_BLOCK = 256;

// Invertible integer hash cut to the k-mer's 2k bits; every step that can
// carry above bit 2k is masked, so the right shifts only see k-mer bits.
inline std::uint64_t hash_kmer(std::uint64_t x, std::uint64_t mask) {
    x = (~x + (x << 21)) & mask;
    x = x ^ (x >> 24);
    x = (x * 265) & mask;
    x = x ^ (x >> 14);
    x = (x * 21) & mask;
    x = x ^ (x >> 28);
    x = (x + (x << 31)) & mask;
    return x;
}

// value[i], strand[i] for the n = seq_len - k + 1 k-mer positions.
void hash_positions(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k,
                    std::uint64_t *value, std::uint8_t *strand) {
    RollingKmer kmer(k);
    for (std::int32_t i = 0; i < k - 1; ++i) kmer.push(seq[i]);
    const std::uint64_t mask = kmer.mask;
    const std::int64_t n = seq_len - k + 1;
    std::uint64_t fwd[HASH_BLOCK];
    std::uint64_t rc[HASH_BLOCK];
    std::uint8_t valid[HASH_BLOCK];
    for (std::int64_t start = 0; start < n; start += HASH_BLOCK) {
        const std::int64_t len = n - start < HASH_BLOCK ? n - start : HASH_BLOCK;
        const std::uint8_t *codes = seq + start + k - 1;
        for (std::int64_t j = 0; j < len; ++j) {
            kmer.push(codes[j]);
            fwd[j] = kmer.fwd;
            rc[j] = kmer.rc;
            valid[j] = kmer.valid();
        }
        std::uint64_t *value_out = value + start;
        std::uint8_t *strand_out = strand + start;
        for (std::int64_t j = 0; j < len; ++j) {
            const std::uint64_t hf = hash_kmer(fwd[j], mask);
            const std::uint64_t hr = hash_kmer(rc[j], mask);
            const bool reverse = hr < hf;  // a palindrome keeps the forward strand
            const std::uint64_t h = reverse ? hr : hf;
            value_out[j] = valid[j] ? h : MINIMIZER_INVALID;
            strand_out[j] = static_cast<std::uint8_t>(valid[j] & reverse);
        }
    }
}

struct MinimizerOut {
    std::uint64_t *hash;
    std::int64_t *pos;
    std::uint8_t *strand;
    std::int64_t count = 0;

    void write(const std::uint64_t *value, const std::uint8_t *strand_of, std::int64_t j) {
        hash[count] = value[j];
        pos[count] = j;
        strand[count] = strand_of[j];
        ++count;
    }
};

// Fewer positions than one window: the leftmost smallest hash of them all.
void select_single(const std::uint64_t *value, const std::uint8_t *strand, std::int64_t n,
                   MinimizerOut &out) {
    std::int64_t best = 0;
    for (std::int64_t j = 1; j < n; ++j) {
        if (value[j] < value[best]) best = j;
    }
    if (value[best] != MINIMIZER_INVALID) out.write(value, strand, best);
}

// Positions of the current window whose hash is smaller than every hash to
// their right within the window (equal hashes stay, so the front is always
// the leftmost minimum). Held in a ring of w slots.
class WindowMinimum {
public:
    WindowMinimum(const std::uint64_t *value, std::int64_t *ring, std::int64_t w)
        : value_(value), ring_(ring), cap_(w) {}

    // Slides the window to end at p (its start is p - w + 1).
    void advance(std::int64_t p) {
        if (size_ > 0 && ring_[head_] <= p - cap_) pop_front();
        const std::uint64_t v = value_[p];
        while (size_ > 0 && value_[back()] > v) --size_;
        std::int64_t slot = head_ + size_;
        if (slot >= cap_) slot -= cap_;
        ring_[slot] = p;
        ++size_;
    }
    std::int64_t front() const { return ring_[head_]; }

private:
    std::int64_t back() const {
        std::int64_t slot = head_ + size_ - 1;
        return ring_[slot >= cap_ ? slot - cap_ : slot];
    }
    void pop_front() {
        if (++head_ == cap_) head_ = 0;
        --size_;
    }

    const std::uint64_t *value_;
    std::int64_t *ring_;
    std::int64_t cap_;
    std::int64_t head_ = 0;
    std::int64_t size_ = 0;
};

// One window per start s = 0 .. n - w; a window writes its leftmost minimum
// unless it was the position written last or it is invalid. The result is
// the same as rescanning each window, at constant amortised cost.
void select_sliding(const std::uint64_t *value, const std::uint8_t *strand, std::int64_t n,
                    std::int64_t w, std::int64_t *ring, MinimizerOut &out) {
    WindowMinimum window(value, ring, w);
    for (std::int64_t p = 0; p < w - 1; ++p) window.advance(p);
    std::int64_t last = -1;
    for (std::int64_t p = w - 1; p < n; ++p) {
        window.advance(p);
        const std::int64_t j = window.front();
        if (j != last && value[j] != MINIMIZER_INVALID) {
            out.write(value, strand, j);
            last = j;
        }
    }
}

}  // namespace
}  // namespace engine

ENGINE_EXPORT int64_t bio_minimizers(const uint8_t *seq, int64_t seq_len, int32_t k, int32_t w,
                                     uint64_t *out_hash, int64_t *out_pos, uint8_t *out_strand) {
    using namespace engine;
    if (k < 1 || k > MAX_K || w < 1) return -1;
    const std::int64_t n = seq_len - k + 1;
    if (n <= 0) return 0;
    // The window ring (w positions, only needed when w <= n) shares the
    // value array's reservation.
    const std::int64_t ring_len = w <= n ? w : 0;
    Buffer<std::uint64_t> value;
    Buffer<std::uint8_t> strand;
    if (!value.allocate(static_cast<std::size_t>(n + ring_len))) return -1;
    if (!strand.allocate(static_cast<std::size_t>(n))) return -1;
    hash_positions(seq, seq_len, k, value.data(), strand.data());
    MinimizerOut out{out_hash, out_pos, out_strand};
    if (w > n) {
        select_single(value.data(), strand.data(), n, out);
    } else {
        auto *ring = reinterpret_cast<std::int64_t *>(value.data() + n);
        select_sliding(value.data(), strand.data(), n, w, ring, out);
    }
    return out.count;
}
