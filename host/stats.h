// Summary statistics of a set of sequences.
#pragma once

#include "input.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bioeng {

struct SeqStats {
    uint64_t records = 0;
    uint64_t bases = 0;
    int64_t min_len = 0;
    int64_t max_len = 0;
    uint64_t code_count[32] = {};
    std::vector<int32_t> lengths;

    // One sequence of `len` bases (its codes are counted by add_codes).
    void add_length(int32_t len);
    // Counts residue codes, of any number of sequences at once.
    void add_codes(const uint8_t *codes, size_t n);
    // Length L such that sequences of length L or more hold at least half
    // of all bases; 0 without sequences.
    int64_t n50() const;
    // Percent of G and C among A, C, G, T; 0 when there are none.
    double gc_percent() const;
};

// Adds every record of a batch; `scratch` is working room kept between calls.
void add_batch(SeqStats &st, const RecordBatch &batch, std::vector<uint8_t> &scratch);

// records, bases, min, max, mean (1 decimal), N50, GC (2 decimals), tab-separated.
std::string format_stats(const SeqStats &st);

} // namespace bioeng
