/* SPDX-License-Identifier: MIT */
/*
 * engine.h: DNA-sequence routines with a flat C interface.
 *
 * Conventions shared by every function below:
 *  - Sequences are residue codes, one unsigned byte per position:
 *    A=0 C=1 G=2 T/U=3, amino acids 4..23, stop 24, gap 25, unknown 31
 *    (N and every other letter).
 *  - Results are signed integers: a count or length >= 0 on success;
 *    -1 when working memory cannot be reserved or a required handle is
 *    null; -2 when a caller's buffer is too small for a record (readers).
 *  - The library keeps no global state, prints nothing and creates no
 *    threads of its own. bio_parse_mem_parallel, bio_map_batch and
 *    bio_index_build open OpenMP parallel regions; every other routine is
 *    re-entrant.
 *  - All output goes into caller-provided buffers. Arguments are not
 *    validated beyond what each function documents.
 *  - Positions are 0-based, ranges half-open.
 */
#ifndef ENGINE_H
#define ENGINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Residue packing: five bits per code, most significant bit first.
 * A packed sequence of n codes occupies (5n + 7) / 8 bytes; bio_pack5
 * writes one more zero byte after them.
 * ---------------------------------------------------------------------- */

/* Packs n codes (low five bits of each) into out_buf, which must hold
 * (5n + 7) / 8 + 1 bytes; every one of them is written. */
void bio_pack5(const uint8_t *codes, int32_t n, uint8_t *out_buf);

/* Unpacks n codes (0..31) into out_buf; n <= 0 unpacks nothing. */
void bio_unpack5(const uint8_t *packed, int32_t n, uint8_t *out_buf);

/* Code at position i of a packed sequence (i is not range-checked). */
int32_t bio_getitem5(const uint8_t *packed, uint32_t i);

/* ------------------------------------------------------------------------
 * Compression entry points. This build has no compression support: each
 * call ignores its arguments, touches no memory and returns a fixed value
 * (0 for the two predicates, -1 for the others). Hosts decompress
 * themselves (the command-line tool does) and hand plain text in.
 * ---------------------------------------------------------------------- */
int64_t bio_has_libdeflate(void);
int64_t bio_gzip_decompress(const uint8_t *src, int64_t src_len, uint8_t *dst, int64_t dst_cap);
int64_t bio_is_bgzf(const uint8_t *data, int64_t len);
int64_t bio_bgzf_usize(const uint8_t *src, int64_t src_len);
int64_t bio_bgzf_decompress_parallel(const uint8_t *src, int64_t src_len, uint8_t *dst,
                                     int64_t dst_cap, int32_t n_threads);
int64_t bio_bgzf_compress(const uint8_t *src, int64_t src_len, uint8_t *dst, int64_t dst_cap,
                          int32_t level);

/* ------------------------------------------------------------------------
 * Streaming FASTA/FASTQ reader. One handle per file, one thread at a time
 * per handle; different handles are independent.
 * ---------------------------------------------------------------------- */

/* Format codes. */
#define BIO_FMT_FASTA 1
#define BIO_FMT_FASTQ 2

typedef struct bio_parser_t bio_parser_t;

/* Opens a reader on a plain-text FASTA or FASTQ file (format decided by the
 * first byte that is not a line feed, carriage return or space: '@' means
 * FASTQ, anything else FASTA). Returns null when the file cannot be opened,
 * memory cannot be reserved, or the file is gzip-compressed.
 * Caution: the readers cannot tell a failed read from the end of the file.
 * A directory opens (fopen succeeds on it) and then reads as an empty file,
 * and a read error (EIO, EISDIR, ...) ends the input as if the file ended
 * there: the next call returns 0. Hosts that must not mistake either for a
 * complete file check the path (stat) and the stream themselves. */
bio_parser_t *bio_parser_open(const char *filename);

/* Reads the next record. name (may be null) receives the zero-terminated
 * header, cut to name_cap - 1 bytes; seq receives up to seq_cap codes;
 * qual (with qual_len) receives Phred values, also bounded by seq_cap.
 * protein: 1 protein table, 0 nucleotide table, -1 detect per FASTA record.
 * Out-parameters are set to 0 before reading.
 * Returns 1 for a record, 0 at end of input, -1 for a null reader, -2 when
 * the sequence is longer than seq_cap (the reader then skips that record). */
int32_t bio_parser_next(bio_parser_t *reader, char *name, int32_t name_cap, uint8_t *seq,
                        int32_t seq_cap, int32_t *seq_len, int32_t protein, int32_t *is_protein,
                        uint8_t *qual, int32_t *qual_len);

