#include "seqio/parse_mem.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/buffer.h"
#include "core/export.h"
#include "engine.h"
#include "seqio/codes.h"
#include "seqio/fasta_sequence.h"
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

bool offsets_fit(const ParseTotals &totals, bool quals_delivered) {
    if (totals.too_big) return false;
    if (totals.packed > INT32_LIMIT || totals.names > INT32_LIMIT) return false;
    return !quals_delivered || totals.quals <= INT32_LIMIT;
}

namespace {

// ---- record scanning ---------------------------------------------------------

// Header text: the line less its marker byte.
inline const char *header_begin(const Line &line) {
    return line.end > line.begin ? line.begin + 1 : line.end;
}

// Walks the records that start in [a, stop) of the text ending at `end` and
// hands each one with a non-empty sequence to the sink:
//   sink.fasta_sequence(p, end)       the sequence lines of a FASTA record,
//                                     starting at p (a FastaSequence);
//   sink.fasta_record(header, len)    after them, when len > 0;
//   sink.fastq_record(header, sequence, qual, qual_len).
// A record call returning false ends the walk. Both passes use this walk, so
// they see the same records in the same order.
template <class Sink>
const char *fasta_record(const char *a, const char *end, Sink &sink) {
    const Line header = line_at(a, end);
    if (!header.terminated || header.next == end) return nullptr;
    const FastaSequence sequence = sink.fasta_sequence(header.next, end);
    if (sequence.residues == 0) return sequence.end;
    return sink.fasta_record(header, sequence.residues) ? sequence.end : nullptr;
}

template <class Sink>
void scan_fasta_chunk(const char *a, const char *stop, const char *end, Sink &sink) {
    while (a < stop) {
        const char *next = fasta_record(a, end, sink);
        if (!next) return;
        a = next;
    }
}

// FASTQ records are taken four lines at a time from one cursor.
template <class Sink>
void scan_fastq_chunk(const char *a, const char *stop, const char *end, Sink &sink) {
    LineCursor lines(a, end);
    while (lines.position() < stop) {
        const Line header = lines.next();
        if (!header.terminated || header.next == end) return;
        const Line sequence = lines.next();
        const char *qual = nullptr;
        std::int64_t qual_len = 0;
        if (lines.position() < end) {
            lines.next();  // separator, not examined
            if (lines.position() < end) {
                const Line quality = lines.next();
                qual = quality.begin;
                qual_len = quality.end - quality.begin;
            }
        }
        if (sequence.end == sequence.begin) continue;
        if (!sink.fastq_record(header, sequence, qual, qual_len)) return;
    }
}

template <class Sink>
void scan_chunk(const char *a, const char *stop, const char *end, bool fastq, Sink &sink) {
    if (fastq) scan_fastq_chunk(a, stop, end, sink);
    else scan_fasta_chunk(a, stop, end, sink);
}

// ---- pass 1: counting ------------------------------------------------------------

// What one chunk holds, in output bytes and entries.
struct ChunkCount {
    std::int64_t records = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
    std::int64_t longest = 0;  // longest sequence
    bool too_big = false;      // a record or the record count exceeds 32 bits
};

class CountSink {
public:
    CountSink(ChunkCount &count, bool make_quals) : c_(count), make_quals_(make_quals) {}

    FastaSequence fasta_sequence(const char *p, const char *end) {
        return measure_fasta_sequence(p, end);
    }
    bool fasta_record(const Line &header, std::int64_t len) { return add(header, len); }
    bool fastq_record(const Line &header, const Line &sequence, const char *, std::int64_t) {
        return add(header, sequence.end - sequence.begin);
    }

private:
    // Stops the chunk at a record that would not fit the 32-bit entries.
    bool add(const Line &header, std::int64_t len) {
        const std::int64_t name_size = header.end - header_begin(header) + 1;
        if (len > INT32_LIMIT || name_size > INT32_LIMIT || c_.records == INT32_LIMIT) {
            c_.too_big = true;
            return false;
        }
        ++c_.records;
        c_.packed += packed_bytes64(len);
        c_.names += name_size;
        if (make_quals_) c_.quals += len;
        c_.longest = std::max(c_.longest, len);
        return true;
    }

