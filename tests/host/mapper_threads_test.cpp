// The host mapper's worker threads: re-aligned PAF and SAM text is the same
// for any thread count (and, under ThreadSanitizer, race-free).
#include "bioeng_host.h"

#include "map/mapping_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr char LETTERS[] = "ACGT";

std::string letters(const map_test::Codes &codes) {
    std::string s;
    for (uint8_t c : codes) s += c < 4 ? LETTERS[c] : 'N';
    return s;
}

// A reference FASTA of two sequences with repeats, written to a temporary
// file, and a FASTA of reads sampled from it (chimeras and junk included).
struct Inputs {
    std::filesystem::path ref_path;
    std::string reads;

    explicit Inputs(uint64_t seed) {
        std::mt19937_64 rng(seed);
        map_test::Reference ref = map_test::repetitive_reference(rng);
        ref_path = std::filesystem::temp_directory_path() /
                   ("mapper_threads_" + std::to_string(seed) + ".fa");
        std::ofstream out(ref_path);
        for (size_t i = 0; i < ref.offsets.size(); ++i) {
            const uint8_t *p = ref.codes.data() + ref.offsets[i];
            out << ">s" << i << "\n" << letters(map_test::Codes(p, p + ref.lengths[i])) << "\n";
        }
        for (int i = 0; i < 300; ++i)
            reads += ">r" + std::to_string(i) + "\n" +
                     letters(map_test::random_read(rng, ref, 15)) + "\n";
    }
    ~Inputs() { std::filesystem::remove(ref_path); }
};

std::string map_all(const Inputs &in, int32_t threads, int32_t sam) {
    bh_map_options opt;
    bh_map_options_init(&opt, sizeof opt);
    opt.threads = threads;
    opt.sam = sam;
    opt.md = sam;
    opt.cs = !sam;
    std::unique_ptr<bh_mapper, void (*)(bh_mapper *)> m(bh_mapper_new(), bh_mapper_free);
    std::unique_ptr<bh_reader, void (*)(bh_reader *)> r(bh_reader_new(), bh_reader_free);
    EXPECT_EQ(bh_mapper_load(m.get(), in.ref_path.c_str(), &opt), BH_OK) << bh_mapper_error(m.get());
    bh_read_options ropt;
    bh_read_options_init(&ropt, sizeof ropt);
    ropt.threads = threads;
    ropt.batch_bytes = 4096; // several batches, each spread over the workers
    EXPECT_EQ(bh_reader_open_memory(r.get(), in.reads.data(), in.reads.size(), "reads.fa", &ropt),
              BH_OK);
    std::string all;
    int rc;
    while ((rc = bh_reader_next(r.get())) == 1) {
        const char *text = nullptr;
        size_t len = 0;
        EXPECT_EQ(bh_mapper_map(m.get(), r.get(), &text, &len), BH_OK) << bh_mapper_error(m.get());
        all.append(text, len);
    }
    EXPECT_EQ(rc, 0) << bh_reader_error(r.get());
    return all;
}

TEST(HostMapperThreads, OutputIsTheSameForAnyThreadCount) {
    for (uint64_t seed : {1, 2, 3}) {
        Inputs in(seed);
        for (int32_t sam : {0, 1}) {
            const std::string one = map_all(in, 1, sam);
            EXPECT_FALSE(one.empty());
            EXPECT_EQ(map_all(in, 2, sam), one) << "seed " << seed;
            EXPECT_EQ(map_all(in, 5, sam), one) << "seed " << seed;
        }
    }
}

} // namespace
