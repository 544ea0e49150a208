#include "seqio/parse_mem.h"

#include <omp.h>

#include <algorithm>
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

void slice_bounds(const char *text, bool fastq, const std::int64_t *chunks, int n_chunks,
                  int per_chunk, std::int64_t *bounds) {
    for (int k = 0; k < n_chunks; ++k) {
        const std::int64_t begin = chunks[k], stop = chunks[k + 1];
        bounds[k * per_chunk] = begin;
        for (int j = 1; j < per_chunk; ++j) {
            const std::int64_t nominal = begin + (stop - begin) / per_chunk * j;
            // The search sees the text only up to the chunk's end, so a cut
            // costs at most one pass over the chunk. A record start it finds
            // there is one in the whole text too: it examines the same bytes.
            const std::int64_t start = next_record_start(text, stop, nominal, fastq);
            bounds[k * per_chunk + j] = std::clamp(start, bounds[k * per_chunk + j - 1], stop);
        }
    }
    bounds[n_chunks * per_chunk] = chunks[n_chunks];
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

// The scans below return where the walk stopped: the start of the first
// record at or after `stop`, or the text end when a record ended the walk.
template <class Sink>
const char *scan_fasta_range(const char *a, const char *stop, const char *end, Sink &sink) {
    while (a < stop) {
        const char *next = fasta_record(a, end, sink);
        if (!next) return end;
        a = next;
    }
    return a;
}

// FASTQ records are taken four lines at a time from one cursor.
template <class Sink>
const char *scan_fastq_range(const char *a, const char *stop, const char *end, Sink &sink) {
    LineCursor lines(a, end);
    while (lines.position() < stop) {
        const Line header = lines.next();
        if (!header.terminated || header.next == end) return end;
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
        if (!sink.fastq_record(header, sequence, qual, qual_len)) return end;
    }
    return lines.position();
}

// The records that start in [a, stop), each read whole.
template <class Sink>
const char *scan_range(const char *a, const char *stop, const char *end, bool fastq, Sink &sink) {
    return fastq ? scan_fastq_range(a, stop, end, sink) : scan_fasta_range(a, stop, end, sink);
}

// ---- pass 1: counting ------------------------------------------------------------

// What one slice holds, in output bytes and entries.
struct SliceCount {
    std::int64_t records = 0;
    std::int64_t packed = 0;
    std::int64_t names = 0;
    std::int64_t quals = 0;
    std::int64_t longest = 0;  // longest sequence
    bool too_big = false;      // a record or the record count exceeds 32 bits
};

class CountSink {
public:
    CountSink(SliceCount &count, bool make_quals) : c_(count), make_quals_(make_quals) {}

    FastaSequence fasta_sequence(const char *p, const char *end) {
        return measure_fasta_sequence(p, end);
    }
    bool fasta_record(const Line &header, std::int64_t len) { return add(header, len); }
    bool fastq_record(const Line &header, const Line &sequence, const char *, std::int64_t) {
        return add(header, sequence.end - sequence.begin);
    }

private:
    // Stops the slice at a record that would not fit the 32-bit entries.
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

    SliceCount &c_;
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

// Where a slice's data starts in each output.
struct SliceStart {
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
// after them: that byte belongs to the next slice, which another thread may
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

// Writes the records of one slice to their places. `scratch` holds the
// longest sequence plus GATHER_SLACK bytes.
class WriteSink {
public:
    WriteSink(const Settings &s, const Tables &t, const Outputs &out, std::uint8_t *scratch,
              const SliceStart &start, std::int64_t records)
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
    SliceStart at_;
    std::int64_t left_;  // records of the slice still to write
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

// The slices of the call: their bounds, what each holds, where each goes,
// and one sequence scratch per thread.
struct Plan {
    int n_chunks = 0;
    int slices_per_chunk = 1;
    int n_slices = 0;
    std::int64_t bounds[MAX_SLICES + 1] = {};
    Buffer<SliceCount> counts;
    Buffer<SliceStart> starts;
    Buffer<std::int64_t> reached;  // where each slice's walk stopped
    Buffer<std::uint8_t> scratch[MAX_CHUNKS];
    bool scratch_failed[MAX_CHUNKS] = {};

    // Zeroed entries for every slice; false when they cannot be reserved.
    bool reserve() {
        const auto n = static_cast<std::size_t>(n_slices);
        return counts.allocate_zeroed(n) && starts.allocate_zeroed(n) && reached.allocate_zeroed(n);
    }
    SliceCount &count(int s) { return counts[static_cast<std::size_t>(s)]; }
    const SliceCount &count(int s) const { return counts[static_cast<std::size_t>(s)]; }
};

ParseTotals sum_counts(const Plan &plan) {
    ParseTotals totals;
    for (int s = 0; s < plan.n_slices; ++s) {
        const SliceCount &c = plan.count(s);
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

// Where each slice's data goes; writes the entries that precede all records
// and the zero byte after the last packed record.
void place_slices(Plan &plan, const Outputs &out) {
    out.name_offs[0] = 0;
    out.packed_offs[0] = 0;
    if (out.qual_offs) out.qual_offs[0] = 0;
    SliceStart at;
    for (int s = 0; s < plan.n_slices; ++s) {
        const SliceCount &c = plan.count(s);
        plan.starts[static_cast<std::size_t>(s)] = at;
        at.record += c.records;
        at.packed += c.packed;
        at.names += c.names;
        at.quals += c.quals;
    }
    out.packed[at.packed] = 0;
}

// Counts slice s and notes where its walk stopped.
void count_slice(const Settings &settings, Plan &plan, int s) {
    SliceCount count;  // on the stack: neighbouring slices' counts share cache lines
    CountSink sink(count, settings.make_quals);
    const char *text = settings.text;
    const char *reached =
        scan_range(text + plan.bounds[s], text + plan.bounds[s + 1], settings.end, settings.fastq, sink);
    plan.count(s) = count;
    plan.reached[static_cast<std::size_t>(s)] = reached - text;
}

// A chunk read in slices gives the records of the chunk read in one walk
// when each slice's walk stops exactly where the next slice starts. That
// holds for FASTA, and for FASTQ whose four-line frames are intact; where it
// fails (mis-framed FASTQ), the chunk becomes one slice and is counted again.
void join_slices(const Settings &settings, Plan &plan) {
    const int per_chunk = plan.slices_per_chunk;
    for (int k = 0; k < plan.n_chunks; ++k) {
        const int first = k * per_chunk, last = first + per_chunk;
        bool joined = true;
        for (int s = first; s + 1 < last; ++s)
            joined = joined && plan.reached[static_cast<std::size_t>(s)] == plan.bounds[s + 1];
        if (joined) continue;
        for (int s = first + 1; s < last; ++s) {
            plan.bounds[s] = plan.bounds[last];
            plan.count(s) = SliceCount{};
        }
        count_slice(settings, plan, first);
    }
}

std::int64_t longest_sequence(const Plan &plan) {
    std::int64_t longest = 0;
    for (int s = 0; s < plan.n_slices; ++s) longest = std::max(longest, plan.count(s).longest);
    return longest;
}

// One region does all the work, in two passes over the slices; a slice goes
// to whichever thread is free, so every slice is handled whatever number of
// threads the region gets (a call from inside another parallel region gets
// one), and a thread slowed by the machine is made up for by the others.
// First every slice is counted; one thread joins the slices of each chunk
// and each thread reserves scratch for the longest sequence; then one thread
// decides the result and places the slices, so nothing is written unless
// everything fits; then every slice is parsed again and written to its
// place.
std::int32_t parse_two_passes(const Settings &settings, const Tables &tables, int workers,
                              Plan &plan, const Request &req) {
    const int n_slices = plan.n_slices;
    std::int32_t result = -1;
    std::int64_t longest = 0;
#pragma omp parallel num_threads(workers)
    {
#pragma omp for schedule(dynamic, 1)
        for (int s = 0; s < n_slices; ++s) count_slice(settings, plan, s);
#pragma omp single
        {
            join_slices(settings, plan);
            longest = longest_sequence(plan);
        }
        const int thread = omp_get_thread_num();
        if (longest > 0 &&
            !plan.scratch[thread].allocate(static_cast<std::size_t>(longest + GATHER_SLACK)))
            plan.scratch_failed[thread] = true;
#pragma omp barrier
#pragma omp single
        {
            result = verdict(plan, req);
            if (result >= 0) place_slices(plan, req.out);
        }
        if (result >= 0) {
#pragma omp for schedule(dynamic, 1)
            for (int s = 0; s < n_slices; ++s) {
                const SliceCount &count = plan.count(s);
                if (count.records == 0) continue;
                WriteSink sink(settings, tables, req.out, plan.scratch[thread].data(),
                               plan.starts[static_cast<std::size_t>(s)], count.records);
                scan_range(settings.text + plan.bounds[s], settings.text + plan.bounds[s + 1],
                           settings.end, settings.fastq, sink);
            }
        }
    }
    return result;
}

}  // namespace

int parse_threads(int n_chunks, std::int64_t text_len) {
    const std::int64_t by_size = std::max<std::int64_t>(text_len / min_text_per_thread(), 1);
    return static_cast<int>(std::min<std::int64_t>(n_chunks, by_size));
}

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
    plan.n_chunks = std::clamp(workers, 1, MAX_CHUNKS);
    plan.slices_per_chunk = plan.n_chunks == 1 ? 1 : SLICES_PER_CHUNK;
    plan.n_slices = plan.n_chunks * plan.slices_per_chunk;
    if (!plan.reserve()) return -1;
    std::int64_t chunks[MAX_CHUNKS + 1];
    chunk_bounds(text, text_len, settings.fastq, plan.n_chunks, chunks);
    slice_bounds(text, settings.fastq, chunks, plan.n_chunks, plan.slices_per_chunk, plan.bounds);

    const Request req{{names, name_offs, packed, packed_offs, seq_lens, is_protein, quals, qual_offs},
                      names_cap, packed_cap, quals_cap, max_records};
    return parse_two_passes(settings, tables, parse_threads(plan.n_chunks, text_len), plan, req);
}
