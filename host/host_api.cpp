// The C interface of the host layer: handles over the C++ reader, mapper and
// statistics, with every exception turned into an error code and a message
// kept in the handle.
#include "bioeng_host.h"

#include "input.h"
#include "mapper.h"
#include "reference.h"
#include "report.h"
#include "stats.h"
#include "worker_threads.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#define BH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace bioeng;

// An argument or option out of its range.
class ArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Keeps the last message of a handle; never throws.
struct ErrorSlot {
    std::string message;

    void set(const char *text) noexcept {
        try {
            message = text;
        } catch (...) {
            message.clear(); // no room even for the message: the code tells the story
        }
    }
};

// Runs f on behalf of a handle; `label` names the input an out-of-memory
// failure is reported for.
template <class F> int guarded(ErrorSlot &err, const std::string &label, F &&f) noexcept {
    try {
        err.message.clear();
        return f();
    } catch (const InputError &e) {
        err.set(e.what());
        return BH_ERR_INPUT;
    } catch (const ArgumentError &e) {
        err.set(e.what());
        return BH_ERR_ARGUMENT;
    } catch (const std::bad_alloc &) {
        try {
            err.set((label.empty() ? std::string("out of memory") : label + ": out of memory")
                        .c_str());
        } catch (...) {
            err.set("out of memory");
        }
        return BH_ERR_NOMEM;
    } catch (const std::exception &e) {
        err.set(e.what());
        return BH_ERR_INTERNAL;
    } catch (...) {
        err.set("unexpected failure");
        return BH_ERR_INTERNAL;
    }
}

template <class T> T *make_handle() noexcept {
    try {
        return new T();
    } catch (...) {
        return nullptr;
    }
}

void check_range(int64_t v, int64_t lo, int64_t hi, const char *what) {
    if (v < lo || v > hi)
        throw ArgumentError(std::string(what) + " must be between " + std::to_string(lo) +
                            " and " + std::to_string(hi) + ", not " + std::to_string(v));
}

// Writes the first `size` bytes of `defaults` (a full struct) to a caller's
// struct, which may be shorter (an older caller) but never longer than ours.
template <class Opt> void write_defaults(Opt *opt, size_t size, Opt defaults) {
    if (!opt || size < sizeof(uint32_t)) return;
    size = std::min(size, sizeof defaults);
    defaults.size = uint32_t(size);
    std::memcpy(opt, &defaults, size);
}

// Copies a caller's options struct: fields beyond the caller's size keep
// their defaults, so a struct from an older caller stays valid.
template <class Opt> Opt copy_options(const Opt *given, void (*init)(Opt *, size_t)) {
    Opt opt;
    init(&opt, sizeof opt);
    if (!given) return opt;
    if (given->size < sizeof(uint32_t)) throw ArgumentError("options struct without its size");
    std::memcpy(&opt, given, std::min<size_t>(given->size, sizeof opt));
    opt.size = sizeof opt;
    return opt;
}

ReaderOptions reader_options(const bh_read_options &o) {
    check_range(o.threads, 0, 1024, "threads");
    check_range(o.protein, -1, 1, "protein");
    check_range(o.batch_bytes, 1024, int64_t(1) << 30, "batch_bytes");
    ReaderOptions r;
    r.threads = worker_count(o.threads);
    r.protein = o.protein;
    r.keep_empty = o.keep_empty != 0;
    r.chunk_bytes = size_t(o.batch_bytes);
    return r;
}

MapSettings map_settings(const bh_map_options &o) {
    check_range(o.k, 1, 32, "k");
    check_range(o.w, 1, 1000000, "w");
    check_range(o.max_occ, 0, INT32_MAX, "max_occ");
    check_range(o.max_hits, 1, 1000, "max_hits");
    check_range(o.threads, 0, 1024, "threads");
    if (!std::isfinite(o.min_score)) throw ArgumentError("min_score must be a finite number");
    MapSettings s;
    s.k = o.k;
    s.w = o.w;
    s.max_occ = o.max_occ;
    s.max_hits = o.max_hits;
    s.min_score = o.min_score;
    s.threads = o.threads;
    s.sam = o.sam != 0;
    s.raw_hits = o.raw_hits != 0;
    s.cs = o.cs != 0;
    s.md = o.md != 0;
    s.secondaries = o.secondaries != 0;
    if (!(o.secondary_ratio >= 0 && o.secondary_ratio <= 1))
        throw ArgumentError("secondary_ratio must lie between 0 and 1");
    s.secondary_ratio = o.secondary_ratio;
    s.paf_beside_sam = o.paf_beside_sam != 0;
    return s;
}

