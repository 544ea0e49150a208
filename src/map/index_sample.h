// Sampling of a reference for the index: all its minimizers, sorted by hash,
// in arrays of exactly their number.
#pragma once

#include <cstdint>

#include "core/buffer.h"

namespace engine {

struct SortedMinimizers {
    Buffer<std::uint64_t> hash;
    Buffer<std::int64_t> pos;
    Buffer<std::uint8_t> strand;
    std::int64_t count = 0;
};

// The minimizers bio_minimizers gives for the whole reference, sorted by
// hash with equal hashes in position order. With none, nothing is reserved.
// False when working memory cannot be reserved. Runs on the threads of the
// OpenMP runtime; the result does not depend on how many there are.
bool sample_sorted(const std::uint8_t *ref, std::int64_t ref_len, std::int32_t k, std::int32_t w,
                   SortedMinimizers &out);

}  // namespace engine
