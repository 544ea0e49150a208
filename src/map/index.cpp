// The minimizer index: the reference's minimizers sorted by hash, without
// the hashes that occur too often, plus copies of the reference and of its
// table of sequences. Built once, then read by any number of threads.
#include "map/index.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "core/buffer.h"
#include "core/export.h"
#include "engine.h"
#include "map/index_sample.h"
#include "map/minimizers.h"

namespace engine {

namespace {

// First entry of [lo, hi) whose hash is not less than h (is_lower) or
// greater than h.
std::int64_t bisect(const std::uint64_t *hash, std::int64_t lo, std::int64_t hi, std::uint64_t h,
                    bool is_lower) {
    while (lo < hi) {
        const std::int64_t mid = (lo + hi) / 2;
        const bool before = is_lower ? hash[mid] < h : hash[mid] <= h;
        if (before) lo = mid + 1; else hi = mid;
    }
    return lo;
}

// First entry from `first` on whose hash is greater than h, where
// hash[first - 1] < h if first > 0. Runs are short, so the end is found by
// doubling steps from the run's start, which stay within a cache line or two,
// and then bisecting the last step; the result is that of bisecting
// [first, n).
std::int64_t hash_run_end(const std::uint64_t *hash, std::int64_t n, std::int64_t first,
                          std::uint64_t h) {
    std::int64_t lo = first, step = 1;
    while (lo < n && hash[lo] == h) {
        lo += step;
        step *= 2;
    }
    // The last step went from lo - step / 2, still in the run, past its end.
    const std::int64_t from = lo == first ? first : lo - step / 2 + 1;
    return bisect(hash, from, lo < n ? lo : n, h, false);
}

// First entry whose hash is not less than h: the same entry as bisecting
// [0, n), by halving without branches (the next read is chosen with a
// conditional move and both candidates are fetched ahead), since which half
// holds a random hash cannot be predicted.
std::int64_t hash_run_start(const std::uint64_t *hash, std::int64_t n, std::uint64_t h) {
    if (n == 0) return 0;
    const std::uint64_t *base = hash;
    std::int64_t len = n;
    while (len > 1) {
        const std::int64_t half = len / 2;
        __builtin_prefetch(base + half / 2);
        __builtin_prefetch(base + half + half / 2);
        base = base[half] < h ? base + half : base;
        len -= half;
    }
    return (base - hash) + (*base < h);
}

}  // namespace

// Directory slot of h (a shift of 64 or more leaves one slot).
std::uint64_t dir_slot(std::uint64_t h, std::int32_t shift) {
    return shift >= 64 ? 0 : h >> shift;
}

// The directory confines hash h to the entries of its slot; both searches
// then run over those few entries. As every entry with hash h lies in the
// slot, the results are those of bisecting [0, n_min); a hash beyond the
// last slot is above every entry.
HashRun index_hash_run(const bio_index_t *idx, std::uint64_t h) {
    const std::uint64_t slot = dir_slot(h, idx->dir_shift);
    if (slot >= static_cast<std::uint64_t>(idx->dir_slots)) return HashRun{idx->n_min, idx->n_min};
    const std::int64_t lo = idx->dir[slot];
    const std::int64_t hi = idx->dir[slot + 1];
    const std::int64_t first = lo + hash_run_start(idx->min_hash + lo, hi - lo, h);
    return HashRun{first, hash_run_end(idx->min_hash, hi, first, h)};
}

void index_prefetch_slot(const bio_index_t *idx, std::uint64_t h) {
    const std::uint64_t slot = dir_slot(h, idx->dir_shift);
    if (slot < static_cast<std::uint64_t>(idx->dir_slots)) __builtin_prefetch(idx->dir + slot);
}

void index_prefetch_entries(const bio_index_t *idx, std::uint64_t h) {
    const std::uint64_t slot = dir_slot(h, idx->dir_shift);
    if (slot >= static_cast<std::uint64_t>(idx->dir_slots)) return;
    const std::int64_t lo = idx->dir[slot];
    const std::int64_t hi = idx->dir[slot + 1];
    __builtin_prefetch(idx->min_hash + lo);
    __builtin_prefetch(idx->min_hash + (lo + hi) / 2);
}

std::int32_t index_ref_of(const bio_index_t *idx, std::int64_t x) {
    const std::int64_t *offsets = idx->ref_offsets;
    std::int32_t lo = 0, hi = idx->n_refs;
    while (lo < hi) {  // first sequence starting after x
        const std::int32_t mid = lo + (hi - lo) / 2;
        if (offsets[mid] <= x) lo = mid + 1; else hi = mid;
    }
    return lo > 0 ? lo - 1 : 0;
}

namespace {

// The six arrays a handle owns, held here until the build has succeeded.
struct IndexArrays {
    std::int64_t n_min = 0;
    Buffer<std::uint64_t> min_hash;
    Buffer<std::int64_t> min_pos;
    Buffer<std::uint8_t> min_strand;
    Buffer<std::uint8_t> ref;
    Buffer<std::int64_t> ref_offsets;
    Buffer<std::int64_t> ref_lengths;
};

// End of the run of equal hashes that starts at i.
std::int64_t run_end(const std::uint64_t *hash, std::int64_t count, std::int64_t i) {
    std::int64_t j = i + 1;
    while (j < count && hash[j] == hash[i]) ++j;
    return j;
}

bool keeps_run(std::int64_t length, std::int32_t max_occ) {
    return max_occ <= 0 || length <= max_occ;
}

// Moves every run of equal hashes that passes the occurrence limit forward
// over the dropped ones, in sorted order; returns the kept count.
std::int64_t drop_frequent(SortedMinimizers &m, std::int32_t max_occ) {
    std::int64_t kept = 0;
    for (std::int64_t i = 0; i < m.count;) {
        const std::int64_t end = run_end(m.hash.data(), m.count, i);
        if (keeps_run(end - i, max_occ)) {
            for (std::int64_t j = i; j < end; ++j, ++kept) {
                m.hash[kept] = m.hash[j];
                m.pos[kept] = m.pos[j];
                m.strand[kept] = m.strand[j];
            }
        }
        i = end;
    }
    return kept;
}

// One-element arrays stand in for empty ones; they are zeroed so that even
// a stray read finds no garbage.
template <class T>
bool reserve_entries(Buffer<T> &buffer, std::int64_t count) {
    if (count <= 0) return buffer.allocate_zeroed(1);
    return buffer.allocate(static_cast<std::size_t>(count));
}

// Cuts an entry array to `count` entries (a zeroed one-element array for 0).
template <class T>
bool fit_entries(Buffer<T> &buffer, std::int64_t count) {
    if (count <= 0) return buffer.allocate_zeroed(1);
    if (static_cast<std::size_t>(count) == buffer.size()) return true;
    return buffer.resize(static_cast<std::size_t>(count));
}

// The sorted minimizers that pass the occurrence limit become the entries,
// in the arrays they were sorted in.
bool build_entries(SortedMinimizers &m, std::int32_t max_occ, IndexArrays &out) {
    const std::int64_t kept = drop_frequent(m, max_occ);
    if (!fit_entries(m.hash, kept) || !fit_entries(m.pos, kept) || !fit_entries(m.strand, kept))
        return false;
    out.min_hash = std::move(m.hash);
    out.min_pos = std::move(m.pos);
    out.min_strand = std::move(m.strand);
    out.n_min = kept;
    return true;
}

template <class T>
bool copy_array(const T *src, std::int64_t count, Buffer<T> &dst) {
    if (!reserve_entries(dst, count)) return false;
    if (count > 0 && src) std::memcpy(dst.data(), src, static_cast<std::size_t>(count) * sizeof(T));
    if (count > 0 && !src) std::memset(dst.data(), 0, static_cast<std::size_t>(count) * sizeof(T));
    return true;
}

// Directory slots: about DIR_ENTRIES_PER_SLOT entries each (a couple of
// cache lines to search), a power of two so the slot is the hash's top bits.
constexpr std::int64_t DIR_ENTRIES_PER_SLOT = 16;

struct DirectoryShape {
    std::int32_t shift;
    std::int64_t slots;
};

// Hashes of k-mers span 2k bits; the directory takes the top ones.
DirectoryShape directory_shape(std::int64_t n_min, std::int32_t k) {
    const std::int32_t key_bits = 2 * k < 64 ? 2 * k : 64;
    std::int32_t bits = 0;
    while (bits < key_bits && bits < 40 && (n_min >> (bits + 1)) >= DIR_ENTRIES_PER_SLOT) ++bits;
    return DirectoryShape{key_bits - bits, std::int64_t{1} << bits};
}

// The handle, zero-filled, with room for its directory right after it.
bio_index_t *reserve_handle(const DirectoryShape &shape) {
    static_assert(sizeof(bio_index_t) % alignof(std::int64_t) == 0);
    const auto slots = static_cast<std::size_t>(shape.slots) + 1;
    return static_cast<bio_index_t *>(
        mem_calloc(1, sizeof(bio_index_t) + slots * sizeof(std::int64_t)));
}

// dir[t] = first entry whose slot is at least t.
void fill_directory(const std::uint64_t *hash, std::int64_t n, const DirectoryShape &shape,
                    std::int64_t *dir) {
    std::int64_t i = 0;
    for (std::int64_t t = 0; t <= shape.slots; ++t) {
        while (i < n && dir_slot(hash[i], shape.shift) < static_cast<std::uint64_t>(t)) ++i;
        dir[t] = i;
    }
}

}  // namespace
}  // namespace engine

