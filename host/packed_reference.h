// The reference kept for re-alignment and tags once the index is built: two
// bits per base, with the codes that are not A, C, G or T kept aside as runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bioeng {

// The concatenated reference codes (one byte per base, as load_reference
// lays them out) in about a quarter of the memory: codes 0-3 are packed four
// to a byte, and every other code (N, IUPAC letters, the separator between
// sequences) is kept exactly, in a sorted list of runs of one code each. The
// aligners tell ambiguous codes apart by value (equal codes >= 4 count as a
// match in some scores), so they are not folded into one.
class PackedReference {
public:
    PackedReference() = default;
    // Packs codes[0, n). Throws std::bad_alloc.
    PackedReference(const uint8_t *codes, int64_t n);

    int64_t size() const { return size_; }
    // Bytes held: the packed bases and the runs.
    size_t memory_bytes() const;

    // Codes [start, start + len) into out[0, len), exactly as they were
    // given; the range must lie within [0, size()).
    void extract(int64_t start, int64_t len, uint8_t *out) const;
    // The same into `out`, resized to len. Throws std::bad_alloc.
    void extract(int64_t start, int64_t len, std::vector<uint8_t> &out) const;

private:
    // A run of one code above 3; a longer run is cut into several, so that
    // a run takes 16 bytes.
    struct Run {
        int64_t start;
        uint32_t len;
        uint8_t code;
    };
    void add_runs(const uint8_t *codes, int64_t n);
    void patch_runs(int64_t start, int64_t len, uint8_t *out) const;

    std::vector<uint8_t> bases_; // base i in bits 2 (i mod 4) and up of byte i / 4
    std::vector<Run> runs_;
    int64_t size_ = 0;
};

} // namespace bioeng
