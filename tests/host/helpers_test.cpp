// Formatting and sniffing helpers of the command-line tool.
#include "format.h"
#include "input.h"
#include "stats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace bioeng;

RefTable two_refs() {
    RefTable refs;
    refs.names = {"chr1", "chr2"};
    refs.offsets = {0, 101}; // one separator code between them
    refs.lengths = {100, 50};
    return refs;
}

bio_map_hit_t hit_on_chr2(int32_t strand) {
    bio_map_hit_t h{};
    h.identity = 0.9;
    h.chain_score = 40;
    h.ref_start = 111; // position 10 of chr2
    h.ref_end = 119;
    h.query_start = 2;
    h.query_end = 9;
    h.strand = strand;
    h.n_match = 6;
    h.aln_len = 8;
    h.mapq = 37;
    h.ref_id = 1;
    return h;
}

TEST(RecordName, StopsAtWhiteSpaceAndStandsInForEmpty) {
    EXPECT_EQ(record_name("read1 some description"), "read1");
    EXPECT_EQ(record_name("read1\tx"), "read1");
    EXPECT_EQ(record_name("plain"), "plain");
    EXPECT_EQ(record_name(""), "*");
    EXPECT_EQ(record_name(" leading"), "*");
}

TEST(SoftClips, ForwardClipsAreTheUnalignedEnds) {
    SoftClips c = soft_clips(hit_on_chr2(0), 12);
    EXPECT_EQ(c.head, 2);
    EXPECT_EQ(c.tail, 3);
}

TEST(SoftClips, ReverseClipsAreSwappedToReferenceOrientation) {
    SoftClips c = soft_clips(hit_on_chr2(1), 12);
    EXPECT_EQ(c.head, 3);
    EXPECT_EQ(c.tail, 2);
}

TEST(CountCigar, SumsRunsPerOperation) {
    CigarCounts c = count_cigar("10M2I3D1M12I");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.match, 11);
    EXPECT_EQ(c.ins, 14);
    EXPECT_EQ(c.del, 3);
}

TEST(CountCigar, RejectsMalformedText) {
    EXPECT_FALSE(count_cigar("").ok);
    EXPECT_FALSE(count_cigar("M").ok);
    EXPECT_FALSE(count_cigar("10").ok);
    EXPECT_FALSE(count_cigar("5X").ok);
    EXPECT_FALSE(count_cigar("3M4").ok);
    EXPECT_FALSE(count_cigar("99999999999999M").ok);
}

TEST(AlignmentScore, UsesTheMapperScores) {
    bio_map_hit_t h = hit_on_chr2(0);
    // 8 columns: 6 matches, 1 gap column, so 1 mismatch: 12 - 1 - 2.
    EXPECT_EQ(alignment_score(h, count_cigar("3M1D4M")), 9);
}

TEST(Paf, TwelveColumnsInReferenceSequenceCoordinates) {
    std::string out;
    ReadView read;
    read.name = "r1";
    read.len = 12;
    append_paf(out, read, hit_on_chr2(1), two_refs(), "3M1D4M", true);
    EXPECT_EQ(out, "r1\t12\t2\t9\t-\tchr2\t50\t10\t18\t6\t8\t37\ttp:A:P\tcg:Z:3M1D4M\n");
    out.clear();
    append_paf(out, read, hit_on_chr2(0), two_refs(), "", false);
    EXPECT_EQ(out, "r1\t12\t2\t9\t+\tchr2\t50\t10\t18\t6\t8\t37\ttp:A:S\n");
}

TEST(Sam, ReverseSecondaryHitIsClippedComplementedAndReversed) {
    const uint8_t codes[12] = {0, 0, 1, 1, 2, 2, 3, 3, 31, 0, 1, 2};
    const uint8_t qual[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 120};
    ReadView read;
    read.name = "r1";
    read.codes = codes;
    read.len = 12;
    read.qual = qual;
    std::string out;
    append_sam_hit(out, read, hit_on_chr2(1), two_refs(), "3M1D4M", true);
    // reverse complement of AACCGGTTNACG is CGTNAACCGGTT; quality reversed,
    // capped at '~'.
    EXPECT_EQ(out, "r1\t272\tchr2\t11\t37\t3S3M1D4M2S\t*\t0\t0\tCGTNAACCGGTT\t~+*)('&%$#\"!"
                   "\tNM:i:2\tAS:i:9\n");
}

TEST(Sam, ForwardPrimaryFromFastaHasNoQuality) {
    const uint8_t codes[12] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
    ReadView read;
    read.name = "r2";
    read.codes = codes;
    read.len = 12;
    std::string out;
    append_sam_hit(out, read, hit_on_chr2(0), two_refs(), "3M1D4M", false);
    EXPECT_EQ(out, "r2\t0\tchr2\t11\t37\t2S3M1D4M3S\t*\t0\t0\tACGTACGTACGT\t*\tNM:i:2\tAS:i:9\n");
}

TEST(Sam, HitWithoutCigarGetsStarAndNoScore) {
    const uint8_t codes[12] = {};
    ReadView read;
    read.name = "r3";
    read.codes = codes;
    read.len = 12;
    std::string out;
    append_sam_hit(out, read, hit_on_chr2(0), two_refs(), "", false);
    EXPECT_EQ(out, "r3\t0\tchr2\t11\t37\t*\t*\t0\t0\tAAAAAAAAAAAA\t*\tNM:i:2\n");
}