ENGINE_EXPORT bio_index_t *bio_index_build(const uint8_t *ref, int64_t ref_len, int32_t k, int32_t w,
                                           int32_t max_occ, const int64_t *ref_offsets,
                                           const int64_t *ref_lengths, int32_t n_refs) {
    using namespace engine;
    // k and w must fit the minimizer routine; a negative length has no copy.
    if (k < 1 || k > MAX_K || w < 1 || ref_len < 0) return nullptr;
    IndexArrays arrays;
    {
        SortedMinimizers sampled;
        if (!sample_sorted(ref, ref_len, k, w, sampled)) return nullptr;
        if (!build_entries(sampled, max_occ, arrays)) return nullptr;
    }
    // A negative sequence count is read as none; a missing table as zeros.
    const std::int32_t refs = n_refs > 0 ? n_refs : 0;
    if (!copy_array(ref, ref_len, arrays.ref) ||
        !copy_array(ref_offsets, refs, arrays.ref_offsets) ||
        !copy_array(ref_lengths, refs, arrays.ref_lengths)) {
        return nullptr;
    }
    const DirectoryShape shape = directory_shape(arrays.n_min, k);
    bio_index_t *handle = reserve_handle(shape);
    if (!handle) return nullptr;
    auto *dir = reinterpret_cast<std::int64_t *>(handle + 1);
    fill_directory(arrays.min_hash.data(), arrays.n_min, shape, dir);

    handle->k = k;
    handle->w = w;
    handle->ref_len = ref_len;
    handle->n_min = arrays.n_min;
    handle->min_hash = arrays.min_hash.release();
    handle->min_pos = arrays.min_pos.release();
    handle->min_strand = arrays.min_strand.release();
    handle->ref = arrays.ref.release();
    handle->n_refs = refs;
    handle->ref_offsets = arrays.ref_offsets.release();
    handle->ref_lengths = arrays.ref_lengths.release();
    handle->dir_shift = shape.shift;
    handle->dir_slots = shape.slots;
    handle->dir = dir;
    return handle;
}

ENGINE_EXPORT int64_t bio_index_n_minimizers(const bio_index_t *idx) {
    return idx ? idx->n_min : -1;
}

ENGINE_EXPORT void bio_index_free(bio_index_t *idx) {
    if (!idx) return;
    engine::mem_free(idx->min_hash);
    engine::mem_free(idx->min_pos);
    engine::mem_free(idx->min_strand);
    engine::mem_free(idx->ref);
    engine::mem_free(idx->ref_offsets);
    engine::mem_free(idx->ref_lengths);
    engine::mem_free(idx);
}
