// The host layer's C interface: error codes and messages per handle, option
// structs of older (shorter) callers, and calls out of order.
#include "bioeng_host.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(HostInterface, FailuresGiveACodeAndAMessageNamingTheInput) {
    bh_reader *r = bh_reader_new();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bh_reader_next(r), BH_ERR_ARGUMENT); // not open yet
    EXPECT_EQ(bh_reader_open(r, "/nonexistent/reads.fq", nullptr), BH_ERR_INPUT);
    EXPECT_NE(std::string(bh_reader_error(r)).find("/nonexistent/reads.fq: cannot open"),
              std::string::npos)
        << bh_reader_error(r);
    const char bad[] = "@r\nACGT\n+\nII\n";
    ASSERT_EQ(bh_reader_open_memory(r, bad, std::strlen(bad), "bad.fq", nullptr), BH_OK);
    EXPECT_EQ(bh_reader_next(r), BH_ERR_INPUT);
    EXPECT_NE(std::string(bh_reader_error(r)).find("bad.fq: malformed FASTQ"), std::string::npos);
    EXPECT_EQ(bh_reader_count(r), 0);
    EXPECT_EQ(bh_reader_header(r, 0), nullptr);
    bh_reader_free(r);
    bh_reader_free(nullptr);
}

TEST(HostInterface, OptionsOfAnOlderCallerKeepTheDefaultsOfNewerFields) {
    bh_read_options opt;
    bh_read_options_init(&opt, sizeof opt);
    opt.keep_empty = 1;
    opt.size = offsetof(bh_read_options, keep_empty); // a caller that predates keep_empty
    const char text[] = ">e\n>a\nACGT\n";
    bh_reader *r = bh_reader_new();
    ASSERT_EQ(bh_reader_open_memory(r, text, std::strlen(text), "t.fa", &opt), BH_OK);
    ASSERT_EQ(bh_reader_next(r), 1);
    EXPECT_EQ(bh_reader_count(r), 1); // keep_empty was not seen: the empty record is dropped
    opt.size = sizeof opt;
    opt.batch_bytes = 10;
    EXPECT_EQ(bh_reader_open_memory(r, text, std::strlen(text), "t.fa", &opt), BH_ERR_ARGUMENT);
    EXPECT_NE(std::string(bh_reader_error(r)).find("batch_bytes"), std::string::npos);
    bh_reader_free(r);
}

TEST(HostInterface, InitAndPresetsWriteOnlyTheCallersBytes) {
    // An older caller's struct ends at `cs`; the bytes after it are not its own.
    const size_t older = offsetof(bh_map_options, md);
    unsigned char bytes[sizeof(bh_map_options) + 16];
    std::memset(bytes, 0xAB, sizeof bytes);
    auto *opt = reinterpret_cast<bh_map_options *>(bytes);
    bh_map_options_init(opt, older);
    EXPECT_EQ(opt->size, older);
    EXPECT_EQ(opt->k, 15);
    ASSERT_EQ(bh_map_options_preset(opt, "sr"), BH_OK);
    for (size_t i = older; i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xAB) << "byte " << i;
    // A newer caller's struct is longer than ours: only ours is written.
    std::memset(bytes, 0xAB, sizeof bytes);
    bh_map_options_init(opt, sizeof bytes);
    EXPECT_EQ(opt->size, sizeof(bh_map_options));
    for (size_t i = sizeof(bh_map_options); i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xAB);
}

TEST(HostInterface, MapperRejectsBadOptionsAndCallsBeforeLoading) {
    bh_mapper *m = bh_mapper_new();
    bh_reader *r = bh_reader_new();
    const char *text = nullptr;
    size_t len = 0;
    EXPECT_EQ(bh_mapper_map(m, r, &text, &len), BH_ERR_ARGUMENT);
    bh_map_options opt;
    bh_map_options_init(&opt, sizeof opt);
    opt.min_score = std::strtod("nan", nullptr);
    EXPECT_EQ(bh_mapper_load(m, "ref.fa", &opt), BH_ERR_ARGUMENT);
    bh_map_options_init(&opt, sizeof opt);
    opt.k = 33;
    EXPECT_EQ(bh_mapper_load(m, "ref.fa", &opt), BH_ERR_ARGUMENT);
    EXPECT_NE(std::string(bh_mapper_error(m)).find("k must be between 1 and 32"),
              std::string::npos);
    EXPECT_EQ(bh_mapper_n_refs(m), 0);
    bh_reader_free(r);
    bh_mapper_free(m);
}

} // namespace
