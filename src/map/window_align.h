// Alignment of a read against its reference window: the banded kernel, or,
// when the window pairs up with at most one mismatch, that pairing directly.
#pragma once

#include <cstdint>

namespace engine {

struct WindowAlignment {
    std::int32_t n_cols;
    std::int32_t n_match;
    std::int32_t n_mismatch;
    std::int32_t n_gap;
    // True when the alignment is the gapless pairing and the gapped strings
    // were not written.
    bool ungapped;
};

// Banded global alignment of len reference codes against len read codes with
// the mapping scores; the gapped strings need 2 * len + 1 bytes. False when
// the kernel cannot reserve its memory.
bool align_window(const std::uint8_t *ref, const std::uint8_t *read, std::int32_t len,
                  char *gapped_ref, char *gapped_read, WindowAlignment &aln);

// Appends the alignment's CIGAR at *offset under the rule of append_cigar;
// returns the length of the text kept, 0 when none.
std::int32_t append_window_cigar(const WindowAlignment &aln, const char *gapped_ref,
                                 const char *gapped_read, char *cigar, std::int32_t cigar_cap,
                                 std::int32_t *offset);

}  // namespace engine
