// The tool's chunked record reader against one whole-text parse: cutting the
// input into chunks (at any chunk size, through gzip or BGZF) must deliver
// exactly the records of the whole text, and malformed input must be
// reported, never half-read.
#include "input.h"

#include "engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#if __has_include(<zlib.h>)
#include <zlib.h>
#define HAVE_ZLIB_FOR_TESTS 1
#endif

namespace {

using namespace bioeng;

struct Record {
    std::string name;
    std::vector<uint8_t> codes;
    std::vector<uint8_t> qual;
    bool operator==(const Record &) const = default;
};

std::vector<Record> from_batch(const RecordBatch &b) {
    std::vector<Record> out;
    for (int32_t i = 0; i < b.count; ++i) {
        Record r;
        r.name = b.name(i);
        r.codes.resize(size_t(b.length(i)));
        bio_unpack5(b.packed_seq(i), b.length(i), r.codes.data());
        if (b.has_quals()) r.qual.assign(b.qual(i), b.qual(i) + b.length(i));
        out.push_back(std::move(r));
    }
    return out;
}

// The model: the library's parser over the whole text at once.
std::vector<Record> parse_whole(const std::string &text, int32_t fmt) {
    size_t n = text.size() + 1;
    RecordBatch b;
    b.names.reserve_discard(2 * n);
    b.name_offs.reserve_discard(n + 1);
    b.packed.reserve_discard(2 * n);
    b.packed_offs.reserve_discard(n + 1);
    b.seq_lens.reserve_discard(n);
    b.is_protein.reserve_discard(n);
    b.quals.reserve_discard(n);
    b.qual_offs.reserve_discard(n + 1);
    b.count = bio_parse_mem_parallel(text.data(), int64_t(text.size()), fmt, 1, 0,
                                     b.names.data(), int32_t(2 * n), b.name_offs.data(),
                                     b.packed.data(), int64_t(2 * n), b.packed_offs.data(),
                                     b.seq_lens.data(), b.is_protein.data(),
                                     fmt == BIO_FMT_FASTQ ? b.quals.data() : nullptr, int64_t(n),
                                     fmt == BIO_FMT_FASTQ ? b.qual_offs.data() : nullptr,
                                     int32_t(n));
    b.format = fmt;
    EXPECT_GE(b.count, 0);
    return from_batch(b);
}

std::vector<Record> read_all(const std::string &data, size_t chunk, int32_t threads = 1,
                             bool keep_empty = false) {
    ReaderOptions opt;
    opt.threads = threads;
    opt.keep_empty = keep_empty;
    opt.chunk_bytes = chunk;
    auto src = memory_source(reinterpret_cast<const uint8_t *>(data.data()), data.size());
    RecordReader reader(open_text_source(std::move(src), "test input"), "test input", opt);
    std::vector<Record> all;
    RecordBatch batch; // reused, as the tool does
    while (reader.next(batch)) {
        auto part = from_batch(batch);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string random_bases(std::mt19937 &rng, size_t n) {
    static const char letters[] = "ACGTACGTACGTNacgt";
    std::string s(n, 'A');
    for (char &c : s) c = letters[rng() % (sizeof letters - 1)];
    return s;
}

std::string random_fasta(std::mt19937 &rng, int records, size_t max_len) {
    std::string eol = rng() % 3 == 0 ? "\r\n" : "\n";
    std::string text;
    for (int r = 0; r < records; ++r) {
        text += ">rec" + std::to_string(r) + " description " + std::to_string(rng()) + eol;
        std::string seq = random_bases(rng, 1 + rng() % max_len);
        size_t width = 10 + rng() % 70;
        for (size_t i = 0; i < seq.size(); i += width) {
            text += seq.substr(i, width) + eol;
            if (rng() % 20 == 0) text += eol; // blank line inside a record
        }
    }
    return text;
}

std::string random_fastq(std::mt19937 &rng, int records, size_t max_len) {
    std::string eol = rng() % 3 == 0 ? "\r\n" : "\n";
    std::string text;
    for (int r = 0; r < records; ++r) {
        std::string seq = random_bases(rng, 1 + rng() % max_len);
        std::string qual(seq.size(), 'I');
        for (char &q : qual) q = char('!' + rng() % 41);
        if (rng() % 10 == 0) qual[0] = '@'; // a quality line that looks like a header
        text += "@r" + std::to_string(r) + eol + seq + eol + "+" + eol + qual + eol;
    }
    return text;
}

TEST(RecordReader, ChunkedFastaEqualsWholeParse) {
    std::mt19937 rng(1);
    for (int round = 0; round < 16; ++round) {
        std::string text = random_fasta(rng, 1 + int(rng() % 40), round % 5 == 0 ? 5000 : 300);
        auto want = parse_whole(text, BIO_FMT_FASTA);
        for (size_t chunk : {size_t(1024), size_t(1500), size_t(1) << 16})
            ASSERT_EQ(read_all(text, chunk, round == 0 ? 2 : 1), want) << "round " << round;
    }
}

TEST(RecordReader, ChunkedFastqEqualsWholeParse) {
    std::mt19937 rng(2);
    for (int round = 0; round < 16; ++round) {
        std::string text = random_fastq(rng, 1 + int(rng() % 60), round % 5 == 0 ? 3000 : 200);
        auto want = parse_whole(text, BIO_FMT_FASTQ);
        for (size_t chunk : {size_t(1024), size_t(2000), size_t(1) << 16})
            ASSERT_EQ(read_all(text, chunk, round == 0 ? 2 : 1), want) << "round " << round;
    }
}

TEST(RecordReader, LeadingAndTrailingBlankLinesAreIgnored) {
    std::string text = "\n \r\n@a\nACGT\n+\nIIII\n\n\n";
    auto got = read_all(text, 1024);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "a");
}

// Cutting a FASTQ text anywhere either ends on a record boundary (all
// records before it are read) or is reported; a partial record never passes.
TEST(RecordReader, EveryTruncationOfFastqIsReportedOrClean) {
    std::mt19937 rng(3);
    std::string text = random_fastq(rng, 6, 40);
    std::vector<size_t> ends; // offsets just after each record's last LF
    for (size_t i = 0, lines = 0; i < text.size(); ++i)
        if (text[i] == '\n' && ++lines % 4 == 0) ends.push_back(i + 1);
    for (size_t cut = 1; cut < text.size(); ++cut) {
        std::string prefix = text.substr(0, cut);
        // Clean cuts: at a record end, or with only its final line feed
        // (and carriage return) missing; then every record up to there is read.
        bool clean = false;
        size_t complete = 0;
        for (size_t e : ends) {
            bool ends_here = cut == e || cut + 1 == e || (cut + 2 == e && text[cut] == '\r');
            clean = clean || ends_here;
            if (e <= cut || ends_here) ++complete;
        }
        if (clean) {
            EXPECT_EQ(read_all(prefix, 1024).size(), complete) << "cut " << cut;
        } else {
            EXPECT_THROW(read_all(prefix, 1024), InputError) << "cut " << cut;
        }
    }
}

TEST(RecordReader, RejectsWhatIsNotFastaOrFastq) {
    EXPECT_THROW(read_all("", 1024), InputError);
    EXPECT_THROW(read_all("\n\n", 1024), InputError);
    EXPECT_THROW(read_all("hello\n", 1024), InputError);
    EXPECT_THROW(read_all(">a\n>b\n", 1024), InputError);            // no sequence at all
    EXPECT_THROW(read_all(std::string(">a\nAC\0GT\n", 10), 1024), InputError); // binary
    EXPECT_THROW(read_all("@a\nACGT\nIIII\nIIII\n", 1024), InputError); // no '+'
    EXPECT_THROW(read_all("@a\nACGT\n+\nIII\n", 1024), InputError);     // short quality
    EXPECT_THROW(read_all("@a\nACGT\n+\nIIII\n\n@b\nAC\n+\nII\n", 1024), InputError);
    EXPECT_THROW(read_all("BZh91AY&SY", 1024), InputError);
}

// Records with an empty sequence, which the library's parser drops, come
// back in their places when asked for, at any chunk size.
TEST(RecordReader, EmptyRecordsAreKeptInPlaceOnRequest) {
    const std::string fasta = ">e0 x\n\n>a\nAC\nGT\n>e1\r\n\r\n>b\nA\n>e2\n";
    const std::string fastq = "@e0\n\n+\n\n@a\nACGT\n+\nIIII\n@e1 y\n\n+\n\n@b\nA\n+\nI\n@e2\n\n+\n";
    for (const std::string &text : {fasta, fastq}) {
        for (size_t chunk : {size_t(1024), size_t(8)}) {
            auto kept = read_all(text, chunk, 1, true);
            std::vector<std::string> names;
            for (const Record &r : kept) names.push_back(r.name);
            EXPECT_EQ(names, (std::vector<std::string>{names[0], "a", names[2], "b", "e2"}));
            EXPECT_EQ(kept[0].name.substr(0, 2), "e0");
            EXPECT_EQ(kept[2].name.substr(0, 2), "e1");
            for (size_t i : {0, 2, 4}) EXPECT_TRUE(kept[i].codes.empty() && kept[i].qual.empty());
            EXPECT_EQ(kept[1].codes.size(), 4u);
            EXPECT_EQ(read_all(text, chunk).size(), 2u); // dropped by default
        }
    }
}

TEST(RecordReader, MessagesNameTheInput) {
    try {
        read_all("@a\nACGT\n+\n", 1024);
        FAIL() << "no error";
    } catch (const InputError &e) {
        std::string what = e.what();
        EXPECT_NE(what.find("test input"), std::string::npos) << what;
        EXPECT_NE(what.find("truncated FASTQ"), std::string::npos) << what;
    }
}

#ifdef HAVE_ZLIB_FOR_TESTS
std::string gzip_members(const std::string &text, size_t member_size) {
    std::string out;
    for (size_t at = 0; at < text.size(); at += member_size) {
        z_stream zs{};
        EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::string part = text.substr(at, member_size);
        std::vector<unsigned char> buf(deflateBound(&zs, uLong(part.size())) + 64);
        zs.next_in = reinterpret_cast<Bytef *>(part.data());
        zs.avail_in = uInt(part.size());
        zs.next_out = buf.data();
        zs.avail_out = uInt(buf.size());
        EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
        out.append(reinterpret_cast<char *>(buf.data()), zs.total_out);
        deflateEnd(&zs);
    }
    return out;
}

TEST(RecordReader, GzipGivesTheRecordsOfThePlainText) {
    std::mt19937 rng(4);
    for (int round = 0; round < 4; ++round) {
        std::string text = round % 2 ? random_fastq(rng, 100, 300) : random_fasta(rng, 30, 2000);
        auto want = read_all(text, 4096);
        EXPECT_EQ(read_all(gzip_members(text, text.size()), 4096), want);
        EXPECT_EQ(read_all(gzip_members(text, 777), 4096), want); // many members
    }
}

TEST(RecordReader, EveryTruncationOfGzipIsReported) {
    std::mt19937 rng(5);
    std::string gz = gzip_members(random_fastq(rng, 30, 100), 1u << 30);
    for (size_t cut = 1; cut < gz.size(); cut += 11)
        EXPECT_THROW(read_all(gz.substr(0, cut), 1024), InputError) << "cut " << cut;
    std::string corrupt = gz;
    corrupt[corrupt.size() - 6] ^= 0x55; // the stored CRC
    EXPECT_THROW(read_all(corrupt, 1024), InputError);
    EXPECT_THROW(read_all(gz + "trailing junk", 1024), InputError);
    std::string padded = gz + std::string(100, '\0'); // zero padding, as gzip -dc takes it
    EXPECT_EQ(read_all(padded, 1024), read_all(gz, 1024));
}

// BGZF blocks of `block` bytes of text each, and the end-of-file block
// unless `eof` is false.
std::string bgzf(const std::string &text, size_t block, bool eof = true) {
    auto member = [](const std::string &part) {
        z_stream zs{};
        EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::vector<unsigned char> buf(deflateBound(&zs, uLong(part.size())) + 64);
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(part.data()));
        zs.avail_in = uInt(part.size());
        zs.next_out = buf.data();
        zs.avail_out = uInt(buf.size());
        EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
        size_t bsize = 18 + zs.total_out + 8 - 1;
        std::string m = {'\x1f', '\x8b', 8, 4, 0, 0, 0, 0, 0, '\xff', 6, 0, 'B', 'C', 2, 0,
                         char(bsize & 0xff), char(bsize >> 8)};
        m.append(reinterpret_cast<char *>(buf.data()), zs.total_out);
        deflateEnd(&zs);
        uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(part.data()),
                                      uInt(part.size())));
        for (uint32_t v : {crc, uint32_t(part.size())})
            for (int i = 0; i < 4; ++i) m.push_back(char(v >> (8 * i)));
        return m;
    };
    std::string out;
    for (size_t at = 0; at < text.size(); at += block) out += member(text.substr(at, block));
    return eof ? out + member("") : out;
}

