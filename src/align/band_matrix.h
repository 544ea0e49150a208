// Band matrices of the row-by-row banded aligners (global and semiglobal):
// n + 1 rows of 2w + 1 slots, cell (i, j) at slot j - i + w of row i, so
// the main diagonal is slot w of every row. The traceback walk over this
// layout also serves the anti-diagonal sweep, which stores its codes the
// same way.
#pragma once

#include <algorithm>
#include <cstdint>

#include "align/align_common.h"
#include "align/row_kernel.h"
#include "align/score32.h"
#include "core/buffer.h"

namespace engine {

// Half-width actually used for a caller's band (0 or more). A band at least
// as wide as the longer sequence already holds every cell of the matrix, so
// narrowing it to max(len_a, len_b) changes no result, and it keeps the row
// width 2w + 1 and the slot count far from overflow for any band argument.
inline std::int64_t effective_band(std::int32_t band, std::int32_t len_a, std::int32_t len_b) {
    return std::min<std::int64_t>(band, std::max(len_a, len_b));
}

// Slots in one band row.
inline std::int64_t band_width(std::int64_t w) { return 2 * w + 1; }

// Walks from cell (i, j) to (0, 0), emitting every column into `out` (a
// TracebackWriter or anything with its diag/up/left);
// `code_at(i, j)` gives the code of a band cell (|j - i| <= w) in whatever
// layout the codes are stored. Outside the band (only when the walk starts
// there) it steps diagonally until one sequence is used up; row 0 and
// column 0 force left and up steps whatever the code.
template <class CodeAt, class Columns>
inline void walk_band_traceback(CodeAt &&code_at, std::int64_t i, std::int64_t j, std::int64_t w,
                                Columns &out) {
    while (i > 0 || j > 0) {
        const std::int64_t k = j - i + w;
        const std::uint8_t code =
            (k >= 0 && k <= 2 * w) ? std::uint8_t{code_at(i, j)} : std::uint8_t{TB_DIAG};
        if (code == TB_DIAG && i > 0 && j > 0) {
            out.diag(i, j);
            --i;
            --j;
        } else if (j == 0 || (code == TB_UP && i > 0)) {
            out.up(i);
            --i;
        } else {
            out.left(j);
            --j;
        }
    }
}

// The same walk over codes stored row by row, 2w + 1 per row, cell (i, j)
// at j - i + w of row i.
inline void walk_band_traceback(const std::uint8_t *tb, std::int64_t i, std::int64_t j,
                                std::int64_t w, TracebackWriter &out) {
    const std::int64_t width = band_width(w);
    walk_band_traceback([&](std::int64_t r, std::int64_t c) { return tb[r * width + c - r + w]; },
                        i, j, w, out);
}

// Score and traceback matrices of one banded alignment. Slots are not set
// to NEG_INF and TB_DIAG in advance: the fill, the end-cell choice and the
// walk only ever read band cells inside the matrix, and each of those is a
// border cell or a filled one (every such cell is reachable), so a slot
// that is never written is never read either.
class BandMatrices {
public:
    // Reserves the score matrix, then the traceback matrix.
    [[nodiscard]] bool reserve(std::int64_t len_a, std::int64_t w) {
        w_ = w;
        width_ = band_width(w);
        const auto slots = static_cast<std::size_t>((len_a + 1) * width_);
        return score_.allocate(slots) && tb_.allocate(slots);
    }

    // Cell (0, 0), row 0 for j = 1 .. min(len_b, w) at `row0_gap` per column,
    // column 0 for i = 1 .. min(len_a, w) at `gap` per row.
    void set_borders(std::int64_t len_a, std::int64_t len_b, std::int32_t row0_gap,
                     std::int32_t gap) {
        score_[w_] = 0;
        tb_[w_] = TB_DIAG;
        for (std::int64_t j = 1; j <= std::min(len_b, w_); ++j) {
            score_[w_ + j] = mul32(j, row0_gap);
            tb_[w_ + j] = TB_LEFT;
        }
        for (std::int64_t i = 1; i <= std::min(len_a, w_); ++i) {
            score_[i * width_ + w_ - i] = mul32(i, gap);
            tb_[i * width_ + w_ - i] = TB_UP;
        }
    }

    // Fills rows 1 .. len_a over their band cells with j >= 1, in increasing j.
    void fill(const std::uint8_t *seq_a, std::int64_t len_a, const std::uint8_t *seq_b,
              std::int64_t len_b, std::int32_t match, std::int32_t mismatch, std::int32_t gap) {
        for (std::int64_t i = 1; i <= len_a; ++i)
            fill_row(i, seq_a[i - 1], seq_b, len_b, {match, mismatch, gap});
    }

    // Score of cell (i, j), NEG_INF when it lies outside the band.
    std::int32_t score_at(std::int64_t i, std::int64_t j) const {
        const std::int64_t k = j - i + w_;
        return (k >= 0 && k < width_) ? score_[i * width_ + k] : NEG_INF;
    }

    void walk(std::int64_t i, std::int64_t j, TracebackWriter &out) const {
        walk_band_traceback(tb_.data(), i, j, w_, out);
    }

private:
    // Row i over slots k = j - i + w for j = max(1, i - w) .. min(len_b, i + w).
    // The diagonal predecessor sits at slot k of the row above, the up one at
    // k + 1 (none at k = 2w), the left one at k - 1 of this row (none at
    // k = 0). Every predecessor that exists is a band cell inside the matrix,
    // and every such cell is reachable (diagonal steps, then at most w gap
    // steps, stay in the band), so only the missing ones need NEG_INF.
    void fill_row(std::int64_t i, std::uint8_t a, const std::uint8_t *seq_b, std::int64_t len_b,
                  Scoring sc) {
        const std::int64_t j_lo = std::max<std::int64_t>(1, i - w_);
        const std::int64_t j_hi = std::min(len_b, i + w_);
        if (j_lo > j_hi) return;
        const std::int64_t k_lo = j_lo - i + w_, k_hi = j_hi - i + w_;
        const std::int64_t last = 2 * w_;
        const std::int32_t *prev = score_.data() + (i - 1) * width_;
        std::int32_t *cur = score_.data() + i * width_;
        std::uint8_t *codes = tb_.data() + i * width_;
        const std::uint8_t *b = seq_b + j_lo - 1;  // B's code for slot k is b[k - k_lo]
        auto edge_cell = [&](std::int64_t k, std::int32_t up, std::int32_t left) {
            return fill_cell<DiagonalFloor::none>(
                add32(prev[k], pair_score(a, b[k - k_lo], sc.match, sc.mismatch)), up, left,
                cur[k], codes[k]);
        };
        std::int64_t k = k_lo;
        std::int32_t left = k > 0 ? cur[k - 1] : NEG_INF;
        if (k == 0) {
            left = edge_cell(0, last > 0 ? add32(prev[1], sc.gap) : NEG_INF, NEG_INF);
            k = 1;
        }
        const std::int64_t k_inner_hi = std::min(k_hi, last - 1);
        if (k <= k_inner_hi) {
            left = fill_run<DiagonalFloor::none>(prev + k, prev + k + 1, b + (k - k_lo),
                                                 k_inner_hi - k + 1, a, left, sc, cur + k,
                                                 codes + k)
                       .last;
            k = k_inner_hi + 1;
        }
        if (k == last && k <= k_hi) edge_cell(last, NEG_INF, add32(left, sc.gap));
    }

    Buffer<std::int32_t> score_;
    Buffer<std::uint8_t> tb_;
    std::int64_t w_ = 0;
    std::int64_t width_ = 1;
};

}  // namespace engine
