/* bioeng_host: the layer between libengine and its users (the bioeng tool,
 * the Python binding, any other host).
 *
 * It opens FASTA/FASTQ input (plain, gzip or BGZF, told apart by content;
 * "-" is standard input), checks it and reports bad input with the file and
 * line, reads a reference and indexes it, maps reads batch by batch and
 * formats the hits as PAF or SAM, and summarises sequence files.
 *
 * Conventions:
 * - Every object is an opaque handle made by a *_new call, which returns
 *   NULL only when memory is exhausted, and released by the matching *_free
 *   call, which accepts NULL.
 * - Calls that can fail return BH_OK (0) or a negative BH_ERR_* code and
 *   leave a message in their handle (*_error), which stays valid until the
 *   next call on that handle. Messages name the file they are about.
 * - Options travel in structs whose first field is their size: fill one with
 *   its *_init call, giving the size of your struct (sizeof), then change
 *   fields. Later versions may add fields at the end: init writes only the
 *   bytes you gave, and a struct from an older caller keeps the defaults for
 *   the fields it lacks.
 * - A handle is used by one thread at a time; different handles are
 *   independent. No C++ exception leaves this interface.
 */
#ifndef BIOENG_HOST_H
#define BIOENG_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    BH_OK = 0,
    BH_ERR_INPUT = -1,    /* missing, unreadable, malformed or corrupt input */
    BH_ERR_NOMEM = -2,    /* memory could not be reserved */
    BH_ERR_ARGUMENT = -3, /* an argument or option out of its range, or a call out of order */
    BH_ERR_INTERNAL = -4  /* a fault of this library */
};

/* Version of the layer, "MAJOR.MINOR.PATCH". */
const char *bh_version(void);

/* ------------------------------------------------------------ reading */

typedef struct bh_read_options {
    uint32_t size;       /* sizeof(bh_read_options), set by bh_read_options_init */
    int32_t threads;     /* parser threads; 0 uses every processor [0] */
    int32_t protein;     /* 0 nucleotide codes, 1 protein codes, -1 detect per record [0] */
    int32_t keep_empty;  /* 1 delivers records with an empty sequence too [0] */
    int64_t batch_bytes; /* text per batch, 1024 to 2^30 [16777216] */
} bh_read_options;

/* Writes the defaults into the first `size` bytes of *opt (at most
 * sizeof(bh_read_options)) and sets opt->size. */
void bh_read_options_init(bh_read_options *opt, size_t size);

typedef struct bh_reader bh_reader;

bh_reader *bh_reader_new(void);
void bh_reader_free(bh_reader *r);
/* Opens a file ("-": standard input); opt may be NULL for the defaults. */
int bh_reader_open(bh_reader *r, const char *path, const bh_read_options *opt);
/* Reads `len` bytes at `data`, which must stay valid while the reader is
 * used; `label` names them in messages. */
int bh_reader_open_memory(bh_reader *r, const void *data, size_t len, const char *label,
                          const bh_read_options *opt);
/* The next batch of records: 1 when there is one, 0 at the end of the input
 * (an input without any record is an error), or a BH_ERR_* code. */
int bh_reader_next(bh_reader *r);
/* The current batch; i from 0 to count - 1. */
int32_t bh_reader_count(const bh_reader *r);
const char *bh_reader_header(const bh_reader *r, int32_t i); /* the line after '>' or '@' */
/* The record's name as PAF and SAM print it: the header up to its first
 * space or tab, "*" when that is empty; *len bytes, not zero-terminated. */
const char *bh_reader_name(const bh_reader *r, int32_t i, size_t *len);
int32_t bh_reader_length(const bh_reader *r, int32_t i);
int32_t bh_reader_is_protein(const bh_reader *r, int32_t i);
void bh_reader_codes(const bh_reader *r, int32_t i, uint8_t *out); /* length() codes */
const uint8_t *bh_reader_quals(const bh_reader *r, int32_t i);  /* Phred values; NULL for FASTA */
/* 1 FASTA, 2 FASTQ, 0 before the first batch. */
int32_t bh_reader_format(const bh_reader *r);
/* "plain", "gzip" or "bgzf". */
const char *bh_reader_compression(const bh_reader *r);
/* Decompressed bytes consumed so far. */
uint64_t bh_reader_bytes_read(const bh_reader *r);
/* Bytes taken from the file itself so far (compressed bytes for compressed
 * input), to compare with the file's size for progress. */
uint64_t bh_reader_input_bytes(const bh_reader *r);
const char *bh_reader_error(const bh_reader *r);

/* ---------------------------------------------------------- summaries */

typedef struct bh_stats bh_stats;

bh_stats *bh_stats_new(void);
void bh_stats_free(bh_stats *s);
/* Counts the records of the reader's current batch. */
int bh_stats_add(bh_stats *s, const bh_reader *r);
uint64_t bh_stats_records(const bh_stats *s);
/* records, bases, min_len, max_len, avg_len, N50, GC, tab-separated, without
 * a line end; NULL when memory is exhausted. Valid until the next call. */
const char *bh_stats_row(bh_stats *s);
const char *bh_stats_error(const bh_stats *s);