const char *input_label(const char *path) {
    return std::strcmp(path, "-") == 0 ? "standard input" : path;
}

// A byte source that counts what it hands out, for progress reports.
class CountingSource : public ByteSource {
public:
    CountingSource(std::unique_ptr<ByteSource> inner, std::atomic<uint64_t> &count)
        : inner_(std::move(inner)), count_(count) {}
    size_t read(uint8_t *dst, size_t n) override {
        size_t got = inner_->read(dst, n);
        count_.fetch_add(got, std::memory_order_relaxed);
        return got;
    }

private:
    std::unique_ptr<ByteSource> inner_;
    std::atomic<uint64_t> &count_;
};

// What a preset sets; everything else keeps its value.
struct Preset {
    const char *name;
    int32_t k, w, max_occ, max_hits;
    double min_score;
    double secondary_ratio;
};

// Why each value: bench/map/PRESETS.md.
constexpr Preset PRESETS[] = {
    {"map-ont", 15, 10, 500, 5, 40, 0.8},
    {"map-pb", 17, 15, 500, 5, 40, 0.8},
    {"sr", 21, 11, 500, 5, 40, 0.8},
};
constexpr char PRESET_NAMES[] = "map-ont,map-pb,sr";

} // namespace

struct bh_reader {
    ErrorSlot err;
    std::string label;
    std::atomic<uint64_t> input_bytes{0};
    std::unique_ptr<RecordReader> reader;
    RecordBatch batch;
    bool has_batch = false;
};

struct bh_stats {
    ErrorSlot err;
    SeqStats stats;
    std::vector<uint8_t> scratch;
    std::string row;
};

struct bh_mapper {
    ErrorSlot err;
    std::string ref_label;
    MapSettings settings;
    ReadGroup read_group;
    RefTable refs;
    IndexPtr index;
    std::unique_ptr<BatchMapper> mapper;
    std::string text;
};

struct bh_report {
    ErrorSlot err;
    PafReport report;
    std::string text;
};

BH_EXPORT const char *bh_version(void) { return BIOENG_VERSION; }

// ---------------------------------------------------------------- reading

BH_EXPORT void bh_read_options_init(bh_read_options *opt, size_t size) {
    bh_read_options d{};
    d.batch_bytes = int64_t(ReaderOptions{}.chunk_bytes);
    write_defaults(opt, size, d);
}

BH_EXPORT bh_reader *bh_reader_new(void) { return make_handle<bh_reader>(); }

BH_EXPORT void bh_reader_free(bh_reader *r) { delete r; }

namespace {

// Opens r on the bytes make_bytes() gives; `label` names them in messages.
template <class MakeBytes>
int open_reader(bh_reader *r, const char *label, const bh_read_options *opt,
                MakeBytes &&make_bytes) {
    r->reader.reset();
    r->input_bytes = 0;
    r->has_batch = false;
    r->batch.count = 0;
    try {
        r->label = label;
    } catch (...) {
        return BH_ERR_NOMEM;
    }
    return guarded(r->err, r->label, [&] {
        ReaderOptions ropt = reader_options(copy_options(opt, bh_read_options_init));
        auto counted = std::make_unique<CountingSource>(make_bytes(), r->input_bytes);
        r->reader = std::make_unique<RecordReader>(open_text_source(std::move(counted), r->label),
                                                   r->label, ropt);
        return BH_OK;
    });
}

} // namespace

