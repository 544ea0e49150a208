// The reference is sampled over ranges of windows that the threads take in
// turn: every range counts its minimizers per bucket of hash (the top bits
// of the 2k-bit hash) and marks their positions in a bitmap; then, with
// exactly sized arrays reserved, every range hashes again only the k-mers
// it marked and writes them to its own part of each bucket. Buckets then
// hold their minimizers in position order, and each is sorted by hash on
// its own. Working memory beyond the result is the bitmap (one bit per
// base), the bucket counts and one bucket's worth of records per thread.
#include "map/index_sample.h"

#include <algorithm>
#include <cstdint>

#include "engine.h"
#include "map/minimizers.h"

namespace engine {

namespace {

// Windows per range: enough work per task, and at most MAX_RANGES ranges.
constexpr std::int64_t RANGE_WINDOWS = std::int64_t{1} << 20;
constexpr int MAX_RANGES = 64;
// Aim for buckets of about this many minimizers, in at most 2^10 buckets:
// few enough that writing the minimizers to their buckets stays cache
// friendly (more buckets cost more than their smaller sorts save).
constexpr std::int64_t BUCKET_ENTRIES = 2048;
constexpr int MAX_BUCKET_BITS = 10;

struct SamplePlan {
    std::int64_t first_window;  // w - 1: the first position ending a window
    std::int64_t n;             // k-mer positions
    int n_ranges;
    int shift;  // bucket of a hash: hash >> shift
    std::int64_t n_buckets;

