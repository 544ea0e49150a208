// The anti-diagonal sweep of the band shared by nw_banded_diag and the
// vectorised kernels: reservations, borders, sentinels, vector rotation,
// end score and traceback. What differs between them is only how the inner
// cells of an anti-diagonal are computed, which the caller passes in as a
// block filler (the scalar aligner passes none and every cell is computed by
// the single-cell rule).
#pragma once

#include <algorithm>
#include <cstdint>

#include "align/align_common.h"
#include "align/band_matrix.h"
#include "align/score32.h"
#include "core/buffer.h"

namespace engine {

// The calling form of the banded aligners, gathered so the sweep and its
// fillers pass it around as one value.
struct BandedCall {
    const std::uint8_t *seq_a;
    std::int32_t len_a;
    const std::uint8_t *seq_b;
    std::int32_t len_b;
    const char *decode;
    std::int32_t match;
    std::int32_t mismatch;
    std::int32_t gap;
    std::int32_t band;
    char *out_a;
    char *out_b;
    std::int32_t *score;
    std::int32_t *n_match;
    std::int32_t *n_mismatch;
    std::int32_t *n_gap;
};

// Traceback codes stored by anti-diagonal: anti-diagonal d owns `stride`
// consecutive slots, and cell (i, d - i) sits at slot i - lo(d) of them.
// The cells of one anti-diagonal are thus adjacent, so a block of cells
// writes its codes with one vector store (row by row they would take one
// byte store per cell, 2w - 1 bytes apart), and the sweep writes memory
// front to back. No anti-diagonal holds more than min(w, n, m) + 1 cells,
// so the slot count stays close to one per band cell.
class DiagTracebackLayout {
public:
    DiagTracebackLayout(std::int64_t n, std::int64_t m, std::int64_t w)
        : n_(n), m_(m), w_(w), stride_(std::min({w, n, m}) + 1) {}

    std::size_t slots() const { return static_cast<std::size_t>((n_ + m_ + 1) * stride_); }

    // Offset such that the code of cell (i, d - i) is at offset + i.
    std::int64_t diagonal_base(std::int64_t d, std::int64_t lo) const { return d * stride_ - lo; }