TEST(Sam, UnmappedRecord) {
    const uint8_t codes[3] = {3, 2, 1};
    const uint8_t qual[3] = {30, 20, 10};
    ReadView read;
    read.name = "u";
    read.codes = codes;
    read.len = 3;
    read.qual = qual;
    std::string out;
    append_sam_unmapped(out, read);
    EXPECT_EQ(out, "u\t4\t*\t0\t0\t*\t*\t0\t0\tTGC\t?5+\n");
}

TEST(Sam, HeaderListsEverySequenceAndTheCommand) {
    std::string h = sam_header(two_refs(), "bioeng map\tx.fa y.fq");
    EXPECT_EQ(h, "@HD\tVN:1.6\tSO:unsorted\n@SQ\tSN:chr1\tLN:100\n@SQ\tSN:chr2\tLN:50\n"
                 "@PG\tID:bioeng\tPN:bioeng\tVN:" BIOENG_VERSION "\tCL:bioeng map x.fa y.fq\n");
}

TEST(Sam, ReadGroupFromCommandLineText) {
    ReadGroup rg;
    EXPECT_EQ(parse_read_group("@RG\\tID:run1\\tSM:a\\\\b", rg), "");
    EXPECT_EQ(rg.line, "@RG\tID:run1\tSM:a\\b");
    EXPECT_EQ(rg.id, "run1");
    EXPECT_EQ(parse_read_group("@RG\tSM:x\tID:r2", rg), ""); // real tabs, ID anywhere
    EXPECT_EQ(rg.id, "r2");
    EXPECT_NE(parse_read_group("ID:x", rg), "");
    EXPECT_NE(parse_read_group("@RG\\tSM:x", rg), "");         // no ID
    EXPECT_NE(parse_read_group("@RG\\tID:", rg), "");          // empty ID
    EXPECT_NE(parse_read_group("@RG\\tID:x\\t", rg), "");     // empty field
    EXPECT_NE(parse_read_group("@RG\\tID:x\nSM:y", rg), "");  // two lines
    EXPECT_TRUE(rg.line.empty());
    std::string h = sam_header(two_refs(), "c", "@RG\tID:r");
    EXPECT_NE(h.find("LN:50\n@RG\tID:r\n@PG\t"), std::string::npos);
}

TEST(Sam, TagAddedToEveryLineOfABlock) {
    std::string out = "head\na\tb\nc\n";
    append_tag_to_lines(out, 5, "RG:Z:x");
    EXPECT_EQ(out, "head\na\tb\tRG:Z:x\nc\tRG:Z:x\n");
    append_tag_to_lines(out, out.size(), "RG:Z:y"); // nothing to tag
    EXPECT_EQ(out, "head\na\tb\tRG:Z:x\nc\tRG:Z:x\n");
}

std::vector<uint8_t> bytes(std::initializer_list<int> v) { return {v.begin(), v.end()}; }

TEST(Sniff, PlainGzipAndBgzfByContent) {
    auto text = bytes({'>', 'a', '\n'});
    EXPECT_EQ(sniff_compression(text.data(), text.size()), Compression::none);
    auto gz = bytes({0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3});
    EXPECT_EQ(sniff_compression(gz.data(), gz.size()), Compression::gzip);
    auto bgzf = bytes({0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'B', 'C', 2, 0, 0x1b, 0});
    EXPECT_EQ(sniff_compression(bgzf.data(), bgzf.size()), Compression::bgzf);
    // An extra field without BC is plain gzip.
    auto other = bytes({0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'X', 'Y', 2, 0, 0, 0});
    EXPECT_EQ(sniff_compression(other.data(), other.size()), Compression::gzip);
    // Method other than deflate, or too short to tell: not gzip.
    auto method = bytes({0x1f, 0x8b, 7, 0});
    EXPECT_EQ(sniff_compression(method.data(), method.size()), Compression::none);
    EXPECT_EQ(sniff_compression(gz.data(), 3), Compression::none);
    // FEXTRA set but the header cut before XLEN: still gzip, never a read past the end.
    EXPECT_EQ(sniff_compression(bgzf.data(), 8), Compression::gzip);
    // A subfield length that runs past the buffer is not followed.
    auto long_sub = bytes({0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 8, 0, 'X', 'Y', 200, 0});
    EXPECT_EQ(sniff_compression(long_sub.data(), long_sub.size()), Compression::gzip);
}

TEST(Stats, N50AndGc) {
    SeqStats st;
    const uint8_t codes[10] = {0, 1, 2, 3, 1, 1, 31, 31, 2, 0};
    for (int32_t len : {2, 3, 5}) st.add_length(len);
    st.add_codes(codes, 10);
    EXPECT_EQ(st.records, 3u);
    EXPECT_EQ(st.bases, 10u);
    EXPECT_EQ(st.min_len, 2);
    EXPECT_EQ(st.max_len, 5);
    EXPECT_EQ(st.n50(), 5); // 5 of 10 bases is half
    EXPECT_DOUBLE_EQ(st.gc_percent(), 100.0 * 5 / 8);
    EXPECT_EQ(format_stats(st), "3\t10\t2\t5\t3.3\t5\t62.50");
}

TEST(Stats, EmptySetIsAllZero) {
    SeqStats st;
    EXPECT_EQ(st.n50(), 0);
    EXPECT_EQ(st.gc_percent(), 0.0);
}

} // namespace