/* Closes the file and releases the reader; null is accepted. */
void bio_parser_close(bio_parser_t *reader);

/* Reads up to max_records records into flat buffers: zero-terminated
 * headers (name_offs), five-bit packed sequences (packed_offs, seq_lens),
 * alphabet flags, and Phred qualities when quals is given (qual_offs).
 * Offset arrays have max_records + 1 entries and start at 0.
 * Returns the number of records delivered (0 at end of input), -1 for a
 * null reader or when scratch memory cannot be reserved, -2 otherwise (below).
 *
 * A record fits when its header and zero byte fit in names, its qualities
 * (when quals is given) in quals, and its packed codes plus ONE MORE BYTE in
 * packed: bio_pack5 writes a zero byte after the last packed record, so
 * packed_cap must exceed the sum of the packed sizes, (5n + 7) / 8 each.
 * A packed_cap equal to the packed size of the first record gives -2.
 *
 * -2 has two meanings, which need different handling:
 *  (a) the first record of the call does not fit the buffers. It is held
 *      back and delivered first by the next call, once the buffers are
 *      large enough; calling again with the same buffers returns -2 again.
 *  (b) a sequence longer than 16,777,216 codes. That record is lost and
 *      nothing is held back. When records came before it in the same call,
 *      the call returns those and the next call returns -2. The calls
 *      after that go on with the records that follow it.
 * A caller tells them apart by its buffer sizes: with names_cap >= 4,096,
 * packed_cap >= 10,485,761 (16,777,216 codes packed, plus one) and either
 * quals null or quals_cap >= 16,777,216, every record that the reader can
 * deliver fits, so -2 can only mean (b). With smaller buffers, a retry
 * with buffers that large tells: after (a) it delivers the held-back
 * record, after (b) whatever follows. */
int32_t bio_parser_next_batch(bio_parser_t *reader, int32_t max_records, int32_t protein,
                              char *names, int32_t names_cap, int32_t *name_offs,
                              uint8_t *packed, int32_t packed_cap, int32_t *packed_offs,
                              int32_t *seq_lens, int32_t *is_protein, uint8_t *quals,
                              int32_t quals_cap, int32_t *qual_offs);

/* ------------------------------------------------------------------------
 * Parallel parsing of a FASTA (fmt 1) or FASTQ (fmt 2) text held in memory,
 * into the same flat layout. Records come out in text order whatever the
 * thread count. Returns the record count, -1 when memory cannot be
 * reserved, -2 when an output buffer is too small (nothing is written).
 * As for bio_parser_next_batch, packed_cap must be at least one byte more
 * than the sum of the packed sizes (the zero byte after the last record);
 * the exact sum gives -2. */
int32_t bio_parse_mem_parallel(const char *text, int64_t text_len, int32_t fmt, int32_t n_threads,
                               int32_t protein, char *names, int32_t names_cap,
                               int32_t *name_offs, uint8_t *packed, int64_t packed_cap,
                               int32_t *packed_offs, int32_t *seq_lens, int32_t *is_protein,
                               uint8_t *quals, int64_t quals_cap, int32_t *qual_offs,
                               int32_t max_records);

/* ------------------------------------------------------------------------
 * Codon translation.
 * ---------------------------------------------------------------------- */

/* Position of the first A,T,G (codes 0,3,2), or -1 when none or n <= 2. */
int32_t bio_find_atg(const uint8_t *codes, int32_t n);

/* out_buf[k] = table[16*c0 + 4*c1 + c2] for codon k, or 31 when that index
 * exceeds 63. n_codons <= 0 translates nothing. */
void bio_translate(const uint8_t *table, const uint8_t *codes, int32_t n_codons,
                   uint8_t *out_buf);

