// Parallel parsing of a whole FASTA or FASTQ text held in memory into the
// flat batch layout (see bio_parse_mem_parallel in engine.h). The text is cut
// into one chunk per worker at record starts, and each chunk into slices.
// The workers first count what every slice holds; once the totals are known
// to fit, they parse the slices again and write their records straight to
// their places in the caller's buffers.
#pragma once

#include <cstdint>

#include "core/tuning.h"

namespace engine {

inline constexpr int MAX_CHUNKS = 64;
// With more than one chunk, each chunk is read in this many slices, which
// the threads take as they become free.
inline constexpr int SLICES_PER_CHUNK = 32;
inline constexpr int MAX_SLICES = MAX_CHUNKS * SLICES_PER_CHUNK;
// Threads that parse n_chunks chunks of a text: one per
// min_text_per_thread() bytes (core/tuning.h), at least one and at most
// n_chunks. The chunks stay as many as the workers asked for (they decide
// the records of mis-framed FASTQ); fewer threads just take more slices each.
int parse_threads(int n_chunks, std::int64_t text_len);

// First record start after `from` (see chunk_bounds), or text_len.
std::int64_t next_record_start(const char *text, std::int64_t text_len, std::int64_t from,
                               bool fastq);

// bounds[0..n_chunks]: 0, then each nominal cut i * text_len / n_chunks moved
// forward to the next record start, then text_len. A FASTA record starts at
// a line beginning with '>'. A FASTQ record starts at a line beginning with
// '@' when that line and the next one end with a line feed and the line after
// them begins with '+', so a quality line beginning with '@' is never taken
// for a header.
void chunk_bounds(const char *text, std::int64_t text_len, bool fastq, int n_chunks,
                  std::int64_t *bounds);

// bounds[0..n_chunks * per_chunk]: each chunk [chunks[k], chunks[k+1]) cut
// into per_chunk slices, at the first record start after each nominal cut
// that lies within the chunk (else at the chunk's end), non-decreasing.
void slice_bounds(const char *text, bool fastq, const std::int64_t *chunks, int n_chunks,
                  int per_chunk, std::int64_t *bounds);

// What all chunks hold together.
struct ParseTotals {
    std::int64_t records = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
    bool too_big = false;  // a record or a slice's record count exceeds 32 bits
};

// True when every offset the call writes fits a signed 32-bit entry:
// packed and header totals always, the quality total when quality offsets
// or values are delivered.
bool offsets_fit(const ParseTotals &totals, bool quals_delivered);

}  // namespace engine
