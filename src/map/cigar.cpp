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

std::int32_t append_cigar(const char *gapped_ref, const char *gapped_read, std::int32_t n_cols,
                          char *cigar, std::int32_t cigar_cap, std::int32_t *offset) {
    const std::int32_t start = *offset;
    std::int32_t at = start;
    std::int32_t col = 0;
    while (col < n_cols) {
        const char op = column_op(gapped_ref[col], gapped_read[col]);
        std::int32_t end = col + 1;
        while (end < n_cols && column_op(gapped_ref[end], gapped_read[end]) == op) ++end;
        if (!run_fits(at, cigar_cap)) {
            *offset = start;
            return 0;
        }
        at += write_cigar_op(cigar + at, end - col, op);
        col = end;
    }
    *offset = at;
    return at - start;
}

std::int32_t append_cigar_run(std::int32_t run, char op, char *cigar, std::int32_t cigar_cap,
                              std::int32_t *offset) {
    if (!run_fits(*offset, cigar_cap)) return 0;
    const std::int32_t written = write_cigar_op(cigar + *offset, run, op);
    *offset += written;
    return written;
}

}  // namespace engine
