// Parallel parsing of a whole FASTA or FASTQ text held in memory into the
// flat batch layout (see bio_parse_mem_parallel in engine.h). The text is cut
// into chunks at record starts; each chunk is parsed into growable buffers
// of its own, then the chunks are copied out in text order.
#pragma once

#include <array>
#include <cstdint>

namespace engine {

inline constexpr int MAX_CHUNKS = 64;
// Starting size of every growable chunk buffer, in bytes or entries.
inline constexpr std::int64_t CHUNK_MIN_CAP = 1024;

// The records parsed from one chunk. Zero-filled before its worker starts;
// every buffer grows geometrically from CHUNK_MIN_CAP.
struct chunk_out {
    std::uint8_t *pk_buf;    // packed sequences, back to back
    std::int64_t pk_len;
    std::int64_t pk_cap;     // always one byte beyond pk_len free
    std::uint8_t *q_buf;     // Phred values (FASTQ only)
    std::int64_t q_len;
    std::int64_t q_cap;
    char *nm_buf;            // zero-terminated headers, back to back
    std::int64_t nm_len;
    std::int64_t nm_cap;
    std::uint8_t *seq_tmp;   // the sequence of the record being parsed
    std::int64_t seq_tmp_cap;
    std::int32_t *lens;      // sequence length per record
    std::int32_t n_recs;
    std::int64_t rec_cap;    // entries of lens, prot and nm_sizes
    std::int32_t *prot;      // is_protein per record
    std::int32_t *nm_sizes;  // header length + 1 per record
    std::int32_t failed;     // a reservation failed
    std::int32_t too_big;    // a record or the record count exceeds 32 bits
};

// Releases the buffers of one chunk (not the record itself).
void release_chunk(chunk_out &chunk);

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

// Parses the records that start in [begin, stop) of the text into `chunk`.
struct ParseSettings {
    const char *text;
    std::int64_t text_len;
    bool fastq;          // any format code other than FASTA
    bool make_quals;     // FASTQ proper: one Phred value per code
    std::int32_t protein;
};
class LetterConverter;
struct ChunkTables {
    const LetterConverter &nt;
    const LetterConverter &aa;
    const std::array<std::uint8_t, 256> &aa_only;
};
void parse_chunk(const ParseSettings &settings, const ChunkTables &tables, std::int64_t begin,
                 std::int64_t stop, chunk_out &chunk);

// What all chunks hold together.
struct ParseTotals {
    std::int64_t records = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
    bool too_big = false;
};

// True when every offset the merge writes fits a signed 32-bit entry:
// packed and header totals always, the quality total when quality offsets
// or values are delivered.
bool offsets_fit(const ParseTotals &totals, bool quals_delivered);

}  // namespace engine