    SamplePlan(std::int64_t n_, std::int32_t k, std::int32_t w) : first_window(w - 1), n(n_) {
        const std::int64_t windows = n - first_window;
        n_ranges = static_cast<int>(std::clamp<std::int64_t>(windows / RANGE_WINDOWS, 1, MAX_RANGES));
        // About 2 / (w + 1) of the positions are minimizers.
        const std::int64_t expected = 2 * n / (w + 1);
        const int key_bits = 2 * k < 64 ? 2 * k : 64;
        int bits = 0;
        while (bits < MAX_BUCKET_BITS && bits < key_bits &&
               (expected >> (bits + 1)) >= BUCKET_ENTRIES)
            ++bits;
        // A shift of 64 is not defined: one more bucket, always empty or not.
        shift = std::min(key_bits - bits, 63);
        const std::uint64_t key_max = key_bits == 64 ? ~std::uint64_t{0}
                                                     : (std::uint64_t{1} << key_bits) - 1;
        n_buckets = static_cast<std::int64_t>(key_max >> shift) + 1;
    }
    std::int64_t range_start(int r) const {
        return first_window + (n - first_window) * r / n_ranges;
    }
};

// counts[r * n_buckets + b]: minimizers of range r in bucket b; their
// positions marked in `marks`, the first one of range r in first[r] (-1 for
// none).
bool count_ranges(const std::uint8_t *ref, std::int64_t ref_len, std::int32_t k, std::int32_t w,
                  const SamplePlan &plan, std::int64_t *counts, std::uint64_t *marks,
                  std::int64_t *first) {
    bool failed = false;
#pragma omp parallel for schedule(dynamic, 1) reduction(|| : failed)
    for (int r = 0; r < plan.n_ranges; ++r) {
        failed = !count_minimizers_by_bucket(ref, ref_len, k, w, plan.range_start(r),
                                             plan.range_start(r + 1), plan.shift,
                                             counts + r * plan.n_buckets, marks, first + r) ||
                 failed;
    }
    return !failed;
}

// Turns the counts into where each range writes in each bucket (buckets in
// order, ranges in order within a bucket), records where every bucket starts
// in starts[0 .. n_buckets] and returns the total.
std::int64_t place_ranges(const SamplePlan &plan, std::int64_t *counts, std::int64_t *starts) {
    std::int64_t at = 0;
    for (std::int64_t b = 0; b < plan.n_buckets; ++b) {
        starts[b] = at;
        for (int r = 0; r < plan.n_ranges; ++r) {
            std::int64_t &slot = counts[r * plan.n_buckets + b];
            const std::int64_t count = slot;
            slot = at;
            at += count;
        }
    }
    starts[plan.n_buckets] = at;
    return at;
}

// Writes every range's marked minimizers to its entries of the buckets.
// Minimizer positions grow from range to range, so range r's are the marked
// positions from first[r] up to the next range's first.
void scatter_ranges(const std::uint8_t *ref, std::int64_t ref_len, std::int32_t k,
                    const SamplePlan &plan, const std::uint64_t *marks, const std::int64_t *first,
                    std::int64_t *next, SortedMinimizers &out) {
#pragma omp parallel for schedule(dynamic, 1)
    for (int r = 0; r < plan.n_ranges; ++r) {
        if (first[r] < 0) continue;
        std::int64_t end = plan.n;
        for (int later = r + 1; later < plan.n_ranges; ++later)
            if (first[later] >= 0) {
                end = first[later];
                break;
            }
        scatter_marked_minimizers(ref, ref_len, k, marks, first[r], end, plan.shift,
                                  next + r * plan.n_buckets, out.hash.data(), out.pos.data(),
                                  out.strand.data());
    }
}

// Stable sort of one bucket by hash, through the records.
void sort_bucket(SortedMinimizers &m, std::int64_t lo, std::int64_t hi, min_rec_t *records) {
    const std::int64_t len = hi - lo;
    if (len < 2) return;
    sort_minimizers_by_hash(m.hash.data() + lo, m.pos.data() + lo, m.strand.data() + lo, len,
                            records);
    for (std::int64_t i = 0; i < len; ++i) {
        m.hash[lo + i] = records[i].hash;
        m.pos[lo + i] = records[i].pos;
        m.strand[lo + i] = records[i].strand;
    }
}

bool sort_buckets(const SamplePlan &plan, const std::int64_t *starts, SortedMinimizers &m) {
    std::int64_t largest = 1;
    for (std::int64_t b = 0; b < plan.n_buckets; ++b)
        largest = std::max(largest, starts[b + 1] - starts[b]);
    bool failed = false;
#pragma omp parallel reduction(|| : failed)
    {
        Buffer<min_rec_t> records;
        failed = !records.allocate(static_cast<std::size_t>(largest));
        // Every thread takes part in the loop; one without records sorts
        // nothing, and the build then fails anyway.
#pragma omp for schedule(dynamic, 16)
        for (std::int64_t b = 0; b < plan.n_buckets; ++b)
            if (!records.empty()) sort_bucket(m, starts[b], starts[b + 1], records.data());
    }
    return !failed;
}

// Fewer positions than one window: at most one minimizer.
bool sample_single_window(const std::uint8_t *ref, std::int64_t ref_len, std::int32_t k,
                          std::int32_t w, SortedMinimizers &out) {
    if (!out.hash.allocate(1) || !out.pos.allocate(1) || !out.strand.allocate(1)) return false;
    out.count = bio_minimizers(ref, ref_len, k, w, out.hash.data(), out.pos.data(),
                               out.strand.data());
    return out.count >= 0;
}

}  // namespace

bool sample_sorted(const std::uint8_t *ref, std::int64_t ref_len, std::int32_t k, std::int32_t w,
                   SortedMinimizers &out) {
    const std::int64_t n = ref_len - k + 1;
    out.count = 0;
    if (n <= 0) return true;
    if (w > n) return sample_single_window(ref, ref_len, k, w, out);

    const SamplePlan plan(n, k, w);
    Buffer<std::int64_t> counts;
    Buffer<std::int64_t> starts;
    Buffer<std::uint64_t> marks;  // one bit per k-mer position
    Buffer<std::int64_t> first;
    if (!counts.allocate_zeroed(static_cast<std::size_t>(plan.n_ranges * plan.n_buckets)) ||
        !starts.allocate(static_cast<std::size_t>(plan.n_buckets + 1)) ||
        !marks.allocate_zeroed(static_cast<std::size_t>((n + 63) / 64)) ||
        !first.allocate(static_cast<std::size_t>(plan.n_ranges)))
        return false;
    if (!count_ranges(ref, ref_len, k, w, plan, counts.data(), marks.data(), first.data()))
        return false;
    const std::int64_t total = place_ranges(plan, counts.data(), starts.data());
    if (total == 0) return true;
    const auto size = static_cast<std::size_t>(total);
    if (!out.hash.allocate(size) || !out.pos.allocate(size) || !out.strand.allocate(size))
        return false;
    scatter_ranges(ref, ref_len, k, plan, marks.data(), first.data(), counts.data(), out);
    marks.reset();
    counts.reset();
    if (!sort_buckets(plan, starts.data(), out)) return false;
    out.count = total;
    return true;
}

}  // namespace engine
