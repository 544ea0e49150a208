#include "seqio/reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/reader_model.h"
#include "support/allocation_failure.h"

namespace {

using namespace reader_test;


// Arguments of one bio_parser_next call.
struct Call {
    int name_cap = 4096;
    int seq_cap = 1 << 18;
    int protein = 0;
    bool name_given = true;
    bool qual_given = true;      // both qual and qual_len
    bool flag_given = true;      // is_protein
};

// The outputs of one bio_parser_next call, in guarded buffers.
struct Outcome {
    int result = 0;
    std::vector<char> name;
    std::vector<std::uint8_t> seq, qual;
    std::int32_t seq_len = -7, is_protein = -7, qual_len = -7;
};

Outcome read_next(bio_parser_t *reader, const Call &c) {
    Outcome o;
    o.name.assign(static_cast<std::size_t>(std::max(c.name_cap, 0) + GUARD_BYTES), char(GUARD));
    o.seq.assign(static_cast<std::size_t>(std::max(c.seq_cap, 0) + GUARD_BYTES), GUARD);
    o.qual.assign(o.seq.size(), GUARD);
    o.result = bio_parser_next(reader, c.name_given ? o.name.data() : nullptr, c.name_cap,
                               o.seq.data(), c.seq_cap, &o.seq_len, c.protein,
                               c.flag_given ? &o.is_protein : nullptr,
                               c.qual_given ? o.qual.data() : nullptr,
                               c.qual_given ? &o.qual_len : nullptr);
    return o;
}

bool guard_intact(const std::uint8_t *p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != GUARD) return false;
    return true;
}

void expect_same(const ModelRecord &m, const Outcome &o, const Call &c, bool fastq) {
    ASSERT_EQ(o.result, m.result);
    const auto cap = static_cast<std::size_t>(std::max(c.seq_cap, 0));
    EXPECT_TRUE(guard_intact(o.seq.data() + cap, GUARD_BYTES)) << "written past seq_cap";
    EXPECT_TRUE(guard_intact(o.qual.data() + cap, GUARD_BYTES)) << "written past the quality room";
    const auto *name = reinterpret_cast<const std::uint8_t *>(o.name.data());
    if (c.name_given && m.name_written) {
        ASSERT_EQ(std::string(o.name.data(), m.name.size()), m.name);
        EXPECT_EQ(o.name[m.name.size()], '\0');
        EXPECT_TRUE(guard_intact(name + c.name_cap, GUARD_BYTES));
    } else if (c.name_given) {
        EXPECT_TRUE(guard_intact(name, o.name.size())) << "name written with no capacity";
    }
    const std::int32_t expect_qual_len = o.result == 1 ? std::int32_t(m.qual.size()) : 0;
    if (c.flag_given) {
        EXPECT_EQ(o.is_protein, o.result == 1 ? m.is_protein : 0);
    }
    if (c.qual_given) {
        EXPECT_EQ(o.qual_len, expect_qual_len);
    }
    if (o.result == 1) {
        ASSERT_EQ(o.seq_len, std::int32_t(m.seq.size()));
        EXPECT_EQ(std::vector<std::uint8_t>(o.seq.begin(), o.seq.begin() + o.seq_len), m.seq);
        if (c.qual_given) {
            EXPECT_EQ(std::vector<std::uint8_t>(o.qual.begin(), o.qual.begin() + expect_qual_len),
                      m.qual);
        }
    } else if (o.result == -2 && !fastq) {
        ASSERT_EQ(o.seq_len, std::int32_t(m.seq.size()));  // raw letters of the lines that fitted
        EXPECT_EQ(std::vector<std::uint8_t>(o.seq.begin(), o.seq.begin() + o.seq_len), m.seq);
    } else {
        EXPECT_EQ(o.seq_len, 0);
    }
}

// Reads `text` to its end with the library and with the model, asking each
// call's arguments from `next_call`, and compares every result.
void compare_with_model(const std::string &text, const std::function<Call()> &next_call) {
    TempFile file(text);
    bio_parser_t *reader = bio_parser_open(file.path());
    ASSERT_NE(reader, nullptr);
    ModelReader model(text);
    int ends = 0;
    for (int calls = 0; ends < 2; ++calls) {
        ASSERT_LT(calls, 200000) << "the reader does not come to an end";
        const Call c = next_call();
        const ModelRecord m = model.next(c.name_given ? c.name_cap : 0, c.seq_cap, c.protein,
                                         c.qual_given);
        const Outcome o = read_next(reader, c);
        SCOPED_TRACE(testing::Message() << "call " << calls << " seq_cap " << c.seq_cap
                                        << " name_cap " << c.name_cap << " protein " << c.protein);
        expect_same(m, o, c, model.is_fastq());
        if (testing::Test::HasFatalFailure()) break;
        ends += o.result == 0;
    }
    bio_parser_close(reader);
}

