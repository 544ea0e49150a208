// Full dynamic-programming matrices of the global, semiglobal and local
// aligners: (len_a + 1) rows of len_b + 1 cells, row i for A's first i
// residues, column j for B's first j, a 32-bit score and a traceback code
// per cell.
#pragma once

#include <cstdint>

#include "align/align_common.h"
#include "align/row_kernel.h"
#include "core/buffer.h"

namespace engine {

class FullMatrices {
public:
    FullMatrices(std::int64_t len_a, std::int64_t len_b) : len_a_(len_a), cols_(len_b + 1) {}

    // Reserves the score matrix, then the traceback matrix. Their contents
    // start undefined: the fill writes every cell outside row 0 and column
    // 0, and one of the border setters writes those.
    [[nodiscard]] bool reserve() {
        const auto cells = static_cast<std::size_t>((len_a_ + 1) * cols_);
        return score_.allocate(cells) && tb_.allocate(cells);
    }

    // Local alignment's borders: score 0 and TB_DIAG everywhere, as a
    // zero-filled reservation would hold, at the cost of the borders only.
    void set_zero_borders() {
        for (std::int64_t i = 0; i <= len_a_; ++i) {
            score_[i * cols_] = 0;
            tb_[i * cols_] = TB_DIAG;
        }
        for (std::int64_t j = 1; j < cols_; ++j) {
            score_[j] = 0;
            tb_[j] = TB_DIAG;
        }
    }

    // Cell (0, 0) 0; column 0 at `gap` per row (TB_UP); row 0 at `row0_gap`
    // per column (TB_LEFT).
    void set_borders(std::int32_t row0_gap, std::int32_t gap) {
        score_[0] = 0;
        tb_[0] = TB_DIAG;
        for (std::int64_t i = 1; i <= len_a_; ++i) {
            score_[i * cols_] = mul32(i, gap);
            tb_[i * cols_] = TB_UP;
        }
        for (std::int64_t j = 1; j < cols_; ++j) {
            score_[j] = mul32(j, row0_gap);
            tb_[j] = TB_LEFT;
        }
    }

    // Fills rows 1 .. len_a, each left to right, and hands every finished
    // row to `after_row(i, scores, largest score from column 1 on)` while it
    // is still in cache.
    template <DiagonalFloor floor, class AfterRow>
    void fill(const std::uint8_t *seq_a, const std::uint8_t *seq_b, std::int32_t match,
              std::int32_t mismatch, std::int32_t gap, AfterRow &&after_row) {
        for (std::int64_t i = 1; i <= len_a_; ++i) {
            const RunScores row = fill_row<floor>(i, seq_a[i - 1], seq_b, match, mismatch, gap);
            after_row(i, score_.data() + i * cols_, row.max);
        }
    }

    template <DiagonalFloor floor>
    void fill(const std::uint8_t *seq_a, const std::uint8_t *seq_b, std::int32_t match,
              std::int32_t mismatch, std::int32_t gap) {
        fill<floor>(seq_a, seq_b, match, mismatch, gap,
                    [](std::int64_t, const std::int32_t *, std::int32_t) {});
    }

    std::int32_t score_at(std::int64_t i, std::int64_t j) const { return score_[i * cols_ + j]; }

    // Walks from (i, j) to (0, 0); the border codes lead along row 0 or
    // column 0 once one sequence is used up.
    void walk_to_origin(std::int64_t i, std::int64_t j, TracebackWriter &out) const {
        while (i > 0 || j > 0) step(i, j, out);
    }

    // Walks from (i, j) while the current cell scores above zero; row 0 and
    // column 0 hold zeros, so the walk never leaves the matrix.
    void walk_while_positive(std::int64_t i, std::int64_t j, TracebackWriter &out) const {
        while (score_at(i, j) > 0) step(i, j, out);
    }

private:
    void step(std::int64_t &i, std::int64_t &j, TracebackWriter &out) const {
        const std::uint8_t code = tb_[i * cols_ + j];
        if (code == TB_DIAG) {
            out.diag(i, j);
            --i;
            --j;
        } else if (code == TB_UP) {
            out.up(i);
            --i;
        } else {
            out.left(j);
            --j;
        }
    }

    // Row i from column 1: diagonal predecessors at prev[0..], up ones at
    // prev[1..], the left chain starting from the column-0 cell.
    template <DiagonalFloor floor>
    RunScores fill_row(std::int64_t i, std::uint8_t a, const std::uint8_t *seq_b, std::int32_t match,
                  std::int32_t mismatch, std::int32_t gap) {
        const std::int32_t *prev = score_.data() + (i - 1) * cols_;
        std::int32_t *cur = score_.data() + i * cols_;
        return fill_run<floor>(prev, prev + 1, seq_b, cols_ - 1, a, cur[0], {match, mismatch, gap},
                        cur + 1, tb_.data() + i * cols_ + 1);
    }

    std::int64_t len_a_;
    std::int64_t cols_;
    Buffer<std::int32_t> score_;
    Buffer<std::uint8_t> tb_;
};

}  // namespace engine