BH_EXPORT int bh_reader_open(bh_reader *r, const char *path, const bh_read_options *opt) {
    if (!r || !path) return BH_ERR_ARGUMENT;
    return open_reader(r, input_label(path), opt, [&] { return open_file_source(path); });
}

BH_EXPORT int bh_reader_open_memory(bh_reader *r, const void *data, size_t len,
                                    const char *label, const bh_read_options *opt) {
    if (!r || (!data && len)) return BH_ERR_ARGUMENT;
    static const uint8_t nothing = 0;
    const uint8_t *bytes = data ? static_cast<const uint8_t *>(data) : &nothing;
    return open_reader(r, label ? label : "memory", opt,
                       [&] { return memory_source(bytes, len); });
}

BH_EXPORT int bh_reader_next(bh_reader *r) {
    if (!r) return BH_ERR_ARGUMENT;
    return guarded(r->err, r->label, [&] {
        if (!r->reader) throw ArgumentError("the reader is not open");
        r->has_batch = r->reader->next(r->batch);
        if (!r->has_batch) r->batch.count = 0;
        return r->has_batch ? 1 : 0;
    });
}

BH_EXPORT int32_t bh_reader_count(const bh_reader *r) {
    return r && r->has_batch ? r->batch.count : 0;
}

namespace {
bool valid_record(const bh_reader *r, int32_t i) {
    return r && r->has_batch && i >= 0 && i < r->batch.count;
}
} // namespace

BH_EXPORT const char *bh_reader_header(const bh_reader *r, int32_t i) {
    return valid_record(r, i) ? r->batch.name(i) : nullptr;
}

BH_EXPORT const char *bh_reader_name(const bh_reader *r, int32_t i, size_t *len) {
    if (!valid_record(r, i) || !len) return nullptr;
    std::string_view name = record_name(r->batch.name(i));
    *len = name.size();
    return name.data();
}

BH_EXPORT int32_t bh_reader_length(const bh_reader *r, int32_t i) {
    return valid_record(r, i) ? r->batch.length(i) : 0;
}

BH_EXPORT int32_t bh_reader_is_protein(const bh_reader *r, int32_t i) {
    return valid_record(r, i) ? r->batch.is_protein.data()[i] : 0;
}

BH_EXPORT void bh_reader_codes(const bh_reader *r, int32_t i, uint8_t *out) {
    if (valid_record(r, i) && out) bio_unpack5(r->batch.packed_seq(i), r->batch.length(i), out);
}

BH_EXPORT const uint8_t *bh_reader_quals(const bh_reader *r, int32_t i) {
    return valid_record(r, i) && r->batch.has_quals() ? r->batch.qual(i) : nullptr;
}

BH_EXPORT int32_t bh_reader_format(const bh_reader *r) {
    return r && r->reader ? r->reader->format() : 0;
}

BH_EXPORT const char *bh_reader_compression(const bh_reader *r) {
    return compression_name(r && r->reader ? r->reader->compression() : Compression::none);
}

BH_EXPORT uint64_t bh_reader_bytes_read(const bh_reader *r) {
    return r && r->reader ? r->reader->bytes_read() : 0;
}

BH_EXPORT uint64_t bh_reader_input_bytes(const bh_reader *r) {
    return r ? r->input_bytes.load(std::memory_order_relaxed) : 0;
}

BH_EXPORT const char *bh_reader_error(const bh_reader *r) {
    return r ? r->err.message.c_str() : "no reader";
}

// -------------------------------------------------------------- summaries

BH_EXPORT bh_stats *bh_stats_new(void) { return make_handle<bh_stats>(); }

BH_EXPORT void bh_stats_free(bh_stats *s) { delete s; }

BH_EXPORT int bh_stats_add(bh_stats *s, const bh_reader *r) {
    if (!s || !r) return BH_ERR_ARGUMENT;
    return guarded(s->err, r->label, [&] {
        if (r->has_batch) add_batch(s->stats, r->batch, s->scratch);
        return BH_OK;
    });
}

BH_EXPORT uint64_t bh_stats_records(const bh_stats *s) { return s ? s->stats.records : 0; }

