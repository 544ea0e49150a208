#include "seqio/parse_mem.h"

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/buffer.h"
#include "core/export.h"
#include "engine.h"
#include "seqio/codes.h"
#include "seqio/lines.h"
#include "seqio/pack5.h"
#include "seqio/pack5_fast.h"

namespace engine {

namespace {

constexpr std::int64_t INT32_LIMIT = std::numeric_limits<std::int32_t>::max();

// ---- chunk boundaries ----------------------------------------------------

// A FASTA record starts right after a line feed, at a '>'.
const char *next_fasta_start(const char *p, const char *end) {
    // The first '>' at or after p + 1 whose previous byte is a line feed: the
    // same as walking line feeds from p, but one search per '>' rather than
    // one per line.
    for (const char *q = p + 1; q < end; ++q) {
        q = find_byte(q, end, '>');
        if (q == end) break;
        if (q[-1] == '\n') return q;
    }
    return end;
}

// The "@" line at q and the next line end with line feeds and the line after
// them begins with '+'.
bool fastq_shape_at(const char *q, const char *end) {
    if (q >= end || *q != '@') return false;
    const Line header = line_at(q, end);
    if (!header.terminated) return false;
    const Line sequence = line_at(header.next, end);
    return sequence.terminated && sequence.next < end && *sequence.next == '+';
}

const char *next_fastq_start(const char *p, const char *end) {
    for (const char *lf = find_byte(p, end, '\n'); lf != end; lf = find_byte(lf + 1, end, '\n'))
        if (fastq_shape_at(lf + 1, end)) return lf + 1;
    return end;
}

// ---- growable chunk buffers ----------------------------------------------

// Chunk buffers reach hundreds of megabytes and are written once, front to
// back. With 4 KB pages their first-touch faults cost more than the parsing
// itself, so a large buffer is asked to be backed by huge pages. Growing
// such a buffer in place would remap it and split its huge pages, so a large
// one grows into a fresh reservation instead: the copy of what it holds is
// cheaper than the faults it avoids. The hint may be ignored by the kernel.
constexpr std::int64_t HUGE_PAGE_HINT_BYTES = std::int64_t{4} << 20;
constexpr std::uintptr_t PAGE_BYTES = 4096;

void advise_huge_pages(void *p, std::int64_t bytes) {
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + PAGE_BYTES - 1) & ~(PAGE_BYTES - 1);
    const std::uintptr_t last = (begin + static_cast<std::uintptr_t>(bytes)) & ~(PAGE_BYTES - 1);
    if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

// A buffer of `bytes` holding the first `used` bytes of `old`, which is
// released on success and kept on failure.
void *regrow(void *old, std::int64_t used, std::int64_t bytes) {
    if (bytes < HUGE_PAGE_HINT_BYTES) return mem_realloc(old, static_cast<std::size_t>(bytes));
    void *fresh = mem_alloc(static_cast<std::size_t>(bytes));
    if (!fresh) return nullptr;
    advise_huge_pages(fresh, bytes);
    if (used > 0) std::memcpy(fresh, old, static_cast<std::size_t>(used));
    mem_free(old);
    return fresh;
}

// Grows `buf`, of which `used` elements are in use, to hold `needed`
// elements: the capacity is raised to CHUNK_MIN_CAP, then doubled until it
// suffices.
template <class T>
bool ensure_capacity(T *&buf, std::int64_t &cap, std::int64_t used, std::int64_t needed) {
    if (needed <= cap) return true;
    std::int64_t grown = std::max(cap, CHUNK_MIN_CAP);
    while (grown < needed) grown *= 2;
    constexpr auto size = static_cast<std::int64_t>(sizeof(T));
    void *p = regrow(buf, used * size, grown * size);
    if (!p) return false;
    buf = static_cast<T *>(p);
    cap = grown;
    return true;
}

// The per-record arrays share one capacity, doubled when full.
bool ensure_record_slot(chunk_out &c) {
    if (c.n_recs < c.rec_cap) return true;
    const std::int64_t grown = c.rec_cap ? 2 * c.rec_cap : CHUNK_MIN_CAP;
    const std::int64_t bytes = grown * std::int64_t{sizeof(std::int32_t)};
    for (std::int32_t **array : {&c.lens, &c.prot, &c.nm_sizes}) {
        void *p = regrow(*array, c.n_recs * std::int64_t{sizeof(std::int32_t)}, bytes);
        if (!p) return false;
        *array = static_cast<std::int32_t *>(p);
    }
    c.rec_cap = grown;
    return true;
}

// ---- one chunk -------------------------------------------------------------

class ChunkParser {
public:
    ChunkParser(const ParseSettings &s, const ChunkTables &t, chunk_out &c)
        : s_(s), tables_(t), c_(c), end_(s.text + s.text_len) {}

