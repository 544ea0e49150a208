// Full dynamic-programming matrices of the global, semiglobal and local
// aligners: (len_a + 1) rows of len_b + 1 cells, row i for A's first i
// residues, column j for B's first j, a 32-bit score and a traceback code
// per cell.
//
// Both matrices are reserved whole, but of the scores only the row being
// filled and the one above it are ever needed: the aligners read the last
// row, the last column (one value per row, taken as the row is done) and,
// for local alignment, whether a cell is positive, which its code carries.
// So rows alternate between the first two rows of the score matrix and the
// rest of it is never touched, which spares its page faults and memory
// traffic; results are those of the whole matrix.
#pragma once

#include <cstdint>

#include "align/align_common.h"
#include "align/row_kernel.h"
#include "core/buffer.h"

namespace engine {

// Scores and codes of row 0 and column 0.
struct Borders {
    std::int32_t row0_gap;  // cell (0, j) scores j x row0_gap
    std::int32_t col0_gap;  // cell (i, 0) scores i x col0_gap
    std::uint8_t row0_code;
    std::uint8_t col0_code;
};

constexpr Borders global_borders(std::int32_t gap) { return {gap, gap, TB_LEFT, TB_UP}; }
constexpr Borders free_row0_borders(std::int32_t gap) { return {0, gap, TB_LEFT, TB_UP}; }
inline constexpr Borders ZERO_BORDERS{0, 0, TB_DIAG, TB_DIAG};

class FullMatrices {
public:
    FullMatrices(std::int64_t len_a, std::int64_t len_b) : len_a_(len_a), cols_(len_b + 1) {}

    // Reserves the score matrix, then the traceback matrix.
    [[nodiscard]] bool reserve() {
        const auto cells = static_cast<std::size_t>((len_a_ + 1) * cols_);
        return score_.allocate(cells) && tb_.allocate(cells);
    }

    // Sets row 0, then fills rows 1 .. len_a, each left to right, handing
    // every row to `after_row(i, scores, largest score from column 1 on)`
    // while it is still in cache (row 0 too, with its largest score).
    template <DiagonalFloor floor, class AfterRow>
    void fill(const std::uint8_t *seq_a, const std::uint8_t *seq_b, Scoring sc, Borders borders,
              AfterRow &&after_row) {
        std::int32_t *row0 = row(0);
        row0[0] = 0;
        tb_[0] = TB_DIAG;
        std::int32_t row0_max = INT32_MIN;
        for (std::int64_t j = 1; j < cols_; ++j) {
            row0[j] = mul32(j, borders.row0_gap);
            row0_max = row0[j] > row0_max ? row0[j] : row0_max;
            tb_[j] = borders.row0_code;
        }
        after_row(std::int64_t{0}, static_cast<const std::int32_t *>(row0), row0_max);
        for (std::int64_t i = 1; i <= len_a_; ++i) {
            std::int32_t *cur = row(i);
            cur[0] = mul32(i, borders.col0_gap);
            tb_[i * cols_] = borders.col0_code;
            const RunScores filled = fill_run<floor>(
                row(i - 1), row(i - 1) + 1, seq_b, cols_ - 1, seq_a[i - 1], cur[0], sc, cur + 1,
                tb_.data() + i * cols_ + 1);
            after_row(i, static_cast<const std::int32_t *>(cur), filled.max);
        }
    }

    template <DiagonalFloor floor>
    void fill(const std::uint8_t *seq_a, const std::uint8_t *seq_b, Scoring sc, Borders borders) {
        fill<floor>(seq_a, seq_b, sc, borders,
                    [](std::int64_t, const std::int32_t *, std::int32_t) {});
    }

    // Scores of the last row, once the fill is done.
    const std::int32_t *last_row() const { return score_.data() + (len_a_ & 1) * cols_; }

    // Walks from (i, j) to (0, 0); the border codes lead along row 0 or
    // column 0 once one sequence is used up.
    void walk_to_origin(std::int64_t i, std::int64_t j, TracebackWriter &out) const {
        while (i > 0 || j > 0) step(i, j, out);
    }

    // Walks from (i, j) while the current cell scores above zero (local
    // alignment's codes say so); row 0 and column 0 hold zeros, so the walk
    // never leaves the matrix.
    void walk_while_positive(std::int64_t i, std::int64_t j, TracebackWriter &out) const {
        while (tb_[i * cols_ + j] & CELL_POSITIVE) step(i, j, out);
    }

private:
    std::int32_t *row(std::int64_t i) { return score_.data() + (i & 1) * cols_; }

    void step(std::int64_t &i, std::int64_t &j, TracebackWriter &out) const {
        const std::uint8_t code = tb_[i * cols_ + j] & 3;
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

    std::int64_t len_a_;
    std::int64_t cols_;
    Buffer<std::int32_t> score_;
    Buffer<std::uint8_t> tb_;
};

}  // namespace engine
