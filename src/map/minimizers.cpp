// (w,k)-minimizers: every k-mer position gets a hash (the smaller of its
// forward and reverse-complement hashes), and a sliding-window minimum picks
// the leftmost smallest hash of every window of w positions. Both run a
// block of positions at a time over a small ring, in one pass.
#include "map/minimizers.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

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

// Radix sort of minimizer records: least significant digit first, each pass
// a stable counting sort that moves the records between the three parallel
// arrays and the record array.
constexpr int RADIX_MAX_BITS = 11;

struct RadixDigits {
    int passes = 0;
    int bits = 0;  // per pass; the last pass may use fewer

    static RadixDigits for_keys(const std::uint64_t *hash, std::int64_t count) {
        std::uint64_t all = 0;
        for (std::int64_t i = 0; i < count; ++i) all |= hash[i];
        const int key_bits = all == 0 ? 1 : 64 - __builtin_clzll(all);
        RadixDigits d;
        d.passes = (key_bits + RADIX_MAX_BITS - 1) / RADIX_MAX_BITS;
        d.bits = (key_bits + d.passes - 1) / d.passes;
        return d;
    }
    std::size_t digit(std::uint64_t h, int pass) const {
        return static_cast<std::size_t>((h >> (pass * bits)) & ((std::uint64_t{1} << bits) - 1));
    }
};

// Starting slot of every digit value of one pass.
void digit_starts(const std::int64_t *counts, std::size_t buckets, std::int64_t *starts) {
    std::int64_t at = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        starts[b] = at;
        at += counts[b];
    }
}

}  // namespace

void sort_minimizers_by_hash(std::uint64_t *hash, std::int64_t *pos, std::uint8_t *strand,
                             std::int64_t count, min_rec_t *records) {
    const RadixDigits d = RadixDigits::for_keys(hash, count);
    constexpr std::size_t MAX_BUCKETS = std::size_t{1} << RADIX_MAX_BITS;
    const std::size_t buckets = std::size_t{1} << d.bits;
    std::int64_t counts[MAX_BUCKETS];
    std::int64_t next[MAX_BUCKETS];
    bool in_records = false;
    for (int pass = 0; pass < d.passes; ++pass) {
        std::fill(counts, counts + buckets, 0);
        if (in_records) {
            for (std::int64_t i = 0; i < count; ++i) ++counts[d.digit(records[i].hash, pass)];
        } else {
            for (std::int64_t i = 0; i < count; ++i) ++counts[d.digit(hash[i], pass)];
        }
        digit_starts(counts, buckets, next);
        if (in_records) {
            for (std::int64_t i = 0; i < count; ++i) {
                const std::int64_t to = next[d.digit(records[i].hash, pass)]++;
                hash[to] = records[i].hash;
                pos[to] = records[i].pos;
                strand[to] = records[i].strand;
            }
        } else {
            for (std::int64_t i = 0; i < count; ++i) {
                records[next[d.digit(hash[i], pass)]++] = min_rec_t{hash[i], pos[i], strand[i]};
            }
        }
        in_records = !in_records;
    }
    if (!in_records) {
        for (std::int64_t i = 0; i < count; ++i) records[i] = min_rec_t{hash[i], pos[i], strand[i]};
    }
}