    void run(const char *a, const char *stop) {
        while (a < stop && !c_.failed && !c_.too_big) {
            const char *next = s_.fastq ? fastq_record(a) : fasta_record(a);
            if (!next) return;
            a = next;
        }
    }

private:
    // Each returns where the next record starts, or null when the chunk ends.
    const char *fasta_record(const char *a);
    const char *fastq_record(const char *a);

    bool fail() {
        c_.failed = 1;
        return false;
    }
    bool append_raw(const char *bytes, std::int64_t at, std::int64_t n);
    bool convert_line(const Line &line, const LetterConverter &table);
    bool append_quals(const char *qual, std::int64_t qual_len, std::int64_t seq_len);
    bool append_record(const Line &header, std::int64_t seq_len, std::int32_t flag);

    const ParseSettings &s_;
    const ChunkTables &tables_;
    chunk_out &c_;
    const char *end_;
};

// Header text: the line less its marker byte.
inline const char *header_begin(const Line &line) {
    return line.end > line.begin ? line.begin + 1 : line.end;
}

const char *ChunkParser::fasta_record(const char *a) {
    const Line header = line_at(a, end_);
    if (!header.terminated || header.next == end_) return nullptr;
    std::int64_t len = 0;
    const char *p = header.next;
    while (p < end_ && *p != '>') {
        const Line line = line_at(p, end_);
        if (!append_raw(line.begin, len, line.end - line.begin)) return nullptr;
        len += line.end - line.begin;
        p = line.next;
    }
    if (len == 0) return p;
    bool protein = s_.protein > 0;
    if (s_.protein < 0) {
        protein = looks_like_protein(tables_.aa_only, c_.seq_tmp, static_cast<std::size_t>(len));
    }
    const std::int32_t flag = s_.protein < 0 ? (protein ? 1 : 0) : (protein ? s_.protein : 0);
    (protein ? tables_.aa : tables_.nt).convert(c_.seq_tmp, static_cast<std::size_t>(len), c_.seq_tmp);
    if (!append_record(header, len, flag)) return nullptr;
    return p;
}

const char *ChunkParser::fastq_record(const char *a) {
    const Line header = line_at(a, end_);
    if (!header.terminated || header.next == end_) return nullptr;
    const Line sequence = line_at(header.next, end_);
    const char *next = sequence.next;
    const char *qual = nullptr;
    std::int64_t qual_len = 0;
    if (next < end_) {
        next = line_at(next, end_).next;  // separator, not examined
        if (next < end_) {
            const Line quality = line_at(next, end_);
            qual = quality.begin;
            qual_len = quality.end - quality.begin;
            next = quality.next;
        }
    }
    const std::int64_t len = sequence.end - sequence.begin;
    if (len == 0) return next;
    const bool protein = s_.protein == 1;
    if (!convert_line(sequence, protein ? tables_.aa : tables_.nt)) return nullptr;
    if (s_.make_quals && !append_quals(qual, qual_len, len)) return nullptr;
    if (!append_record(header, len, protein ? 1 : 0)) return nullptr;
    return next;
}

// Copies raw sequence bytes into seq_tmp at `at`.
bool ChunkParser::append_raw(const char *bytes, std::int64_t at, std::int64_t n) {
    if (n == 0) return true;
    if (!ensure_capacity(c_.seq_tmp, c_.seq_tmp_cap, at, at + n)) return fail();
    std::memcpy(c_.seq_tmp + at, bytes, static_cast<std::size_t>(n));
    return true;
}

// Converts a whole sequence line from the text into seq_tmp.
bool ChunkParser::convert_line(const Line &line, const LetterConverter &table) {
    const std::int64_t n = line.end - line.begin;
    if (!ensure_capacity(c_.seq_tmp, c_.seq_tmp_cap, 0, n)) return fail();
    table.convert(reinterpret_cast<const std::uint8_t *>(line.begin), static_cast<std::size_t>(n), c_.seq_tmp);
    return true;
}

// Exactly seq_len values: the quality line cut or padded with zeros.
bool ChunkParser::append_quals(const char *qual, std::int64_t qual_len, std::int64_t seq_len) {
    if (!ensure_capacity(c_.q_buf, c_.q_cap, c_.q_len, c_.q_len + seq_len)) return fail();
    std::uint8_t *out = c_.q_buf + c_.q_len;
    const std::int64_t kept = std::min(qual_len, seq_len);
    if (kept > 0) std::memcpy(out, qual, static_cast<std::size_t>(kept));
    phred_from_ascii(out, static_cast<std::size_t>(kept));
    std::memset(out + kept, 0, static_cast<std::size_t>(seq_len - kept));
    c_.q_len += seq_len;
    return true;
}

// Packs the codes in seq_tmp and stores the header and per-record entries.
bool ChunkParser::append_record(const Line &header, std::int64_t seq_len, std::int32_t flag) {
    const char *name = header_begin(header);
    const std::int64_t name_len = header.end - name;
    if (seq_len > INT32_LIMIT || name_len + 1 > INT32_LIMIT || c_.n_recs == INT32_LIMIT) {
        c_.too_big = 1;
        return false;
    }
    const std::int64_t packed = packed_bytes64(seq_len);
    if (!ensure_capacity(c_.pk_buf, c_.pk_cap, c_.pk_len, c_.pk_len + packed + 1)) return fail();
    if (!ensure_capacity(c_.nm_buf, c_.nm_cap, c_.nm_len, c_.nm_len + name_len + 1)) return fail();
    if (!ensure_record_slot(c_)) return fail();
    pack5_fast(c_.seq_tmp, static_cast<std::size_t>(seq_len), c_.pk_buf + c_.pk_len);
    c_.pk_len += packed;
    std::memcpy(c_.nm_buf + c_.nm_len, name, static_cast<std::size_t>(name_len));
    c_.nm_buf[c_.nm_len + name_len] = '\0';
    c_.nm_len += name_len + 1;
    c_.lens[c_.n_recs] = static_cast<std::int32_t>(seq_len);
    c_.prot[c_.n_recs] = flag;
    c_.nm_sizes[c_.n_recs] = static_cast<std::int32_t>(name_len + 1);
    ++c_.n_recs;
    return true;
}

}  // namespace

std::int64_t next_record_start(const char *text, std::int64_t text_len, std::int64_t from,
                               bool fastq) {
    const char *end = text + text_len;
    const char *p = text + from;
    return (fastq ? next_fastq_start(p, end) : next_fasta_start(p, end)) - text;
}

void chunk_bounds(const char *text, std::int64_t text_len, bool fastq, int n_chunks,
                  std::int64_t *bounds) {
    bounds[0] = 0;
    for (int i = 1; i < n_chunks; ++i) {
        const auto nominal = static_cast<std::int64_t>(static_cast<double>(i) *
                                                       static_cast<double>(text_len) / n_chunks);
        bounds[i] = std::max(next_record_start(text, text_len, nominal, fastq), bounds[i - 1]);
    }
    bounds[n_chunks] = text_len;
}

void release_chunk(chunk_out &chunk) {
    mem_free(chunk.pk_buf);
    mem_free(chunk.q_buf);
    mem_free(chunk.nm_buf);
    mem_free(chunk.seq_tmp);
    mem_free(chunk.lens);
    mem_free(chunk.prot);
    mem_free(chunk.nm_sizes);
    chunk = chunk_out{};
}

void parse_chunk(const ParseSettings &settings, const ChunkTables &tables, std::int64_t begin,
                 std::int64_t stop, chunk_out &chunk) {
    ChunkParser(settings, tables, chunk).run(settings.text + begin, settings.text + stop);
}

bool offsets_fit(const ParseTotals &totals, bool quals_delivered) {
    if (totals.too_big) return false;
    if (totals.packed > INT32_LIMIT || totals.names > INT32_LIMIT) return false;
    return !quals_delivered || totals.quals <= INT32_LIMIT;
}

// ---- the exported call -------------------------------------------------------

namespace {

struct Outputs {
    char *names;
    std::int32_t *name_offs;
    std::uint8_t *packed;
    std::int32_t *packed_offs;
    std::int32_t *seq_lens;
    std::int32_t *is_protein;
    std::uint8_t *quals;
    std::int32_t *qual_offs;
};

// Where a chunk's data starts in each output.
struct MergeStart {
    std::int64_t record = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
};

// The chunk records of one call; releases every chunk buffer on every path.
class ChunkSet {
public:
    ChunkSet() = default;
    ChunkSet(const ChunkSet &) = delete;
    ChunkSet &operator=(const ChunkSet &) = delete;
    ~ChunkSet() {
        for (int k = 0; k < count_; ++k) release_chunk(records_[static_cast<std::size_t>(k)]);
    }
    [[nodiscard]] bool reserve(int count) {
        if (!records_.allocate_zeroed(static_cast<std::size_t>(count))) return false;
        count_ = count;
        return true;
    }
    int count() const { return count_; }
    chunk_out &operator[](int k) { return records_[static_cast<std::size_t>(k)]; }

private:
    Buffer<chunk_out> records_;
    int count_ = 0;
};

// Sums the chunks; false when a reservation failed in any of them.
bool sum_chunks(ChunkSet &chunks, ParseTotals &totals) {
    bool failed = false;
    for (int k = 0; k < chunks.count(); ++k) {
        const chunk_out &c = chunks[k];
        failed = failed || c.failed;
        totals.too_big = totals.too_big || c.too_big;
        totals.records += c.n_recs;
        totals.packed += c.pk_len;
        totals.names += c.nm_len;
        totals.quals += c.q_len;
    }
    return !failed;
}

// What the caller provides.
struct Request {
    Outputs out;
    std::int32_t names_cap;
    std::int64_t packed_cap;
    std::int64_t quals_cap;
    std::int32_t max_records;
};

// -1 when a reservation failed, -2 when an output is too small or an offset
// would not fit, otherwise the record count.
std::int32_t verdict(ChunkSet &chunks, const Request &req) {
    ParseTotals totals;
    if (!sum_chunks(chunks, totals)) return -1;
    const Outputs &out = req.out;
    if (totals.records > req.max_records || totals.packed >= req.packed_cap ||
        totals.names > req.names_cap || (out.quals && totals.quals > req.quals_cap) ||
        !offsets_fit(totals, out.quals || out.qual_offs))
        return -2;
    return static_cast<std::int32_t>(totals.records);
}

// Where each chunk's data goes; writes the entries that precede all chunks
// and the zero byte after the last packed record.
void plan_merge(ChunkSet &chunks, const Outputs &out, MergeStart *starts) {
    out.name_offs[0] = 0;
    out.packed_offs[0] = 0;
    if (out.qual_offs) out.qual_offs[0] = 0;
    MergeStart at;
    for (int k = 0; k < chunks.count(); ++k) {
        const chunk_out &c = chunks[k];
        starts[k] = at;
        at.record += c.n_recs;
        at.packed += c.pk_len;
        at.names += c.nm_len;
        at.quals += c.q_len;
    }
    out.packed[at.packed] = 0;
}

// Copies one chunk's data and per-record entries into the outputs. Quality
// offsets advance by the sequence length when qualities are produced and
// stay 0 otherwise, whatever the chunking.
void merge_chunk(const chunk_out &c, const MergeStart &at, const Outputs &out,
                 bool make_quals) {
    if (c.pk_len) std::memcpy(out.packed + at.packed, c.pk_buf, static_cast<std::size_t>(c.pk_len));
    if (c.nm_len) std::memcpy(out.names + at.names, c.nm_buf, static_cast<std::size_t>(c.nm_len));
    if (out.quals && c.q_len)
        std::memcpy(out.quals + at.quals, c.q_buf, static_cast<std::size_t>(c.q_len));
    std::int64_t packed = at.packed, names = at.names, quals = at.quals;
    for (std::int32_t r = 0; r < c.n_recs; ++r) {
        const std::int64_t k = at.record + r;
        out.seq_lens[k] = c.lens[r];
        out.is_protein[k] = c.prot[r];
        packed += packed_bytes64(c.lens[r]);
        out.packed_offs[k + 1] = static_cast<std::int32_t>(packed);
        names += c.nm_sizes[r];
        out.name_offs[k + 1] = static_cast<std::int32_t>(names);
        if (out.qual_offs) {
            if (make_quals) quals += c.lens[r];
            out.qual_offs[k + 1] = static_cast<std::int32_t>(quals);
        }
    }
}

// One region does all the work. Thread t of a team of T takes chunks t,
// t + T, t + 2T, ..., so every chunk is parsed and copied even when the
// region has fewer threads than chunks (a call from inside another parallel
// region gets one). Between parsing and copying, one thread sums the chunks
// and decides the result, so nothing is written unless everything fits;
// each thread then copies its own chunks to their places, which keeps the
// output in text order and spreads the copying over the team.
std::int32_t parse_and_merge(const ParseSettings &settings, const ChunkTables &tables,
                             const std::int64_t *bounds, ChunkSet &chunks, const Request &req) {
    const int n_chunks = chunks.count();
    MergeStart starts[MAX_CHUNKS];
    std::int32_t result = -1;
#pragma omp parallel num_threads(n_chunks)
    {
        const int team = omp_get_num_threads(), first = omp_get_thread_num();
        for (int k = first; k < n_chunks; k += team)
            parse_chunk(settings, tables, bounds[k], bounds[k + 1], chunks[k]);
#pragma omp barrier
#pragma omp single
        {
            result = verdict(chunks, req);
            if (result >= 0) plan_merge(chunks, req.out, starts);
        }
        if (result >= 0)
            for (int k = first; k < n_chunks; k += team) {
                merge_chunk(chunks[k], starts[k], req.out, settings.make_quals);
                release_chunk(chunks[k]);
            }
    }
    return result;
}

}  // namespace

}  // namespace engine