const int NAME_CAPS[] = {-1, 0, 1, 2, 3, 8, 33, 4096};
const int PROTEIN_CHOICES[] = {-1, 0, 1, 2};

Call fixed_call(int seq_cap, int variant) {
    Call c;
    c.seq_cap = seq_cap;
    c.name_cap = NAME_CAPS[variant % 8];
    c.protein = PROTEIN_CHOICES[(variant / 8) % 4];
    c.name_given = variant % 5 != 4;
    c.qual_given = variant % 3 != 2;
    c.flag_given = variant % 7 != 6;
    return c;
}

Call random_call(TextMaker &maker, int max_seq_cap) {
    Call c = fixed_call(maker.uniform(0, max_seq_cap), maker.uniform(0, 1000));
    if (maker.chance(0.3)) c.seq_cap = 4 * max_seq_cap;
    return c;
}

// ---------------------------------------------------------------- model

// 60 random texts, each read with every seq_cap from 0 to 40 and a name
// capacity, alphabet choice and set of optional outputs that vary with it.
void compare_for_every_small_seq_cap(std::uint32_t first_seed, bool fastq) {
    for (std::uint32_t seed = first_seed; seed < first_seed + 60; ++seed) {
        TextMaker maker(seed);
        const std::string text = fastq ? maker.fastq(TextShape{}) : maker.fasta(TextShape{});
        for (int seq_cap = 0; seq_cap <= 40; ++seq_cap) {
            const Call c = fixed_call(seq_cap, int(seed) * 41 + seq_cap);
            compare_with_model(text, [&] { return c; });
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(ReaderModel, RandomFastaForEverySmallSeqCap) { compare_for_every_small_seq_cap(0, false); }

TEST(ReaderModel, RandomFastqForEverySmallSeqCap) { compare_for_every_small_seq_cap(100, true); }

TEST(ReaderModel, ArgumentsChangingFromCallToCall) {
    for (std::uint32_t seed = 200; seed < 600; ++seed) {
        TextMaker maker(seed);
        TextShape shape;
        shape.records = maker.uniform(0, 20);
        shape.crlf = maker.uniform(0, 2) * 0.5;
        const std::string text = seed % 2 ? maker.fasta(shape) : maker.fastq(shape);
        compare_with_model(text, [&] { return random_call(maker, 90); });
        if (HasFatalFailure()) return;
    }
}

// Stretches longer than the buffer: junk before the first record, lines and
// headers longer than 65,536 bytes, and over-long records whose unread rest
// is longer than the buffer.
TEST(ReaderModel, StretchesLongerThanTheBuffer) {
    for (std::uint32_t seed = 700; seed < 716; ++seed) {
        TextMaker maker(seed);
        TextShape shape;
        shape.records = 6;
        shape.max_line = maker.chance(0.5) ? 150000 : 3000;
        shape.max_lines = 3;
        shape.junk = 1.0;
        shape.max_junk = 200000;
        const std::string text = seed % 2 ? maker.fasta(shape) : maker.fastq(shape);
        compare_with_model(text, [&] { return random_call(maker, 100000); });
        if (HasFatalFailure()) return;
    }
}

// The same records with 0..N bytes in front, so that every record, line end
// and CR LF pair meets the 65,536-byte refill boundary somewhere.
TEST(ReaderModel, RecordsStraddlingTheRefillBoundary) {
    for (int fastq = 0; fastq < 2; ++fastq) {
        TextMaker maker(900 + fastq);
        TextShape shape;
        shape.records = 1500;
        shape.junk = 0;
        shape.crlf = 0.5;
        shape.no_final_lf = 0;
        const std::string body = fastq ? maker.fastq(shape) : maker.fasta(shape);
        ASSERT_GT(body.size(), 2 * reader_test::FIRST_FILL);
        for (int shift = 0; shift <= 120; ++shift) {
            const std::string text = std::string(std::size_t(shift), 'x') + body;
            const Call c = fixed_call(shift % 3 == 0 ? 5000 : 60, shift);
            compare_with_model(text, [&] { return c; });
            if (HasFatalFailure()) return;
        }
    }
}

// The vector detection of protein letters against the table scan, on
// random bytes with protein letters rare, at every length up to a few blocks.
TEST(ReaderModel, ProteinDetectionAgreesWithTheTableScan) {
    const engine::LetterConverter aa_only(engine::_MAP_AA_ONLY);
    std::mt19937 rng(11);
    std::vector<std::uint8_t> bytes(9000);
    for (int round = 0; round < 300; ++round) {
        const std::string pool = round % 3 ? "ACGTNacgtn-.\n\r >;RYSWKMBDHVXZ" : "";
        for (auto &b : bytes)
            b = pool.empty() ? std::uint8_t(rng()) : std::uint8_t(pool[rng() % pool.size()]);
        if (round % 4 == 1) bytes[rng() % bytes.size()] = "EFILPQefilpq*"[rng() % 13];
        const std::size_t n = round < 100 ? std::size_t(round) : rng() % bytes.size();
        EXPECT_EQ(engine::has_protein_letter(aa_only, bytes.data(), n),
                  engine::looks_like_protein(engine::_MAP_AA_ONLY, bytes.data(), n))
            << "round " << round;
    }
}

// ---------------------------------------------------------------- edge cases

std::string letters_of(const Outcome &o) {
    std::string s;
    for (int i = 0; i < o.seq_len; ++i) s += engine::_MAP_DECODE[o.seq[std::size_t(i)] & 31];
    return s;
}

std::vector<int> codes_of(const Outcome &o) {
    return std::vector<int>(o.seq.begin(), o.seq.begin() + std::max(o.seq_len, 0));
}

std::string name_of(const Outcome &o) { return std::string(o.name.data(), strnlen(o.name.data(), o.name.size())); }

TEST(ReaderFormat, DecidedByTheFirstByteAfterBlanks) {
    {
        Opened f("\n\r\n  \n>r1\nACGT\n");
        ASSERT_NE(f.reader, nullptr);
        EXPECT_EQ(f.reader->format, engine::FMT_FASTA);
        const Outcome o = read_next(f.reader, Call{});
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(letters_of(o), "ACGT");
    }
    {
        Opened f(" \n \r\n@r1\nACGT\n+\nIIII\n");
        EXPECT_EQ(f.reader->format, engine::FMT_FASTQ);
        const Outcome o = read_next(f.reader, Call{});
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(name_of(o), "r1");
        EXPECT_EQ(o.qual_len, 4);
    }
    {
        Opened f("\t@r1\nACGT\n+\nIIII\n");  // a tab: FASTA, and no '>' anywhere
        EXPECT_EQ(f.reader->format, engine::FMT_FASTA);
        EXPECT_EQ(read_next(f.reader, Call{}).result, 0);
    }
    {
        Opened f("");
        ASSERT_NE(f.reader, nullptr);
        EXPECT_EQ(f.reader->format, engine::FMT_FASTA);
        EXPECT_EQ(read_next(f.reader, Call{}).result, 0);
    }
}

TEST(ReaderOpen, MissingFileGivesNull) {
    EXPECT_EQ(bio_parser_open("/nonexistent/dir/reads.fa"), nullptr);
    EXPECT_EQ(bio_parser_open(nullptr), nullptr);
}

TEST(ReaderOpen, GzipMagicGivesNull) {
    TempFile gz(std::string("\x1f\x8b\x08\x00rest", 8));
    EXPECT_EQ(bio_parser_open(gz.path()), nullptr);
    TempFile one(std::string("\x1f", 1));  // one byte of the magic is just text
    bio_parser_t *reader = bio_parser_open(one.path());
    EXPECT_NE(reader, nullptr);
    bio_parser_close(reader);
}

TEST(ReaderOpen, EachReservationFailureGivesNullAndLeaksNothing) {
    TempFile file(">r\nACGT\n");
    engine_test::expect_each_allocation_failure(
        [&] { return bio_parser_open(file.path()); },
        [](bio_parser_t *r) { EXPECT_EQ(r, nullptr); }, [](bio_parser_t *r) { bio_parser_close(r); });
}

TEST(ReaderNext, NullReaderWritesNothing) {
    std::int32_t seq_len = 5, flag = 5, qual_len = 5;
    std::uint8_t seq[4];
    EXPECT_EQ(bio_parser_next(nullptr, nullptr, 0, seq, 4, &seq_len, 0, &flag, seq, &qual_len), -1);
    EXPECT_EQ(seq_len, 5);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(qual_len, 5);
    bio_parser_close(nullptr);
}

TEST(ReaderNext, OutParametersAreZeroAtTheEnd) {
    Opened f(">r\nAC\n");
    EXPECT_EQ(read_next(f.reader, Call{}).result, 1);
    for (int i = 0; i < 3; ++i) {
        const Outcome o = read_next(f.reader, Call{});
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.seq_len, 0);
        EXPECT_EQ(o.is_protein, 0);
        EXPECT_EQ(o.qual_len, 0);
    }
}

TEST(ReaderFasta, MultiLineCrLfRecord) {
    Opened f(">r1 some description\r\nAC\r\nGT\r\n\r\nNN\r\n>r2\r\nTT");
    Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(name_of(o), "r1 some description");
    EXPECT_EQ(letters_of(o), "ACGTNN");
    o = read_next(f.reader, Call{});
    EXPECT_EQ(name_of(o), "r2");
    EXPECT_EQ(letters_of(o), "TT");
}

TEST(ReaderFasta, TextBeforeTheFirstRecordIsSkipped) {
    Opened f("some preamble\nmore; text\n>r1\nACGT\n");
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(name_of(o), "r1");
}

TEST(ReaderFasta, EmptyRecordIsSkipped) {
    Opened f(">empty\n>r2\nGG\n>tail\n");
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(name_of(o), "r2");
    EXPECT_EQ(letters_of(o), "GG");
    EXPECT_EQ(read_next(f.reader, Call{}).result, 0);
}

TEST(ReaderFasta, CommentLinesAndSemicolonsInsideLines) {
    Opened f(">r1\n;comment\nAC;GT\n;another\nTT\n");
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(codes_of(o), (std::vector<int>{0, 1, 31, 2, 3, 3, 3}));
}

TEST(ReaderFasta, AlphabetDetection) {
    Call detect;
    detect.protein = -1;
    Opened f(">dna\nACGTN\n>prot\nMKLV\n");
    Outcome o = read_next(f.reader, detect);
    EXPECT_EQ(codes_of(o), (std::vector<int>{0, 1, 2, 3, 31}));
    EXPECT_EQ(o.is_protein, 0);
    o = read_next(f.reader, detect);
    EXPECT_EQ(codes_of(o), (std::vector<int>{14, 12, 13, 21}));
    EXPECT_EQ(o.is_protein, 1);

    Opened q("@p\nMKLV\n+\nIIII\n");
    o = read_next(q.reader, detect);  // FASTQ is never detected
    EXPECT_EQ(codes_of(o), (std::vector<int>{31, 31, 31, 31}));
    EXPECT_EQ(o.is_protein, 0);
}

TEST(ReaderFasta, ProteinFlagCarriesTheCallersValue) {
    Call c;
    c.protein = 2;
    Opened f(">p\nACD\n");
    const Outcome o = read_next(f.reader, c);
    EXPECT_EQ(codes_of(o), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(o.is_protein, 2);
}

TEST(ReaderFasta, LongHeaderIsCut) {
    Call c;
    c.name_cap = 5;
    Opened f(">abcdefgh ij\nAC\n>second\nGT\n");
    Outcome o = read_next(f.reader, c);
    EXPECT_EQ(name_of(o), "abcd");
    EXPECT_EQ(letters_of(o), "AC");
    o = read_next(f.reader, Call{});
    EXPECT_EQ(name_of(o), "second");
    EXPECT_EQ(letters_of(o), "GT");
}

TEST(ReaderFasta, SequenceOfExactlySeqCap) {
    Call c;
    c.seq_cap = 6;
    Opened f(">fits\nACG\nTAC\n>over\nACG\nTACG\n>next\nGG\n");
    Outcome o = read_next(f.reader, c);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(letters_of(o), "ACGTAC");
    o = read_next(f.reader, c);
    EXPECT_EQ(o.result, -2);
    EXPECT_EQ(name_of(o), "over");
    EXPECT_EQ(o.seq_len, 3);
    EXPECT_EQ(std::string(o.seq.begin(), o.seq.begin() + 3), "ACG");  // raw letters
    o = read_next(f.reader, c);
    EXPECT_EQ(name_of(o), "next");
}

// A carriage return counts as a line end only directly before a line feed or
// as the last byte of the input; one inside a line is a letter (code 31). A
// FASTA line led by a carriage return is blank up to that byte, so a record
// marker right after it still starts the next record.
TEST(ReaderLineEnds, CarriageReturnRule) {
    Opened f(">r1\r\n\rAC\rG\r\r\nT\r");
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(codes_of(o), (std::vector<int>{0, 1, 31, 2, 31, 3}));
}

TEST(ReaderLineEnds, LoneCarriageReturnBeforeAMarkerKeepsTheNextRecord) {
    Opened f(">r1\nAC\n\r>r2\nGT\n\r;x\nAA\n");
    const Outcome first = read_next(f.reader, Call{});
    EXPECT_EQ(codes_of(first), (std::vector<int>{0, 1}));
    const Outcome second = read_next(f.reader, Call{});
    EXPECT_EQ(name_of(second), "r2");
    EXPECT_EQ(codes_of(second), (std::vector<int>{2, 3, 0, 0}));
}

TEST(ReaderFastq, QualityValues) {
    Opened f("@r1\nACG\n+\nII!\n@r2\nACGT\n+r2\nII\n");
    Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(std::vector<int>(o.qual.begin(), o.qual.begin() + o.qual_len),
              (std::vector<int>{40, 40, 0}));
    o = read_next(f.reader, Call{});
    EXPECT_EQ(o.seq_len, 4);
    EXPECT_EQ(o.qual_len, 2);
}

TEST(ReaderFastq, QualitiesSkippedWithoutABuffer) {
    Call c;
    c.qual_given = false;
    Opened f("@r1\nACG\n+\nIII\n@r2\nAC\n+\nII\n");
    EXPECT_EQ(read_next(f.reader, c).seq_len, 3);
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(name_of(o), "r2");
    EXPECT_EQ(o.qual_len, 2);
}

TEST(ReaderFastq, CutShortFinalRecord) {
    Opened f("@r1\nACGT\n+\n");
    const Outcome o = read_next(f.reader, Call{});
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.seq_len, 4);
    EXPECT_EQ(o.qual_len, 0);
    EXPECT_EQ(read_next(f.reader, Call{}).result, 0);
}

// ---------------------------------------------------------------- mended faults

TEST(ReaderMended, JunkLongerThanTheBufferBeforeTheFirstRecord) {
    const std::string junk(3 * reader_test::FIRST_FILL + 17, 'j');
    {
        Opened f(junk + "\n>r1\nAC\n>r2\nGT\n");
        EXPECT_EQ(name_of(read_next(f.reader, Call{})), "r1");
        EXPECT_EQ(name_of(read_next(f.reader, Call{})), "r2");
    }
}

TEST(ReaderMended, OverLongFastaRecordLongerThanTheBufferIsSkipped) {
    Call c;
    c.seq_cap = 10;
    const std::string lines(3 * reader_test::FIRST_FILL, 'A');
    Opened f(">big\n" + lines + "\n" + lines + "\n>r2\nGT\n");
    EXPECT_EQ(read_next(f.reader, c).result, -2);
    const Outcome o = read_next(f.reader, c);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(name_of(o), "r2");
}

TEST(ReaderMended, FastqInStepAfterAnOverLongSequence) {
    Call c;
    c.seq_cap = 4;
    Opened f("@long\nACGTACGT\n+\nIIIIIIII\n@r2\nAC\n+\nII\n");
    Outcome o = read_next(f.reader, c);
    EXPECT_EQ(o.result, -2);
    EXPECT_EQ(o.seq_len, 0);
    EXPECT_EQ(name_of(o), "long");
    o = read_next(f.reader, c);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(name_of(o), "r2");
    EXPECT_EQ(o.qual_len, 2);
}

TEST(ReaderMended, OverLongQualityLineIsConsumed) {
    Call c;
    c.seq_cap = 4;
    Opened f("@r1\nACG\n+\nIIIIIII\n@r2\nAC\n+\nII\n");
    Outcome o = read_next(f.reader, c);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.seq_len, 3);
    EXPECT_EQ(o.qual_len, 0);
    o = read_next(f.reader, c);
    EXPECT_EQ(name_of(o), "r2");
    EXPECT_EQ(o.qual_len, 2);
}

// A carriage return that ends a buffer fill inside a line is kept; one that
// ends a fill before a line feed, or ends the input, is dropped.
TEST(ReaderMended, CarriageReturnAtTheRefillBoundary) {
    const std::size_t fill = reader_test::FIRST_FILL;
    const std::string head = ">r1\n";
    const std::string pad(fill - head.size() - 1, 'A');  // the CR lands on the last byte of the fill
    for (const std::string tail : {"C\n", "\nC", ""}) {
        Opened f(head + pad + "\r" + tail);
        const Outcome o = read_next(f.reader, Call{});
        std::string expect = pad + (tail == "C\n" ? "\rC" : tail == "\nC" ? "C" : "");
        ASSERT_EQ(o.seq_len, std::int32_t(expect.size())) << "tail " << tail.size();
        EXPECT_EQ(o.seq[std::size_t(pad.size())], expect == pad ? GUARD : tail == "C\n" ? 31 : 1);
    }
}

}  // namespace