namespace {

// Positions hashed per block: the 2-bit k-mers of a block are collected
// first so that the hashing loop has no dependency between positions and
// vectorises.
constexpr std::int64_t HASH_BLOCK = 256;

// Invertible integer hash cut to the k-mer's 2k bits; every step that can
// carry above bit 2k is masked, so the right shifts only see k-mer bits.
// The low 32 bits of a sum, product or left shift depend only on the low 32
// bits of its operands, so for 2k <= 32 the hash computed in 32-bit words is
// the same value, and a vector holds twice as many of them.
template <class Word>
inline Word hash_kmer(Word x, Word mask) {
    x = (~x + (x << 21)) & mask;
    x = x ^ (x >> 24);
    x = (x * 265) & mask;
    x = x ^ (x >> 14);
    x = (x * 21) & mask;
    x = x ^ (x >> 28);
    x = (x + (x << 31)) & mask;
    return x;
}

// Largest k whose k-mers fit in 32 bits.
constexpr std::int32_t MAX_K_32 = 16;

// Reverse complement of the 2-bit k-mer x (k <= 16): its 2-bit groups
// complemented and reversed; the groups above the k-mer's 2k bits end up
// in the low bits and are shifted out.
inline std::uint32_t reverse_complement32(std::uint32_t x, std::int32_t k) {
    x = __builtin_bswap32(~x);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    return x >> (32 - 2 * k);
}

// Hashes of the next block of k-mer positions for k <= 16: `codes` are the
// codes that end them, one per position; the k - 1 codes before `codes` are
// read too (the callers always hold them: they start the block's first
// k-mer). The hash in 32-bit words is the 64-bit one (see hash_kmer).
//
// No position depends on the one before, so every loop vectorises. The
// k-mer ending at a code is assembled from power-of-two pieces (2-mers from
// adjacent codes, 4-mers from adjacent 2-mers, ...), the oldest piece first
// along the binary digits of k; it is valid when none of its codes is
// above 3.
void hash_block_short_k(std::int32_t k, const std::uint8_t *codes, std::int64_t len,
                        std::uint64_t *value, std::uint8_t *strand) {
    constexpr int LEVELS = 5;  // pieces of 1 to 16 codes
    constexpr std::int64_t HISTORY = MAX_K_32 - 1;
    constexpr std::int64_t SPAN = HISTORY + HASH_BLOCK;
    // piece[b][i]: the 2^b codes ending at entry i (entry HISTORY is
    // codes[0]), bad[b][i]: whether one of them is above 3. Entries before a
    // piece's first full one are never read.
    std::uint32_t piece[LEVELS][SPAN];
    std::uint8_t bad[LEVELS][SPAN];
    const std::int64_t from = HISTORY - (k - 1);  // entry of the block's oldest code
    for (std::int64_t i = from; i < HISTORY + len; ++i) {
        const std::uint8_t c = codes[i - HISTORY];
        piece[0][i] = c & 3u;
        bad[0][i] = c > 3;
    }
    int levels = 1;
    for (; (std::int32_t{1} << levels) <= k; ++levels) {
        const std::int64_t half = std::int64_t{1} << (levels - 1);
        const int shift = 2 * static_cast<int>(half);
        for (std::int64_t i = from + 2 * half - 1; i < HISTORY + len; ++i) {
            piece[levels][i] = (piece[levels - 1][i - half] << shift) | piece[levels - 1][i];
            bad[levels][i] = bad[levels - 1][i - half] | bad[levels - 1][i];
        }
    }
    std::uint32_t fwd[HASH_BLOCK];
    std::uint8_t invalid[HASH_BLOCK];
    std::fill(fwd, fwd + len, 0u);
    std::fill(invalid, invalid + len, std::uint8_t{0});
    std::int64_t after = k;  // codes of the k-mer after the pieces so far
    for (int b = levels - 1; b >= 0; --b) {
        const std::int64_t size = std::int64_t{1} << b;
        if ((k & size) == 0) continue;
        after -= size;
        const std::uint32_t *p = piece[b] + HISTORY - after;
        const std::uint8_t *q = bad[b] + HISTORY - after;
        const int shift = 2 * static_cast<int>(after);
        for (std::int64_t j = 0; j < len; ++j) {
            fwd[j] |= p[j] << shift;
            invalid[j] |= q[j];
        }
    }
    const auto mask = static_cast<std::uint32_t>(kmer_mask(k));
    for (std::int64_t j = 0; j < len; ++j) {
        const std::uint32_t hf = hash_kmer(fwd[j], mask);
        const std::uint32_t hr = hash_kmer(reverse_complement32(fwd[j], k), mask);
        const bool reverse = hr < hf;  // a palindrome keeps the forward strand
        const std::uint64_t h = reverse ? hr : hf;
        value[j] = invalid[j] ? MINIMIZER_INVALID : h;
        strand[j] = static_cast<std::uint8_t>(!invalid[j] & reverse);
    }
}

// The same values for any k, rolling the k-mers one code at a time from the
// k - 1 codes before the block (in 64-bit words the pieces above cost more
// than they save). An unknown code enters as its low two bits
// and only marks the k-mers holding it invalid, so that the two rolling
// values, one operation or two per code, are all that carries from one
// position to the next.
void hash_block_rolling(std::int32_t k, const std::uint8_t *codes, std::int64_t len,
                        std::uint64_t *value, std::uint8_t *strand) {
    const std::uint64_t mask = kmer_mask(k);
    const unsigned top = static_cast<unsigned>(2 * k - 2);
    std::uint64_t fwd[HASH_BLOCK];
    std::uint64_t rc[HASH_BLOCK];
    std::uint8_t valid[HASH_BLOCK];
    std::uint64_t f = 0, r = 0;
    std::int64_t last_bad = -k;  // position of the last unknown code
    for (std::int64_t j = -(k - 1); j < 0; ++j) {
        const std::uint8_t c = codes[j];
        f = (f << 2) | (c & 3u);
        r = (r >> 2) | (static_cast<std::uint64_t>(3u - (c & 3u)) << top);
        if (c > 3) last_bad = j;
    }
    for (std::int64_t j = 0; j < len; ++j) {
        const std::uint8_t c = codes[j];
        f = (f << 2) | (c & 3u);
        r = (r >> 2) | (static_cast<std::uint64_t>(3u - (c & 3u)) << top);
        last_bad = c > 3 ? j : last_bad;
        fwd[j] = f & mask;
        rc[j] = r;
        valid[j] = j - last_bad >= k;
    }
    for (std::int64_t j = 0; j < len; ++j) {
        const std::uint64_t hf = hash_kmer(fwd[j], mask);
        const std::uint64_t hr = hash_kmer(rc[j], mask);
        const bool reverse = hr < hf;  // a palindrome keeps the forward strand
        const std::uint64_t h = reverse ? hr : hf;
        value[j] = valid[j] ? h : MINIMIZER_INVALID;
        strand[j] = static_cast<std::uint8_t>(valid[j] & reverse);
    }
}

void hash_block(std::int32_t k, const std::uint8_t *codes, std::int64_t len, std::uint64_t *value,
                std::uint8_t *strand) {
    if (k <= MAX_K_32)
        hash_block_short_k(k, codes, len, value, strand);
    else
        hash_block_rolling(k, codes, len, value, strand);
}

// Hash and strand of the most recent k-mer positions: position p lives in
// slot p & mask. The ring holds a window plus a block, so hashing a block
// never overwrites a position a window still needs, and only this much of
// the working arrays is ever touched.
struct PositionRing {
    std::uint64_t *value;
    std::uint8_t *strand;
    std::int64_t mask;