/* ------------------------------------------------------------ mapping */

typedef struct bh_map_options {
    uint32_t size;     /* sizeof(bh_map_options), set by bh_map_options_init */
    int32_t k;         /* k-mer length, 1..32 [15] */
    int32_t w;         /* minimizer window [10] */
    int32_t max_occ;   /* minimizers occurring more often are dropped; 0 keeps all [500] */
    int32_t max_hits;  /* hits per read, 1..1000 [5] */
    double min_score;  /* least chain score, finite [40] */
    int32_t threads;   /* parser and mapping threads; 0 uses every processor [0] */
    int32_t sam;       /* 0 PAF, 1 SAM [0] */
    int32_t raw_hits;  /* 1 prints the library's hits unchanged (window-long
                          alignments, no clipping, no tags beyond tp/cg/NM/AS) [0] */
    int32_t cs;        /* 1 adds the cs tag to PAF lines [0] */
    int32_t md;        /* 1 adds the MD tag to SAM records [0] */
    int32_t secondaries;     /* 0 reports no secondary hits [1] */
    double secondary_ratio;  /* least chain score of a secondary hit, as a
                                fraction of the part it competes with, 0..1 [0.8] */
    /* A read group for SAM: a header line "@RG<tab>ID:...<tab>..." where the
     * two characters backslash and t may stand for a tab; it goes into the
     * header and every record gets RG:Z:<ID>. It is read (and checked) by
     * bh_mapper_load. NULL or "" for none [NULL] */
    const char *read_group;
    int32_t paf_beside_sam; /* with sam = 1, every batch is formatted as PAF
                               too, for bh_mapper_paf [0] */
} bh_map_options;

/* Writes the defaults into the first `size` bytes of *opt (at most
 * sizeof(bh_map_options)) and sets opt->size. */
void bh_map_options_init(bh_map_options *opt, size_t size);
/* Sets the fields a preset tunes (k, w, max_occ, max_hits, min_score,
 * secondary_ratio) that lie within opt->size, leaving the others as they
 * are; set fields of your own afterwards.
 * Presets: "map-ont" (noisy long reads), "map-pb" (PacBio long reads),
 * "sr" (short accurate reads). BH_ERR_ARGUMENT for another name. */
int bh_map_options_preset(bh_map_options *opt, const char *name);
/* The preset names, separated by commas ("map-ont,map-pb,sr"). */
const char *bh_map_presets(void);

typedef struct bh_mapper bh_mapper;

bh_mapper *bh_mapper_new(void);
void bh_mapper_free(bh_mapper *m);
/* Reads the reference file and builds its index with the options. */
int bh_mapper_load(bh_mapper *m, const char *ref_path, const bh_map_options *opt);
/* The SAM header (@HD, @SQ per reference sequence, @PG with command_line).
 * *text stays valid until the next call on m. */
int bh_mapper_sam_header(bh_mapper *m, const char *command_line, const char **text,
                         size_t *len);
/* Maps the reader's current batch and formats every record (PAF lines, or
 * SAM records with flag 4 for unmapped reads). *text stays valid until the
 * next call on m; the output is the same for any thread count. */
int bh_mapper_map(bh_mapper *m, const bh_reader *reads, const char **text, size_t *len);
/* With paf_beside_sam: the PAF records of the batch bh_mapper_map last
 * mapped (and returned as SAM). *text stays valid until the next call on m. */
int bh_mapper_paf(bh_mapper *m, const char **text, size_t *len);

/* What the mapper has mapped since bh_mapper_load. Records are PAF lines
 * (and mapped SAM records): primary + secondary + supplementary. */
typedef struct bh_map_counts {
    uint32_t size;          /* sizeof(bh_map_counts), set by the caller */
    uint64_t reads;
    uint64_t bases;
    uint64_t mapped_reads;  /* reads with a primary record */
    uint64_t mapped_bases;  /* bases of those reads */
    uint64_t primary;
    uint64_t secondary;
    uint64_t supplementary;
} bh_map_counts;

/* Fills the first out->size bytes of *out. */
int bh_mapper_counts(const bh_mapper *m, bh_map_counts *out);
int32_t bh_mapper_n_refs(const bh_mapper *m);
const char *bh_mapper_error(const bh_mapper *m);

/* ------------------------------------------------------------ reports */

/* A picture of mapping results: identity and mapping-quality histograms,
 * read length against identity, coverage along each reference sequence,
 * as one self-contained HTML page with inline SVG. */
typedef struct bh_report bh_report;

bh_report *bh_report_new(void);
void bh_report_free(bh_report *r);
/* Adds every line of a PAF file ("-": standard input; plain or gzip). A
 * line that is not PAF is an error naming the file and line. */
int bh_report_add_paf(bh_report *r, const char *path);
/* The page; `title` names the input. *text stays valid until the next call
 * on r. */
int bh_report_html(bh_report *r, const char *title, const char **text, size_t *len);
const char *bh_report_error(const bh_report *r);

#ifdef __cplusplus
}
#endif

#endif /* BIOENG_HOST_H */