/* ------------------------------------------------------------------------
 * Pairwise alignment with a linear gap score.
 *
 * Every aligner takes: seq_a/len_a, seq_b/len_b (residue codes), decode
 * (letter of each code present), match, mismatch, gap (added per column,
 * signed 32-bit, no separate gap-open score), [band: half-width, banded
 * aligners only], then out_a and out_b (gapped strings, zero-terminated; the
 * caller provides len_a + len_b + 1 bytes each), score, n_match, n_mismatch
 * and n_gap. Returns the number of alignment columns, or -1 when working
 * memory cannot be reserved (or band < 0); on -1 nothing is written, or
 * only score when the failure came after the fill. Ties go to the
 * diagonal, then up (gap in B), then left (gap in A).
 * Banded aligners report score -1073741824 when the end cell lies outside
 * the band and still return a complete alignment.
 *
 * Score range: scores are not clamped and overflow is not detected. Keep
 * (len_a + len_b) x max(|match|, |mismatch|, |gap|) below 2^30; inside that
 * range every score stays above the unreachable marker -2^30, nw_banded,
 * nw_banded_diag and nw_banded_diag_simd return exactly the same score,
 * strings, counters and result. Outside it the outputs are unspecified and
 * the banded aligners may differ from each other.
 * ---------------------------------------------------------------------- */
int32_t nw_global(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b, int32_t len_b,
                  const char *decode, int32_t match, int32_t mismatch, int32_t gap, char *out_a,
                  char *out_b, int32_t *score, int32_t *n_match, int32_t *n_mismatch,
                  int32_t *n_gap);

/* B's leading residues free; at the end either B's or A's trailing
 * residues free, whichever scores best. */
int32_t nw_semiglobal(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b, int32_t len_b,
                      const char *decode, int32_t match, int32_t mismatch, int32_t gap,
                      char *out_a, char *out_b, int32_t *score, int32_t *n_match,
                      int32_t *n_mismatch, int32_t *n_gap);

/* Best local alignment; score is never negative. */
int32_t sw_align(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b, int32_t len_b,
                 const char *decode, int32_t match, int32_t mismatch, int32_t gap, char *out_a,
                 char *out_b, int32_t *score, int32_t *n_match, int32_t *n_mismatch,
                 int32_t *n_gap);

/* Global alignment over cells with |j - i| <= band. */
int32_t nw_banded(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b, int32_t len_b,
                  const char *decode, int32_t match, int32_t mismatch, int32_t gap, int32_t band,
                  char *out_a, char *out_b, int32_t *score, int32_t *n_match,
                  int32_t *n_mismatch, int32_t *n_gap);

/* Banded, with B's leading residues inside the band and A's trailing
 * residues free. */
int32_t nw_banded_semiglobal(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b,
                             int32_t len_b, const char *decode, int32_t match, int32_t mismatch,
                             int32_t gap, int32_t band, char *out_a, char *out_b, int32_t *score,
                             int32_t *n_match, int32_t *n_mismatch, int32_t *n_gap);

/* Same results as nw_banded, swept along anti-diagonals with three score
 * vectors and one traceback byte per band cell. */
int32_t nw_banded_diag(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b, int32_t len_b,
                       const char *decode, int32_t match, int32_t mismatch, int32_t gap,
                       int32_t band, char *out_a, char *out_b, int32_t *score, int32_t *n_match,
                       int32_t *n_mismatch, int32_t *n_gap);

/* Same results as nw_banded_diag, computed with AVX2 vectors: 16-bit lanes
 * when both lengths are at most 12,000 and the scores provably fit, 32-bit
 * lanes otherwise (so within the score range above it always equals
 * nw_banded_diag). Needs a processor with AVX2; there is no run-time check. */
int32_t nw_banded_diag_simd(const uint8_t *seq_a, int32_t len_a, const uint8_t *seq_b,
                            int32_t len_b, const char *decode, int32_t match, int32_t mismatch,
                            int32_t gap, int32_t band, char *out_a, char *out_b, int32_t *score,
                            int32_t *n_match, int32_t *n_mismatch, int32_t *n_gap);

/* ------------------------------------------------------------------------
 * Minimizers, index, chaining and read mapping.
 * ---------------------------------------------------------------------- */

/* (w,k)-minimizers of a nucleotide code sequence, in increasing position.
 * The caller provides seq_len - k + 1 entries in each output array.
 * Returns the count, 0 when seq_len < k, -1 when memory cannot be reserved
 * or k is outside 1..32 or w < 1. */
int64_t bio_minimizers(const uint8_t *seq, int64_t seq_len, int32_t k, int32_t w,
                       uint64_t *out_hash, int64_t *out_pos, uint8_t *out_strand);

typedef struct bio_index_t bio_index_t;

/* Builds a minimizer index over ref (one or more sequences concatenated;
 * ref_offsets/ref_lengths describe them, n_refs entries each). Hashes that
 * occur more than max_occ times are dropped (max_occ <= 0: no limit). All
 * inputs are copied. Returns null when memory cannot be reserved or k is
 * outside 1..32 or w < 1. The build runs on the calling thread's OpenMP
 * team (omp_get_max_threads() threads) and gives the same index for any
 * thread count. The built index is read-only: any number of threads may map
 * against it at once. */
