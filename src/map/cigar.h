// CIGAR text of one mapped alignment, packed into the caller's buffer.
#pragma once

#include <cstdint>

#include "align/traceback_runs.h"

namespace engine {

// Writes "%d%c" for one run at cigar + offset, followed by a zero byte that
// the next run overwrites; returns the characters written (zero excluded).
std::int32_t write_cigar_op(char *at, std::int32_t run, char op);

// Appends the CIGAR of an alignment of n_cols columns, given as the gapped
// reference and gapped read strings, at *offset. Before each run the offset
// must lie below cigar_cap - CIGAR_RESERVE; when it does not, the hit gets
// no CIGAR and *offset returns to where it began (bytes already written stay
// as they are). Returns the length of the text kept, 0 when none.
std::int32_t append_cigar(const char *gapped_ref, const char *gapped_read, std::int32_t n_cols,
                          char *cigar, std::int32_t cigar_cap, std::int32_t *offset);

// The same for an alignment walked into runs of moves (TracebackRuns, last
// column first), A being the reference and B the read: the same text as
// append_cigar over its gapped strings.
std::int32_t append_cigar_moves(const std::uint64_t *runs, std::int64_t n_runs, char *cigar,
                                std::int32_t cigar_cap, std::int32_t *offset);

// The same for an alignment that is one run of `run` columns of `op`.
std::int32_t append_cigar_run(std::int32_t run, char op, char *cigar, std::int32_t cigar_cap,
                              std::int32_t *offset);

}  // namespace engine