    static std::int64_t slots_for(std::int64_t w) {
        std::int64_t slots = HASH_BLOCK;
        while (slots < w + HASH_BLOCK) slots *= 2;
        return slots;
    }
    std::uint64_t value_at(std::int64_t p) const { return value[p & mask]; }
    std::uint8_t strand_at(std::int64_t p) const { return strand[p & mask]; }
};

// Writes minimizers to three parallel arrays, in order.
struct MinimizerOut {
    std::uint64_t *hash;
    std::int64_t *pos;
    std::uint8_t *strand;
    std::int64_t count = 0;

    void write(const PositionRing &ring, std::int64_t j) {
        hash[count] = ring.value_at(j);
        pos[count] = j;
        strand[count] = ring.strand_at(j);
        ++count;
    }
};

// Counts minimizers by bucket (the hash's bits from `shift` up) and marks
// their positions. The bits of one 64-position word are gathered and or-ed
// into the shared marks at once, atomically: the first and last words of a
// range are shared with its neighbours.
struct BucketCounter {
    std::int64_t *counts;
    int shift;
    std::uint64_t *marks;
    std::int64_t first = -1;
    std::int64_t word = -1;
    std::uint64_t bits = 0;

    void write(const PositionRing &ring, std::int64_t j) {
        ++counts[ring.value_at(j) >> shift];
        if (first < 0) first = j;
        if (j >> 6 != word) {
            flush();
            word = j >> 6;
        }
        bits |= std::uint64_t{1} << (j & 63);
    }
    void flush() {
        if (bits) std::atomic_ref<std::uint64_t>(marks[word]).fetch_or(bits, std::memory_order_relaxed);
        bits = 0;
    }
};

// Fewer positions than one window (all still in the ring): the leftmost
// smallest hash of them all.
void select_single(const PositionRing &ring, std::int64_t n, MinimizerOut &out) {
    std::int64_t best = 0;
    for (std::int64_t j = 1; j < n; ++j) {
        if (ring.value_at(j) < ring.value_at(best)) best = j;
    }
    if (ring.value_at(best) != MINIMIZER_INVALID) out.write(ring, best);
}

// Leftmost minimum of the window ending at the last position added. It
// stays the minimum while it is inside the window and nothing strictly
// smaller arrives; only when it leaves is the window scanned again, which
// for random hashes happens about once per w/2 positions. A window that was
// all invalid (a run of unknown codes) needs no scan: every position but the
// new one is invalid too.
class WindowMinimum {
public:
    WindowMinimum(const PositionRing &ring, std::int64_t w) : ring_(ring), w_(w) {}