bio_index_t *bio_index_build(const uint8_t *ref, int64_t ref_len, int32_t k, int32_t w,
                             int32_t max_occ, const int64_t *ref_offsets,
                             const int64_t *ref_lengths, int32_t n_refs);

/* Number of index entries, or -1 for a null handle. */
int64_t bio_index_n_minimizers(const bio_index_t *idx);

/* Releases an index; null is accepted. */
void bio_index_free(bio_index_t *idx);

/* Colinear chaining dynamic program over n anchors sorted by x:
 * f[i] = best chain score ending at anchor i, prev[i] = its predecessor or
 * -1. Reserves nothing. */
void bio_chain_dp(const int64_t *x, const int64_t *y, int32_t n, int32_t k, int64_t max_dist,
                  int32_t max_lookback, double gap_scale, double *f, int32_t *prev);

/* One alignment hit of a read. Reference coordinates are positions in the
 * concatenated reference; query coordinates are in the read's input
 * orientation. The CIGAR (M/I/D runs, reverse complement of the read for
 * strand 1) is cigar_len bytes at cigar_off of the caller's CIGAR buffer. */
typedef struct bio_map_hit_t {
    double identity;    /* n_match / aln_len, 0 when aln_len is 0 */
    double chain_score; /* score of the chain the hit comes from */
    int64_t ref_start;  /* aligned reference window, concatenated coords */
    int64_t ref_end;    /* exclusive */
    int32_t query_start;
    int32_t query_end;  /* exclusive */
    int32_t strand;     /* 0 forward, 1 reverse complement */
    int32_t n_match;
    int32_t aln_len;    /* matches + mismatches + gap columns */
    int32_t mapq;       /* 0..60; secondary hits get 5 */
    int32_t ref_id;     /* index into the reference table */
    int32_t cigar_off;
    int32_t cigar_len;  /* 0 when the hit has no CIGAR */
} bio_map_hit_t;

/* Maps one read. Writes up to max_hits hits (best chain first) and packs
 * their CIGAR texts into cigar (cigar_cap bytes). Returns the hit count,
 * 0 for a null index or a read shorter than k, -1 when memory for the
 * read's minimizers, anchors, chains or alignment buffers cannot be
 * reserved (nothing written).
 * Not every memory failure is reported: when the aligner of one chain's
 * window cannot reserve its own working memory, that chain gives no hit and
 * mapping goes on with the next chain. The result is then a valid, smaller
 * hit count, not -1; if the best chain was the one skipped, no hit of the
 * read gets a mapping quality above 5. A CIGAR that does not fit in what is
 * left of cigar (15 bytes are kept in reserve) is dropped: the hit stays,
 * with cigar_len 0. */
int32_t bio_map_read(const bio_index_t *idx, const uint8_t *seq, int32_t qlen, int32_t max_chains,
                     bio_map_hit_t *hits, int32_t max_hits, double min_score, char *cigar,
                     int32_t cigar_cap);

/* Maps n_reads reads (read i = seqs[seq_offs[i] .. seq_offs[i+1])) on
 * n_threads OpenMP threads (<= 0: all processors). Read i owns hit slots
 * [i*max_hits, (i+1)*max_hits), n_hits[i] and the CIGAR region
 * [cigar_offs[i], cigar_offs[i+1]); cigar_off of each hit counts from the
 * start of cigar. Results do not depend on the thread count.
 * Returns 0, or -1 for a null index or when any read ran out of memory
 * (those reads get count 0); an aligner that runs out of memory only costs
 * its chain's hit, as in bio_map_read, and is not reported.
 * Caution: the thread count is set with omp_set_num_threads before the
 * parallel region and stays set for the calling thread after the call
 * returns: later OpenMP regions of the caller (its own included) run with
 * n_threads threads (or all processors for n_threads <= 0). Callers that
 * rely on their own setting restore it after the call
 * (omp_get_max_threads() before, omp_set_num_threads() after). */
int32_t bio_map_batch(const bio_index_t *idx, const uint8_t *seqs, const int64_t *seq_offs,
                      int32_t n_reads, int32_t max_hits, bio_map_hit_t *hits, double min_score,
                      int32_t *n_hits, char *cigar, const int64_t *cigar_offs,
                      int32_t n_threads);

#ifdef __cplusplus
}
#endif

#endif /* ENGINE_H */
