// The command-line tool's input path on arbitrary bytes: compression
// sniffing, decompression (when the build links zlib/libdeflate for this
// target), chunking at record boundaries, FASTQ checks and parsing. Bad input
// must end in an InputError, never in a crash, a hang or a read out of
// bounds; delivered batches must be consistent.
//
// The tool's sources are compiled in here so that the target needs nothing
// beyond the test build of the library.
#include "../../host/input.cpp"

#include <cstdlib>

namespace {

void check_batch(const bioeng::RecordBatch &b) {
    if (b.count <= 0) std::abort();
    for (int32_t i = 0; i < b.count; ++i) {
        if (b.length(i) <= 0) std::abort(); // empty records are dropped
        if (b.name_offs.data()[i + 1] <= b.name_offs.data()[i]) std::abort();
        int32_t want = b.packed_offs.data()[i] + (5 * b.length(i) + 7) / 8;
        if (b.packed_offs.data()[i + 1] != want) std::abort();
        if (b.has_quals() && b.qual_offs.data()[i + 1] - b.qual_offs.data()[i] != b.length(i))
            std::abort();
        for (int32_t j = 0; j < b.length(i); j += 97)
            if (bio_getitem5(b.packed_seq(i), uint32_t(j)) > 31) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    bioeng::ReaderOptions opt;
    opt.threads = 1 + data[0] % 2;
    opt.chunk_bytes = 1024 + size_t(data[0] >> 1) * 37; // small chunks: many cuts and growths
    (void)bioeng::sniff_compression(data + 1, size - 1);
    try {
        auto text = bioeng::open_text_source(bioeng::memory_source(data + 1, size - 1), "fuzz");
        bioeng::RecordReader reader(std::move(text), "fuzz", opt);
        bioeng::RecordBatch batch;
        while (reader.next(batch)) check_batch(batch);
    } catch (const bioeng::InputError &) {
    } catch (const std::bad_alloc &) {
    }
    return 0;
}
