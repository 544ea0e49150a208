// Alignment of a read against its reference window: the banded kernel, or,
// when the window pairs up with at most one mismatch, that pairing directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

struct WindowAlignment {
    std::int32_t n_cols;
    std::int32_t n_match;
    std::int32_t n_mismatch;
    std::int32_t n_gap;
    // True when the alignment is the gapless pairing, which the kernel did
    // not walk.
    bool ungapped;
    // Otherwise the kernel's walk as runs of moves, last column first.
    const std::uint64_t *runs;
    std::int64_t n_runs;
};

// Entries of a run store that hold the walk of any window of at most len
// bases.
inline std::size_t window_run_capacity(std::int32_t len) {
    return 2 * static_cast<std::size_t>(len);
}

// Banded global alignment of len reference codes against len read codes with
// the mapping scores; `run_store` holds window_run_capacity(len) entries or
// more and keeps the walk's runs for the CIGAR. False when the kernel cannot
// reserve its memory.
bool align_window(const std::uint8_t *ref, const std::uint8_t *read, std::int32_t len,
                  std::uint64_t *run_store, std::size_t run_capacity, WindowAlignment &aln);

// Appends the alignment's CIGAR at *offset under the rule of append_cigar;
// returns the length of the text kept, 0 when none.
std::int32_t append_window_cigar(const WindowAlignment &aln, char *cigar, std::int32_t cigar_cap,
                                 std::int32_t *offset);

}  // namespace engine