    // Starts with the window ending at p, scanned whole.
    void start_at(std::int64_t p) { best_ = leftmost_minimum(window_start(p), p); }

    // Slides the window to end at p (its start is p - w + 1, at least 0).
    void advance(std::int64_t p) {
        const std::int64_t start = window_start(p);
        if (best_ < start && best_value_ == MINIMIZER_INVALID) {
            best_ = ring_.value_at(p) != MINIMIZER_INVALID ? p : start;
            best_value_ = ring_.value_at(best_);
        } else if (best_ < start) {
            best_ = leftmost_minimum(start, p);
        } else if (ring_.value_at(p) < best_value_) {
            best_ = p;
            best_value_ = ring_.value_at(p);
        }
    }
    std::int64_t front() const { return best_; }

private:
    std::int64_t window_start(std::int64_t p) const { return p - w_ + 1 > 0 ? p - w_ + 1 : 0; }

    std::int64_t leftmost_minimum(std::int64_t from, std::int64_t to) {
        std::int64_t best = from;
        std::uint64_t best_value = ring_.value_at(from);
        for (std::int64_t j = from + 1; j <= to; ++j) {
            const std::uint64_t v = ring_.value_at(j);
            if (v < best_value) {
                best = j;
                best_value = v;
            }
        }
        best_value_ = best_value;
        return best;
    }

    const PositionRing &ring_;
    std::int64_t w_;
    std::int64_t best_ = -1;
    std::uint64_t best_value_ = 0;
};

// Hashes the positions a block at a time and slides the window over each
// block as soon as it is hashed; the windows ending at [from, to) each write
// their leftmost minimum unless it is invalid or was the previous window's
// (the window fronts never move left, so that is exactly "unless it was
// written last"). Needs w <= to. The scan starts at the block holding the
// window before `from`, so a range gives what the whole sequence gives for
// its windows.
template <class Out>
void scan(const std::uint8_t *seq, std::int32_t k, std::int64_t w, std::int64_t from,
          std::int64_t to, const PositionRing &ring, Out &out) {
    const std::int64_t first = from - w > 0 ? (from - w) / HASH_BLOCK * HASH_BLOCK : 0;
    WindowMinimum window(ring, w);
    std::int64_t last = -1;
    for (std::int64_t start = first; start < to; start += HASH_BLOCK) {
        const std::int64_t end = to - start < HASH_BLOCK ? to : start + HASH_BLOCK;
        const std::int64_t slot = start & ring.mask;
        hash_block(k, seq + start + k - 1, end - start, ring.value + slot, ring.strand + slot);
        for (std::int64_t p = start > from - 1 ? start : from - 1; p < end; ++p) {
            if (p < from) {  // the window before the range, or part of the first one
                if (p >= 0) window.start_at(p);
                if (p >= w - 1) last = window.front();
                continue;
            }
            if (p == 0) window.start_at(p); else window.advance(p);
            const std::int64_t j = window.front();
            if (j != last && ring.value_at(j) != MINIMIZER_INVALID) out.write(ring, j);
            last = j;
        }
    }
}

// The ring of a scan with window w over n positions, in two reservations.
struct RingBuffers {
    Buffer<std::uint64_t> value;
    Buffer<std::uint8_t> strand;

    bool reserve(std::int64_t w, std::int64_t n, PositionRing &ring) {
        // A window wider than the sequence is never slid: the ring then only
        // has to hold the n positions.
        const std::int64_t slots = PositionRing::slots_for(w < n ? w : n);
        if (!value.allocate(static_cast<std::size_t>(slots))) return false;
        if (!strand.allocate(static_cast<std::size_t>(slots))) return false;
        ring = PositionRing{value.data(), strand.data(), slots - 1};
        return true;
    }
};

template <class Out>
bool scan_windows(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k, std::int32_t w,
                  std::int64_t from, std::int64_t to, Out &out) {
    RingBuffers buffers;
    PositionRing ring{};
    if (!buffers.reserve(w, seq_len - k + 1, ring)) return false;
    scan(seq, k, w, from, to, ring, out);
    return true;
}

}  // namespace