ENGINE_EXPORT std::int32_t bio_parse_mem_parallel(
    const char *text, std::int64_t text_len, std::int32_t fmt, std::int32_t n_threads,
    std::int32_t protein, char *names, std::int32_t names_cap, std::int32_t *name_offs,
    std::uint8_t *packed, std::int64_t packed_cap, std::int32_t *packed_offs,
    std::int32_t *seq_lens, std::int32_t *is_protein, std::uint8_t *quals,
    std::int64_t quals_cap, std::int32_t *qual_offs, std::int32_t max_records) {
    using namespace engine;
    if (!text || text_len < 1) return 0;
    const LetterTables letters;
    const LetterConverter nt(letters.nt), aa(letters.aa);
    const ChunkTables tables{nt, aa, letters.aa_only};
    const ParseSettings settings{text, text_len, fmt != FMT_FASTA, fmt == FMT_FASTQ, protein};

    const int workers = std::min(omp_get_max_threads(), std::max<std::int32_t>(n_threads, 1));
    const int n_chunks = std::clamp(workers, 1, MAX_CHUNKS);
    std::int64_t bounds[MAX_CHUNKS + 1];
    chunk_bounds(text, text_len, settings.fastq, n_chunks, bounds);

    ChunkSet chunks;
    if (!chunks.reserve(n_chunks)) return -1;
    const Request req{{names, name_offs, packed, packed_offs, seq_lens, is_protein, quals, qual_offs},
                      names_cap, packed_cap, quals_cap, max_records};
    return parse_and_merge(settings, tables, bounds, chunks, req);
}