    ChunkCount &c_;
    bool make_quals_;
};

// ---- pass 2: writing ---------------------------------------------------------------

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
struct ChunkStart {
    std::int64_t record = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
};

struct Tables {
    const LetterConverter &nt;
    const LetterConverter &aa;
    const ByteTable &aa_only;
};

struct Settings {
    const char *text;
    const char *end;
    bool fastq;        // any format code other than FASTA
    bool make_quals;   // FASTQ proper: one Phred value per code
    std::int32_t protein;
};

// Packs n >= 1 codes at `out` without writing the zero byte bio_pack5 leaves
// after them: that byte belongs to the next chunk, which another thread may
// be writing. Eight codes fill exactly five bytes, so all but the last one
// to eight codes are packed in place (their zero byte lands where the rest
// goes) and the rest through a small buffer.
void pack_without_trailing_zero(const std::uint8_t *codes, std::int64_t n, std::uint8_t *out) {
    const std::int64_t whole = (n - 1) & ~std::int64_t{7};
    if (whole > 0) pack5_fast(codes, static_cast<std::size_t>(whole), out);
    const std::int64_t rest = n - whole;
    std::uint8_t tail[8];
    pack5_fast(codes + whole, static_cast<std::size_t>(rest), tail);
    std::memcpy(out + whole / 8 * 5, tail, static_cast<std::size_t>(packed_bytes64(rest)));
}

// Writes the records of one chunk to their places. `scratch` holds the
// longest sequence of the chunk plus GATHER_SLACK bytes.
class WriteSink {
public:
    WriteSink(const Settings &s, const Tables &t, const Outputs &out, std::uint8_t *scratch,
              const ChunkStart &start, std::int64_t records)
        : s_(s), t_(t), out_(out), scratch_(scratch), at_(start), left_(records) {}

    FastaSequence fasta_sequence(const char *p, const char *end) {
        return gather_fasta_sequence(p, end, scratch_);
    }

    bool fasta_record(const Line &header, std::int64_t len) {
        const auto n = static_cast<std::size_t>(len);
        bool protein = s_.protein > 0;
        if (s_.protein < 0) protein = looks_like_protein(t_.aa_only, scratch_, n);
        const std::int32_t flag = s_.protein < 0 ? (protein ? 1 : 0) : (protein ? s_.protein : 0);
        (protein ? t_.aa : t_.nt).convert(scratch_, n, scratch_);
        finish(header, len, flag);
        return true;
    }

    bool fastq_record(const Line &header, const Line &sequence, const char *qual,
                      std::int64_t qual_len) {
        const std::int64_t len = sequence.end - sequence.begin;
        const bool protein = s_.protein == 1;
        (protein ? t_.aa : t_.nt)
            .convert(reinterpret_cast<const std::uint8_t *>(sequence.begin),
                     static_cast<std::size_t>(len), scratch_);
        if (s_.make_quals && out_.quals) write_quals(qual, qual_len, len);
        finish(header, len, protein ? 1 : 0);
        return true;
    }

private:
    // Exactly len values: the quality line cut or padded with zeros.
    void write_quals(const char *qual, std::int64_t qual_len, std::int64_t len) {
        std::uint8_t *dst = out_.quals + at_.quals;
        const std::int64_t kept = std::min(qual_len, len);
        if (kept > 0) std::memcpy(dst, qual, static_cast<std::size_t>(kept));
        phred_from_ascii(dst, static_cast<std::size_t>(kept));
        std::memset(dst + kept, 0, static_cast<std::size_t>(len - kept));
    }

    // Packs the converted codes in scratch, stores the header and the
    // per-record entries, and advances every position. Quality offsets
    // advance by the sequence length when qualities are produced and stay 0
    // otherwise.
    void finish(const Line &header, std::int64_t len, std::int32_t flag) {
        std::uint8_t *dst = out_.packed + at_.packed;
        if (--left_ == 0) pack_without_trailing_zero(scratch_, len, dst);
        else pack5_fast(scratch_, static_cast<std::size_t>(len), dst);
        const char *name = header_begin(header);
        const std::int64_t name_len = header.end - name;
        std::memcpy(out_.names + at_.names, name, static_cast<std::size_t>(name_len));
        out_.names[at_.names + name_len] = '\0';

        const std::int64_t r = at_.record++;
        at_.packed += packed_bytes64(len);
        at_.names += name_len + 1;
        if (s_.make_quals) at_.quals += len;
        out_.seq_lens[r] = static_cast<std::int32_t>(len);
        out_.is_protein[r] = flag;
        out_.packed_offs[r + 1] = static_cast<std::int32_t>(at_.packed);
        out_.name_offs[r + 1] = static_cast<std::int32_t>(at_.names);
        if (out_.qual_offs) out_.qual_offs[r + 1] = static_cast<std::int32_t>(at_.quals);
    }

    const Settings &s_;
    const Tables &t_;
    const Outputs &out_;
    std::uint8_t *scratch_;
    ChunkStart at_;
    std::int64_t left_;  // records of the chunk still to write
};

// ---- the call ------------------------------------------------------------------------

// What the caller provides.
struct Request {
    Outputs out;
    std::int32_t names_cap;
    std::int64_t packed_cap;
    std::int64_t quals_cap;
    std::int32_t max_records;
};

// Per chunk counts and places, and one sequence scratch per thread.
struct Plan {
    int n_chunks = 0;
    Buffer<ChunkCount> counts;
    Buffer<ChunkStart> starts;
    Buffer<std::uint8_t> scratch[MAX_CHUNKS];
    bool scratch_failed[MAX_CHUNKS] = {};