BH_EXPORT const char *bh_stats_row(bh_stats *s) {
    if (!s) return nullptr;
    int rc = guarded(s->err, std::string(), [&] {
        s->row = format_stats(s->stats);
        return BH_OK;
    });
    return rc == BH_OK ? s->row.c_str() : nullptr;
}

BH_EXPORT const char *bh_stats_error(const bh_stats *s) {
    return s ? s->err.message.c_str() : "no statistics";
}

// ---------------------------------------------------------------- mapping

BH_EXPORT void bh_map_options_init(bh_map_options *opt, size_t size) {
    MapSettings d;
    bh_map_options o{};
    o.k = d.k;
    o.w = d.w;
    o.max_occ = d.max_occ;
    o.max_hits = d.max_hits;
    o.min_score = d.min_score;
    o.threads = d.threads;
    o.sam = d.sam;
    o.raw_hits = d.raw_hits;
    o.cs = d.cs;
    o.md = d.md;
    o.secondaries = d.secondaries;
    o.secondary_ratio = d.secondary_ratio;
    o.read_group = nullptr;
    o.paf_beside_sam = 0;
    write_defaults(opt, size, o);
}

BH_EXPORT int bh_map_options_preset(bh_map_options *opt, const char *name) {
    if (!opt || !name || opt->size < sizeof(uint32_t)) return BH_ERR_ARGUMENT;
    for (const Preset &p : PRESETS) {
        if (std::strcmp(name, p.name) != 0) continue;
        // Only the caller's bytes are read and written back.
        const size_t n = std::min<size_t>(opt->size, sizeof(bh_map_options));
        bh_map_options tuned{};
        std::memcpy(&tuned, opt, n);
        tuned.k = p.k;
        tuned.w = p.w;
        tuned.max_occ = p.max_occ;
        tuned.max_hits = p.max_hits;
        tuned.min_score = p.min_score;
        tuned.secondary_ratio = p.secondary_ratio;
        std::memcpy(opt, &tuned, n);
        return BH_OK;
    }
    return BH_ERR_ARGUMENT;
}

BH_EXPORT const char *bh_map_presets(void) { return PRESET_NAMES; }

BH_EXPORT bh_mapper *bh_mapper_new(void) { return make_handle<bh_mapper>(); }

BH_EXPORT void bh_mapper_free(bh_mapper *m) { delete m; }

BH_EXPORT int bh_mapper_load(bh_mapper *m, const char *ref_path, const bh_map_options *opt) {
    if (!m || !ref_path) return BH_ERR_ARGUMENT;
    m->mapper.reset();
    m->index.reset();
    m->refs = RefTable{};
    try {
        m->ref_label = input_label(ref_path);
    } catch (...) {
        return BH_ERR_NOMEM;
    }
    return guarded(m->err, m->ref_label, [&] {
        bh_map_options o = copy_options(opt, bh_map_options_init);
        m->settings = map_settings(o);
        m->read_group = ReadGroup{};
        if (o.read_group && *o.read_group) {
            std::string wrong = parse_read_group(o.read_group, m->read_group);
            if (!wrong.empty()) throw ArgumentError(wrong);
            m->settings.read_group_id = m->read_group.id;
        }
        ReaderOptions ropt;
        ropt.threads = worker_count(m->settings.threads);
        m->refs = load_reference(ref_path, ropt);
        m->index = build_index(m->refs, m->settings, m->ref_label);
        pack_reference(m->refs);
        m->mapper = std::make_unique<BatchMapper>(m->index.get(), m->refs, m->settings);
        return BH_OK;
    });
}

BH_EXPORT int bh_mapper_sam_header(bh_mapper *m, const char *command_line, const char **text,
                                   size_t *len) {
    if (!m || !text || !len) return BH_ERR_ARGUMENT;
    return guarded(m->err, m->ref_label, [&] {
        if (!m->mapper) throw ArgumentError("no reference loaded");
        m->text = sam_header(m->refs, command_line ? command_line : "", m->read_group.line);
        *text = m->text.data();
        *len = m->text.size();
        return BH_OK;
    });
}