TEST(RecordReader, BgzfAloneOrFollowedByGzipGivesThePlainRecords) {
    std::mt19937 rng(6);
    std::string text = random_fastq(rng, 200, 300);
    auto want = read_all(text, 4096);
    EXPECT_EQ(read_all(bgzf(text, 5000), 4096), want);
    size_t half = text.find("\n@r100") + 1;
    std::string mixed = bgzf(text.substr(0, half), 5000, false) +
                        gzip_members(text.substr(half), 1u << 30);
    EXPECT_EQ(read_all(mixed, 4096), want);
    EXPECT_EQ(read_all(bgzf(text, 5000) + std::string(64, '\0'), 4096), want);
}

TEST(RecordReader, BgzfCutOrWithAnOversizedHeaderIsReported) {
    std::mt19937 rng(7);
    std::string text = random_fastq(rng, 100, 300);
    try {
        read_all(bgzf(text, 5000, false), 4096); // cut at a block boundary
        FAIL() << "no error";
    } catch (const InputError &e) {
        EXPECT_NE(std::string(e.what()).find("test input: truncated BGZF"), std::string::npos)
            << e.what();
    }
    // XLEN 65535 with a BC field claiming a full block: the extra field
    // alone would not fit the block buffer.
    std::string crafted = {'\x1f', '\x8b', 8, 4, 0, 0, 0, 0, 0, '\xff', '\xff', '\xff',
                           'B', 'C', 2, 0, '\xff', '\xff'};
    crafted += std::string(65535 + 200, 'A');
    EXPECT_THROW(read_all(crafted, 4096), InputError);
}
#endif

} // namespace
