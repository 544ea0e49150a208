// Fuzz target for bio_parse_mem_parallel. The first input byte chooses the
// format (low two bits: FASTA, FASTQ, FASTQ without qualities, FASTA with
// protein detection), the thread count (next three bits: 1 to 8, capped by
// the process's OpenMP thread count) and whether
// the output buffers are one byte short (top bit); the rest is the text.
// Checks: the output equals the chunked model for the thread count; too small
// buffers give -2 and leave every output untouched.
#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../seqio/parse_mem_model.h"
#include "engine.h"

namespace {

struct Outputs {
    std::vector<char> names;
    std::vector<std::uint8_t> packed, quals;
    std::vector<std::int32_t> name_offs, packed_offs, seq_lens, is_protein, qual_offs;
    std::int32_t max_records;

    Outputs(const parse_model::Flat &f, std::size_t shrink)
        : names(f.names.size() - std::min(shrink, f.names.size()), '#'),
          packed(f.packed.size() - shrink, 0xA5),
          quals(f.quals.size(), 0xA5),
          name_offs(f.name_offs.size(), -7), packed_offs(f.packed_offs.size(), -7),
          seq_lens(f.seq_lens.size(), -7), is_protein(f.seq_lens.size(), -7),
          qual_offs(f.qual_offs.size(), -7),
          max_records(static_cast<std::int32_t>(f.seq_lens.size())) {}

    std::int32_t parse(const std::string &text, int fmt, int threads, int protein) {
        return bio_parse_mem_parallel(text.data(), static_cast<std::int64_t>(text.size()), fmt, threads,
                                      protein, names.data(), static_cast<std::int32_t>(names.size()),
                                      name_offs.data(), packed.data(), static_cast<std::int64_t>(packed.size()),
                                      packed_offs.data(), seq_lens.data(), is_protein.data(), quals.data(),
                                      static_cast<std::int64_t>(quals.size()), qual_offs.data(), max_records);
    }

    bool same_as(const parse_model::Flat &f) const {
        return names == f.names && packed == f.packed && quals == f.quals && name_offs == f.name_offs &&
               packed_offs == f.packed_offs && seq_lens == f.seq_lens && is_protein == f.is_protein &&
               qual_offs == f.qual_offs;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2) return 0;
    // Up to 8 workers unless the environment chooses (the fuzz scripts ask
    // for a few: every worker wakes for every input).
    static const bool once = [] { return std::getenv("OMP_NUM_THREADS") || (omp_set_num_threads(8), true); }();
    (void)once;
    const int choice = data[0] & 3;
    const int fmt = choice == 0 || choice == 3 ? 1 : choice;  // 1 FASTA, 2 FASTQ, 3 FASTQ without qualities
    const int protein = choice == 3 ? -1 : 0;
    const int threads = 1 + ((data[0] >> 2) & 7);
    const bool short_buffers = data[0] & 0x80;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

    // The parser cuts the text into one chunk per worker; the chunked model
    // gives its exact output for any text, mis-framed FASTQ included.
    const int chunks = std::min(threads, omp_get_max_threads());
    const parse_model::Flat want =
        parse_model::flatten(parse_model::parse_chunked(text, fmt, protein, chunks));
    if (short_buffers) {
        // Buffers one short of the model's output must be refused.
        Outputs o(want, 1);
        const Outputs fresh = o;
        if (o.parse(text, fmt, threads, protein) != -2) std::abort();
        if (o.names != fresh.names || o.packed != fresh.packed || o.quals != fresh.quals ||
            o.name_offs != fresh.name_offs || o.packed_offs != fresh.packed_offs ||
            o.seq_lens != fresh.seq_lens || o.is_protein != fresh.is_protein || o.qual_offs != fresh.qual_offs)
            std::abort();
        return 0;
    }
    Outputs o(want, 0);
    const std::int32_t rc = o.parse(text, fmt, threads, protein);
    if (rc != static_cast<std::int32_t>(want.seq_lens.size())) std::abort();
    if (!o.same_as(want)) std::abort();
    return 0;
}