BH_EXPORT int bh_mapper_map(bh_mapper *m, const bh_reader *reads, const char **text,
                            size_t *len) {
    if (!m || !reads || !text || !len) return BH_ERR_ARGUMENT;
    return guarded(m->err, reads->label, [&] {
        if (!m->mapper) throw ArgumentError("no reference loaded");
        m->text.clear();
        if (reads->has_batch) m->mapper->map(reads->batch, reads->label, m->text);
        *text = m->text.data();
        *len = m->text.size();
        return BH_OK;
    });
}

BH_EXPORT int bh_mapper_paf(bh_mapper *m, const char **text, size_t *len) {
    if (!m || !text || !len) return BH_ERR_ARGUMENT;
    return guarded(m->err, m->ref_label, [&] {
        if (!m->mapper || !m->settings.sam || !m->settings.paf_beside_sam)
            throw ArgumentError("bh_mapper_paf needs a mapper loaded with sam and paf_beside_sam");
        *text = m->mapper->paf_text().data();
        *len = m->mapper->paf_text().size();
        return BH_OK;
    });
}

BH_EXPORT int bh_mapper_counts(const bh_mapper *m, bh_map_counts *out) {
    if (!m || !out || out->size < sizeof(uint32_t)) return BH_ERR_ARGUMENT;
    bh_map_counts c{};
    c.size = sizeof c;
    if (m->mapper) {
        const MapCounts &k = m->mapper->counts();
        c.reads = k.reads;
        c.bases = k.bases;
        c.mapped_reads = k.mapped_reads;
        c.mapped_bases = k.mapped_bases;
        c.primary = k.primary;
        c.secondary = k.secondary;
        c.supplementary = k.supplementary;
    }
    uint32_t size = std::min<uint32_t>(out->size, sizeof c);
    std::memcpy(out, &c, size);
    out->size = size;
    return BH_OK;
}

BH_EXPORT int32_t bh_mapper_n_refs(const bh_mapper *m) { return m ? m->refs.size() : 0; }

BH_EXPORT const char *bh_mapper_error(const bh_mapper *m) {
    return m ? m->err.message.c_str() : "no mapper";
}

// ----------------------------------------------------------------- reports

BH_EXPORT bh_report *bh_report_new(void) { return make_handle<bh_report>(); }

BH_EXPORT void bh_report_free(bh_report *r) { delete r; }

BH_EXPORT int bh_report_add_paf(bh_report *r, const char *path) {
    if (!r || !path) return BH_ERR_ARGUMENT;
    std::string label;
    try {
        label = input_label(path);
    } catch (...) {
        return BH_ERR_NOMEM;
    }
    return guarded(r->err, label, [&] {
        std::unique_ptr<TextSource> text = open_text_source(open_file_source(path), label);
        std::vector<uint8_t> buf(size_t(1) << 20);
        std::string pending; // a line cut by the end of a read
        uint64_t line_no = 0;
        for (size_t got; (got = text->read(buf.data(), buf.size())) > 0;) {
            std::string_view chunk(reinterpret_cast<const char *>(buf.data()), got);
            for (size_t nl; (nl = chunk.find('\n')) != std::string_view::npos;) {
                pending.append(chunk.substr(0, nl));
                if (!pending.empty() && pending.back() == '\r') pending.pop_back();
                r->report.add_line(pending, label, ++line_no);
                pending.clear();
                chunk.remove_prefix(nl + 1);
            }
            pending.append(chunk);
        }
        if (!pending.empty()) r->report.add_line(pending, label, ++line_no);
        return BH_OK;
    });
}

BH_EXPORT int bh_report_html(bh_report *r, const char *title, const char **text, size_t *len) {
    if (!r || !text || !len) return BH_ERR_ARGUMENT;
    return guarded(r->err, std::string(), [&] {
        r->text = r->report.html(title ? title : "");
        *text = r->text.data();
        *len = r->text.size();
        return BH_OK;
    });
}

BH_EXPORT const char *bh_report_error(const bh_report *r) {
    return r ? r->err.message.c_str() : "no report";
}