bool count_minimizers_by_bucket(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k,
                                std::int32_t w, std::int64_t from, std::int64_t to, int shift,
                                std::int64_t *counts, std::uint64_t *marks, std::int64_t *first) {
    BucketCounter out{counts, shift, marks};
    if (!scan_windows(seq, seq_len, k, w, from, to, out)) return false;
    out.flush();
    *first = out.first;
    return true;
}

namespace {

// The k codes at seq as 2-bit groups, the first code lowest. Eight codes
// come from eight bytes with one bit extract when the bytes lie within the
// sequence's `room` bytes.
std::uint64_t codes_low_first(const std::uint8_t *seq, std::int32_t k, std::int64_t room) {
    std::uint64_t v = 0;
    if (room >= (k + 7) / 8 * 8) {
        constexpr std::uint64_t LOW_TWO_BITS = 0x0303030303030303ull;
        for (std::int32_t b = 0; b < k; b += 8) {
            std::uint64_t bytes;
            std::memcpy(&bytes, seq + b, sizeof bytes);
            v |= _pext_u64(bytes, LOW_TWO_BITS) << (2 * b);
        }
        return v & kmer_mask(k);
    }
    for (std::int32_t i = 0; i < k; ++i) v |= static_cast<std::uint64_t>(seq[i] & 3u) << (2 * i);
    return v;
}

// The 2-bit groups of x in reverse order.
std::uint64_t reverse_groups64(std::uint64_t x) {
    x = __builtin_bswap64(x);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    return ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
}

}  // namespace

void scatter_marked_minimizers(const std::uint8_t *seq, std::int64_t seq_len, std::int32_t k,
                               const std::uint64_t *marks, std::int64_t from, std::int64_t to,
                               int shift, std::int64_t *next, std::uint64_t *hash,
                               std::int64_t *pos, std::uint8_t *strand) {
    const std::uint64_t mask = kmer_mask(k);
    for (std::int64_t word = from >> 6; word << 6 < to; ++word) {
        std::uint64_t bits = marks[word];
        while (bits) {
            const std::int64_t p = (word << 6) + __builtin_ctzll(bits);
            bits &= bits - 1;
            if (p < from || p >= to) continue;
            // A marked k-mer holds only codes 0-3: its reverse complement is
            // its complement with the groups reversed, the last code lowest.
            const std::uint64_t low_first = codes_low_first(seq + p, k, seq_len - p);
            const std::uint64_t fwd = reverse_groups64(low_first) >> (64 - 2 * k);
            const std::uint64_t hf = hash_kmer(fwd, mask);
            const std::uint64_t hr = hash_kmer(~low_first & mask, mask);
            const bool reverse = hr < hf;  // a palindrome keeps the forward strand
            const std::uint64_t h = reverse ? hr : hf;
            const std::int64_t at = next[h >> shift]++;
            hash[at] = h;
            pos[at] = p;
            strand[at] = reverse;
        }
    }
}

}  // namespace engine

ENGINE_EXPORT int64_t bio_minimizers(const uint8_t *seq, int64_t seq_len, int32_t k, int32_t w,
                                     uint64_t *out_hash, int64_t *out_pos, uint8_t *out_strand) {
    using namespace engine;
    if (k < 1 || k > MAX_K || w < 1) return -1;
    const std::int64_t n = seq_len - k + 1;
    if (n <= 0) return 0;
    // The value and strand arrays only ever hold the ring of recent
    // positions, so that is all they reserve: 9 bytes per ring slot, however
    // long the sequence.
    MinimizerOut out{out_hash, out_pos, out_strand};
    if (w <= n) return scan_windows(seq, seq_len, k, w, w - 1, n, out) ? out.count : -1;
    RingBuffers buffers;
    PositionRing ring{};
    if (!buffers.reserve(w, n, ring)) return -1;
    for (std::int64_t start = 0; start < n; start += HASH_BLOCK) {
        const std::int64_t end = n - start < HASH_BLOCK ? n : start + HASH_BLOCK;
        hash_block(k, seq + start + k - 1, end - start, ring.value + start, ring.strand + start);
    }
    select_single(ring, n, out);
    return out.count;
}