    std::int64_t slot(std::int64_t i, std::int64_t j) const {
        const std::int64_t d = i + j;
        return diagonal_base(d, antidiagonal_rows(d, n_, m_, w_).lo) + i;
    }

private:
    std::int64_t n_, m_, w_, stride_;
};

template <class Score>
struct CellChoice {
    Score score;
    std::uint8_t code;
};

// One cell from its three predecessor scores (diagonal, up, left) in the
// score vectors' own type. A predecessor holding `marker` is unreachable and
// its candidate is the marker itself; ties go to the diagonal, then up, then
// left, and a cell with no reachable predecessor keeps the marker and code
// TB_DIAG. Candidates are compared in 32 bits and stored back in the
// vector's width.
//
// Reachable candidates lie strictly above the marker (the callers' score
// range), so the marker candidates lose every comparison, and taking the
// largest candidate with that tie order is the whole rule.
template <class Score>
inline CellChoice<Score> choose_cell(Score diag_pred, Score up_pred, Score left_pred,
                                     std::int32_t pair, std::int32_t gap, Score marker) {
    const std::int32_t none = marker;
    const std::int32_t diag = diag_pred == marker ? none : add32(diag_pred, pair);
    const std::int32_t up = up_pred == marker ? none : add32(up_pred, gap);
    const std::int32_t left = left_pred == marker ? none : add32(left_pred, gap);
    const std::int32_t best_gap = std::max(up, left);
    // Flags and selections rather than branches: the choice follows the data
    // and would mispredict.
    const bool gap_wins = best_gap > diag;
    const bool left_wins = left > up;
    return {static_cast<Score>(std::max(diag, best_gap)),
            static_cast<std::uint8_t>(gap_wins * (TB_UP + left_wins))};
}

// Where one anti-diagonal's cells live while it is being filled.
template <class Score>
struct DiagonalView {
    std::int64_t d;
    const Score *before;  // anti-diagonal d - 2; entry i + 1 is cell i
    const Score *prev;    // anti-diagonal d - 1
    Score *cur;           // anti-diagonal d
    std::uint8_t *codes;  // codes[i] is the traceback slot of cell (i, d - i)
};

// Cells first..last of anti-diagonal v.d by the single-cell rule (all with
// i >= 1 and j >= 1). Kept out of line: inlined into the sweep, the loop
// would share registers with everything the sweep keeps live and spill its
// invariants. The compiler may vectorise it: the values are those of the
// rule cell by cell, which is what makes nw_banded_diag the reference of the
// hand-written kernels.
template <class Score>
[[gnu::noinline]] void fill_single_cells(
    const BandedCall &call, const DiagonalView<Score> &v, std::int64_t first, std::int64_t last,
    Score marker) {
    // Locals, so the byte stores of codes (which may alias anything) do not
    // make the compiler reload the call's fields for every cell.
    const std::uint8_t *const a = call.seq_a;
    const std::uint8_t *const b_back = call.seq_b + (v.d - 1);  // B[j - 1] is b_back[-i]
    const std::int32_t match = call.match, mismatch = call.mismatch, gap = call.gap;
    const Score *const before = v.before;
    const Score *const prev = v.prev;
    Score *const cur = v.cur;
    std::uint8_t *const codes = v.codes;
    for (std::int64_t i = first; i <= last; ++i) {
        const std::int32_t pair = pair_score(a[i - 1], b_back[-i], match, mismatch);
        const CellChoice<Score> c =
            choose_cell<Score>(before[i], prev[i], prev[i + 1], pair, gap, marker);
        cur[i + 1] = c.score;
        codes[i] = c.code;
    }
}

// The whole banded alignment over score vectors of type Score with the
// unreachable marker `marker`, its columns walked into `columns` (a
// TracebackWriter, or a sink with the same reserve/diag/up/left), and the end
// score stored. `fill_blocks(view, first, last)` computes any prefix of the
// cells first..last by the same rule and returns the first cell it left; the
// sweep computes the rest singly. Reservations, in order: traceback matrix,
// three score vectors, then the columns' own. False when one fails or the
// band is negative.
template <class Score, class BlockFiller, class Columns>
bool sweep_and_walk(const BandedCall &call, Score marker, BlockFiller &&fill_blocks,
                    Columns &columns) {
    if (call.band < 0) return false;
    const std::int64_t n = call.len_a, m = call.len_b;
    const std::int64_t w = effective_band(call.band, call.len_a, call.len_b);
    const DiagTracebackLayout layout(n, m, w);

    // Every slot the walk reads belongs to a band cell, and the sweep writes
    // every band cell, so the codes need no zeroing.
    Buffer<std::uint8_t> tb;
    if (!tb.allocate(layout.slots())) return false;
    Buffer<Score> vec0, vec1, vec2;
    const auto entries = static_cast<std::size_t>(n + 3);
    if (!vec0.allocate_filled(entries, marker) || !vec1.allocate_filled(entries, marker) ||
        !vec2.allocate_filled(entries, marker))
        return false;

    Score *before = vec0.data(), *prev = vec1.data(), *cur = vec2.data();
    for (std::int64_t d = 0; d <= n + m; ++d) {
        const RowRange rows = antidiagonal_rows(d, n, m, w);
        const DiagonalView<Score> v{d, before, prev, cur,
                                    tb.data() + layout.diagonal_base(d, rows.lo)};
        // Predecessors outside the band read these markers, never what the
        // reused vector held three anti-diagonals ago. No cell of d writes
        // their entries (lo - 1 and hi + 1 are not cells of d), so they go
        // first: the sooner these narrow stores complete, the sooner the
        // wide loads of the next anti-diagonals that span them can proceed.
        if (rows.lo <= n + 2) cur[rows.lo] = marker;
        if (rows.hi <= n) cur[rows.hi + 2] = marker;
        if (rows.lo == 0) {  // row 0: cell (0, d)
            cur[1] = static_cast<Score>(mul32(d, call.gap));
            v.codes[0] = d == 0 ? TB_DIAG : TB_LEFT;
        }
        const std::int64_t first = std::max<std::int64_t>(rows.lo, 1);
        const std::int64_t last = rows.hi < d ? rows.hi : d - 1;
        const std::int64_t rest = first <= last ? fill_blocks(v, first, last) : first;
        if (rest <= last) fill_single_cells<Score>(call, v, rest, last, marker);
        if (rows.hi == d && d > 0) {  // column 0: cell (d, 0)
            cur[d + 1] = static_cast<Score>(mul32(d, call.gap));
            v.codes[d] = TB_UP;
        }
        Score *const reused = before;
        before = prev;
        prev = cur;
        cur = reused;
    }
    const bool end_in_band = m - n + w >= 0 && m - n + w <= 2 * w;
    const std::int32_t end_score = end_in_band ? static_cast<std::int32_t>(prev[n + 1]) : NEG_INF;
    vec0.reset();
    vec1.reset();
    vec2.reset();
    *call.score = end_score;

    if (!columns.reserve(call.len_a, call.len_b)) return false;
    const std::uint8_t *const codes = tb.data();
    walk_band_traceback(
        [&](std::int64_t i, std::int64_t j) { return codes[layout.slot(i, j)]; }, n, m, w,
        columns);
    return true;
}

// The banded alignment written as gapped strings and counters (the calling
// form of nw_banded_diag); -1 when a reservation fails or the band is
// negative.
template <class Score, class BlockFiller>
std::int32_t sweep_banded_diag(const BandedCall &call, Score marker, BlockFiller &&fill_blocks) {
    TracebackWriter columns(call.seq_a, call.seq_b, call.decode);
    if (!sweep_and_walk<Score>(call, marker, fill_blocks, columns)) return -1;
    return columns.finish(call.out_a, call.out_b, call.n_match, call.n_mismatch, call.n_gap);
}

}  // namespace engine
