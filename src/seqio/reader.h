// The streaming FASTA/FASTQ reader handle and the routines that the
// single-record reader and the batch reader share.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine.h"
#include "seqio/codes.h"
#include "seqio/pack5_fast.h"

namespace engine {

inline constexpr std::int32_t PARSER_BUF_SIZE = 65536;
inline constexpr std::int32_t BATCH_NAME_MAX = 4096;
inline constexpr std::int32_t BATCH_SEQ_MAX = 16777216;

}  // namespace engine

// Reader handle, opaque to hosts. Allocated zero-filled by bio_parser_open.
// Invariant: 0 <= in_pos <= in_len <= PARSER_BUF_SIZE; bytes before in_pos
// have been consumed.
struct bio_parser_t {
    std::FILE *fp;
    std::uint8_t in_buf[engine::PARSER_BUF_SIZE];
    std::int32_t in_pos;
    std::int32_t in_len;
    std::int32_t at_eof;     // a read of the file returned no data; never cleared
    std::int32_t format;     // FMT_FASTA or FMT_FASTQ
    std::int32_t need_sync;  // 1 until the first FASTQ record has been found
    engine::ByteTable map_nt;
    engine::ByteTable map_aa;
    engine::ByteTable map_aa_only;
    // Batch reader state: the record being assembled (or held back), its
    // scratch buffers (reserved on the first batch call) and its lengths.
    char batch_name[engine::BATCH_NAME_MAX];
    std::uint8_t *batch_seq;
    std::uint8_t *batch_qual;
    std::int32_t pend_seq_len;
    std::int32_t pend_qual_len;
    std::int32_t pend_is_protein;
    std::int32_t has_pending;
    // 1 when a batch call stopped before an over-long sequence after
    // delivering records: the next batch call reports it (-2).
    std::int32_t pend_too_long;
    // Vector lookups over the three tables, built at open. Their 256-bit
    // rows need 32-byte alignment, which the handle's reservation does not
    // promise, so they are placed at an aligned spot of converter_space.
    const engine::LetterConverter *nt_converter;
    const engine::LetterConverter *aa_converter;
    const engine::LetterConverter *aa_only_converter;
    unsigned char converter_space[3 * sizeof(engine::LetterConverter) + alignof(engine::LetterConverter)];
};

namespace engine {

// Same answer as looks_like_protein, with `aa_only` a converter over the
// protein-only flag table: the flags are looked up a block at a time with
// vector shuffles instead of one table load per byte.
bool has_protein_letter(const LetterConverter &aa_only, const std::uint8_t *raw, std::size_t n);

// Moves the unconsumed bytes to the front and reads more behind them; sets
// at_eof when the read returns nothing. Does nothing once at_eof is set.
void _refill_buf(bio_parser_t *reader);

// Consumes the rest of the current line and its line feed. With dst and
// cap >= 1, copies at most cap - 1 bytes of it and a terminating zero.
void _readline(bio_parser_t *reader, char *dst, std::int32_t cap);

// Appends the rest of the current line (without its line end) to dst and
// returns its length, consuming the line feed. A line longer than cap gives
// -1; the reader then stands cap bytes into the line, with dst[0, cap)
// holding those bytes.
std::int32_t _readbytes(bio_parser_t *reader, std::uint8_t *dst, std::int32_t cap);

// Reads one record as bio_parser_next does (same arguments after the
// handle) without clearing the out-parameters first. Returns 1 for a
// record, 0 at the end of input, -2 when the sequence exceeds seq_cap.
std::int32_t _parse_one(bio_parser_t *reader, char *name, std::int32_t name_cap,
                        std::uint8_t *seq, std::int32_t seq_cap, std::int32_t *seq_len,
                        std::int32_t protein, std::int32_t *is_protein, std::uint8_t *qual,
                        std::int32_t *qual_len);

}  // namespace engine