    // Zeroed counts and places for n chunks; false when they cannot be
    // reserved.
    bool reserve(int n) {
        n_chunks = n;
        const auto size = static_cast<std::size_t>(n);
        return counts.allocate_zeroed(size) && starts.allocate_zeroed(size);
    }
};

ParseTotals sum_counts(const Plan &plan) {
    ParseTotals totals;
    for (int k = 0; k < plan.n_chunks; ++k) {
        const ChunkCount &c = plan.counts[static_cast<std::size_t>(k)];
        totals.too_big = totals.too_big || c.too_big;
        totals.records += c.records;
        totals.packed += c.packed;
        totals.names += c.names;
        totals.quals += c.quals;
    }
    return totals;
}

// -1 when a reservation failed, -2 when an output is too small or an offset
// would not fit, otherwise the record count.
std::int32_t verdict(const Plan &plan, const Request &req) {
    for (bool failed : plan.scratch_failed)
        if (failed) return -1;
    const ParseTotals totals = sum_counts(plan);
    const Outputs &out = req.out;
    if (totals.records > req.max_records || totals.packed >= req.packed_cap ||
        totals.names > req.names_cap || (out.quals && totals.quals > req.quals_cap) ||
        !offsets_fit(totals, out.quals || out.qual_offs))
        return -2;
    return static_cast<std::int32_t>(totals.records);
}

// Where each chunk's data goes; writes the entries that precede all chunks
// and the zero byte after the last packed record.
void place_chunks(Plan &plan, const Outputs &out) {
    out.name_offs[0] = 0;
    out.packed_offs[0] = 0;
    if (out.qual_offs) out.qual_offs[0] = 0;
    ChunkStart at;
    for (int k = 0; k < plan.n_chunks; ++k) {
        const ChunkCount &c = plan.counts[static_cast<std::size_t>(k)];
        plan.starts[static_cast<std::size_t>(k)] = at;
        at.record += c.records;
        at.packed += c.packed;
        at.names += c.names;
        at.quals += c.quals;
    }
    out.packed[at.packed] = 0;
}

// One region does all the work. Thread t of a team of T takes chunks t,
// t + T, t + 2T, ..., so every chunk is handled even when the region has
// fewer threads than chunks (a call from inside another parallel region
// gets one). Each thread counts its chunks and reserves the scratch its
// longest sequence needs; then one thread decides the result and places the
// chunks, so nothing is written unless everything fits; then each thread
// parses its chunks again and writes them to their places.
std::int32_t parse_two_passes(const Settings &settings, const Tables &tables,
                              const std::int64_t *bounds, Plan &plan, const Request &req) {
    const int n_chunks = plan.n_chunks;
    const char *text = settings.text;
    std::int32_t result = -1;
#pragma omp parallel num_threads(n_chunks)
    {
        const int team = omp_get_num_threads(), first = omp_get_thread_num();
        std::int64_t longest = 0;
        for (int k = first; k < n_chunks; k += team) {
            ChunkCount &count = plan.counts[static_cast<std::size_t>(k)];
            CountSink sink(count, settings.make_quals);
            scan_chunk(text + bounds[k], text + bounds[k + 1], settings.end, settings.fastq, sink);
            longest = std::max(longest, count.longest);
        }
        if (longest > 0 &&
            !plan.scratch[first].allocate(static_cast<std::size_t>(longest + GATHER_SLACK)))
            plan.scratch_failed[first] = true;
#pragma omp barrier
#pragma omp single
        {
            result = verdict(plan, req);
            if (result >= 0) place_chunks(plan, req.out);
        }
        if (result >= 0)
            for (int k = first; k < n_chunks; k += team) {
                const auto chunk = static_cast<std::size_t>(k);
                if (plan.counts[chunk].records == 0) continue;
                WriteSink sink(settings, tables, req.out, plan.scratch[first].data(),
                               plan.starts[chunk], plan.counts[chunk].records);
                scan_chunk(text + bounds[k], text + bounds[k + 1], settings.end, settings.fastq, sink);
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
    const Tables tables{nt, aa, letters.aa_only};
    const Settings settings{text, text + text_len, fmt != FMT_FASTA, fmt == FMT_FASTQ, protein};

    const int workers = std::min(omp_get_max_threads(), std::max<std::int32_t>(n_threads, 1));
    Plan plan;
    if (!plan.reserve(std::clamp(workers, 1, MAX_CHUNKS))) return -1;
    std::int64_t bounds[MAX_CHUNKS + 1];
    chunk_bounds(text, text_len, settings.fastq, plan.n_chunks, bounds);

    const Request req{{names, name_offs, packed, packed_offs, seq_lens, is_protein, quals, qual_offs},
                      names_cap, packed_cap, quals_cap, max_records};
    return parse_two_passes(settings, tables, bounds, plan, req);
}
