// A traceback walk's columns collected as runs of equal moves, for callers
// that need the shape of the alignment (a CIGAR) and its counters but not
// the gapped strings: one pass over the walk instead of writing, reversing
// and rescanning two strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "align/align_common.h"

namespace engine {

// Runs in the order the walk meets them, last column first; each entry is
// length << 2 | move, the move a TracebackCode (TB_DIAG pairs A[i-1] with
// B[j-1], TB_UP puts A[i-1] over a gap, TB_LEFT a gap over B[j-1]).
class TracebackRuns {
public:
    // `store` holds `capacity` entries, owned by the caller.
    TracebackRuns(const std::uint8_t *seq_a, const std::uint8_t *seq_b, std::uint64_t *store,
                  std::size_t capacity)
        : a_(seq_a), b_(seq_b), store_(store), capacity_(capacity) {}

    // No walk of len_a + len_b columns or fewer can make more runs.
    [[nodiscard]] bool reserve(std::int32_t len_a, std::int32_t len_b) const {
        return static_cast<std::size_t>(len_a) + static_cast<std::size_t>(len_b) <= capacity_;
    }

    void diag(std::int64_t i, std::int64_t j) {
        if (a_[i - 1] == b_[j - 1])
            ++n_match_;
        else
            ++n_mismatch_;
        add(TB_DIAG);
    }
    void up(std::int64_t) {
        ++n_gap_;
        add(TB_UP);
    }
    void left(std::int64_t) {
        ++n_gap_;
        add(TB_LEFT);
    }

    // Stores the counters and returns the column count.
    std::int32_t finish(std::int32_t *n_match, std::int32_t *n_mismatch,
                        std::int32_t *n_gap) const {
        *n_match = n_match_;
        *n_mismatch = n_mismatch_;
        *n_gap = n_gap_;
        return n_match_ + n_mismatch_ + n_gap_;
    }

    const std::uint64_t *runs() const { return store_; }
    std::int64_t n_runs() const { return n_runs_; }

    static std::uint64_t run_length(std::uint64_t run) { return run >> 2; }
    static std::uint8_t run_move(std::uint64_t run) { return static_cast<std::uint8_t>(run & 3); }

private:
    void add(std::uint8_t move) {
        if (n_runs_ > 0 && run_move(store_[n_runs_ - 1]) == move)
            store_[n_runs_ - 1] += 4;
        else
            store_[n_runs_++] = std::uint64_t{4} | move;
    }

    const std::uint8_t *a_;
    const std::uint8_t *b_;
    std::uint64_t *store_;
    std::size_t capacity_;
    std::int64_t n_runs_ = 0;
    std::int32_t n_match_ = 0;
    std::int32_t n_mismatch_ = 0;
    std::int32_t n_gap_ = 0;
};

}  // namespace engine
