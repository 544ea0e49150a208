#include "map/cigar.h"

#include "map/map_one.h"

namespace engine {

namespace {

// I: the reference row has the gap (a read base missing from the
// reference); D: the read row has it; M: two residues, equal or not.
char column_op(char ref_letter, char read_letter) {
    if (ref_letter == '-') return 'I';
    if (read_letter == '-') return 'D';
    return 'M';
}

}  // namespace

std::int32_t write_cigar_op(char *at, std::int32_t run, char op) {
    // Same bytes as snprintf("%d%c"): runs are positive, at most 10 digits.
    char digits[10];
    std::int32_t n = 0;
    auto value = static_cast<std::uint32_t>(run);
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::int32_t i = 0; i < n; ++i) at[i] = digits[n - 1 - i];
    at[n] = op;
    at[n + 1] = '\0';
    return n + 1;
}

namespace {

// Room for one more run: the write offset lies below the capacity less the
// reserve (64-bit, so a tiny or negative capacity cannot wrap around).
bool run_fits(std::int32_t at, std::int32_t cigar_cap) {
    return at < static_cast<std::int64_t>(cigar_cap) - CIGAR_RESERVE;
}

}  // namespace

namespace {

// Writes the runs `next_run(run, op)` yields, in order, under the room rule;
// on the first run that does not fit, the hit gets no CIGAR and *offset
// returns to where it began.
template <class NextRun>
std::int32_t append_runs(NextRun &&next_run, char *cigar, std::int32_t cigar_cap,
                         std::int32_t *offset) {
    const std::int32_t start = *offset;
    std::int32_t at = start;
    std::int32_t run = 0;
    char op = 0;
    while (next_run(run, op)) {
        if (!run_fits(at, cigar_cap)) {
            *offset = start;
            return 0;
        }
        at += write_cigar_op(cigar + at, run, op);
    }
    *offset = at;
    return at - start;
}

}  // namespace

std::int32_t append_cigar(const char *gapped_ref, const char *gapped_read, std::int32_t n_cols,
                          char *cigar, std::int32_t cigar_cap, std::int32_t *offset) {
    std::int32_t col = 0;
    const auto next_run = [&](std::int32_t &run, char &op) {
        if (col >= n_cols) return false;
        op = column_op(gapped_ref[col], gapped_read[col]);
        std::int32_t end = col + 1;
        while (end < n_cols && column_op(gapped_ref[end], gapped_read[end]) == op) ++end;
        run = end - col;
        col = end;
        return true;
    };
    return append_runs(next_run, cigar, cigar_cap, offset);
}

std::int32_t append_cigar_moves(const std::uint64_t *runs, std::int64_t n_runs, char *cigar,
                                std::int32_t cigar_cap, std::int32_t *offset) {
    // The walk met the runs last column first.
    std::int64_t r = n_runs;
    const auto next_run = [&](std::int32_t &run, char &op) {
        if (r == 0) return false;
        const std::uint64_t entry = runs[--r];
        // A over a gap is a gap in the read row (D); a gap over B is a read
        // base missing from the reference (I).
        const std::uint8_t move = TracebackRuns::run_move(entry);
        op = move == TB_DIAG ? 'M' : move == TB_UP ? 'D' : 'I';
        run = static_cast<std::int32_t>(TracebackRuns::run_length(entry));
        return true;
    };
    return append_runs(next_run, cigar, cigar_cap, offset);
}

std::int32_t append_cigar_run(std::int32_t run, char op, char *cigar, std::int32_t cigar_cap,
                              std::int32_t *offset) {
    if (!run_fits(*offset, cigar_cap)) return 0;
    const std::int32_t written = write_cigar_op(cigar + *offset, run, op);
    *offset += written;
    return written;
}

}  // namespace engine
