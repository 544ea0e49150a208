#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/pack5.h"
#include "seqio/reader.h"
#include "seqio/reader_model.h"
#include "support/allocation_failure.h"

namespace {

using namespace reader_test;

constexpr std::int32_t GUARD_WORD = -12345;

struct Capacities {
    int max_records = 100;
    int names = 1 << 16;
    int packed = 1 << 16;
    int quals = 1 << 16;
    bool with_quals = true;
};

// Guarded output buffers of one batch call and its result.
struct Batch {
    int result = 0;
    Capacities caps;
    std::vector<char> names;
    std::vector<std::uint8_t> packed, quals;
    std::vector<std::int32_t> name_offs, packed_offs, seq_lens, is_protein, qual_offs;

    explicit Batch(const Capacities &c) : caps(c) {
        const auto n = static_cast<std::size_t>(std::max(c.max_records, 0));
        names.assign(std::size_t(std::max(c.names, 0) + GUARD_BYTES), char(GUARD));
        packed.assign(std::size_t(std::max(c.packed, 0) + GUARD_BYTES), GUARD);
        quals.assign(std::size_t(std::max(c.quals, 0) + GUARD_BYTES), GUARD);
        for (auto *v : {&name_offs, &packed_offs, &qual_offs}) v->assign(n + 1 + 4, GUARD_WORD);
        for (auto *v : {&seq_lens, &is_protein}) v->assign(n + 4, GUARD_WORD);
    }
};

Batch read_batch(bio_parser_t *reader, const Capacities &c, int protein = 0) {
    Batch b(c);
    b.result = bio_parser_next_batch(reader, c.max_records, protein, b.names.data(), c.names,
                                     b.name_offs.data(), b.packed.data(), c.packed,
                                     b.packed_offs.data(), b.seq_lens.data(), b.is_protein.data(),
                                     c.with_quals ? b.quals.data() : nullptr, c.quals,
                                     c.with_quals ? b.qual_offs.data() : nullptr);
    return b;
}

std::vector<std::uint8_t> packed_form(const std::vector<std::uint8_t> &codes) {
    std::vector<std::uint8_t> out(std::size_t(engine::packed_bytes(int(codes.size()))) + 1);
    bio_pack5(codes.data(), int(codes.size()), out.data());
    return out;
}

// Record k of batch b must be the model's record m.
void expect_record(const Batch &b, int k, const ModelRecord &m) {
    SCOPED_TRACE(testing::Message() << "record " << k << " of the batch");
    const auto ku = std::size_t(k);
    ASSERT_EQ(b.name_offs[ku + 1] - b.name_offs[ku], int(m.name.size()) + 1);
    EXPECT_EQ(std::string(b.names.data() + b.name_offs[ku], m.name.size() + 1),
              m.name + std::string(1, '\0'));
    ASSERT_EQ(b.seq_lens[ku], int(m.seq.size()));
    EXPECT_EQ(b.is_protein[ku], m.is_protein);
    const auto expect_packed = packed_form(m.seq);
    ASSERT_EQ(b.packed_offs[ku + 1] - b.packed_offs[ku], int(expect_packed.size()) - 1);
    EXPECT_TRUE(std::equal(expect_packed.begin(), expect_packed.end() - 1,
                           b.packed.begin() + b.packed_offs[ku]));
    if (b.caps.with_quals) {
        ASSERT_EQ(b.qual_offs[ku + 1] - b.qual_offs[ku], int(m.qual.size()));
        EXPECT_TRUE(std::equal(m.qual.begin(), m.qual.end(), b.quals.begin() + b.qual_offs[ku]));
    }
}

bool fits_in(const Batch &b, int delivered, const ModelRecord &m) {
    const auto d = std::size_t(delivered);
    if (b.name_offs[d] + std::int64_t(m.name.size()) >= b.caps.names) return false;
    if (b.packed_offs[d] + std::int64_t(engine::packed_bytes(int(m.seq.size()))) >= b.caps.packed)
        return false;
    return !b.caps.with_quals || b.qual_offs[d] + std::int64_t(m.qual.size()) <= b.caps.quals;
}

bool guards_intact(const Batch &b) {
    auto intact = [](const auto &v, std::size_t from) {
        return std::all_of(v.begin() + std::ptrdiff_t(from), v.end(),
                           [](auto x) { return x == decltype(x)(GUARD); });
    };
    const bool bytes = intact(b.names, std::size_t(std::max(b.caps.names, 0))) &&
                       intact(b.packed, std::size_t(std::max(b.caps.packed, 0))) &&
                       intact(b.quals, std::size_t(std::max(b.caps.quals, 0)));
    const auto n = std::size_t(std::max(b.caps.max_records, 0));
    return bytes && b.name_offs[n + 1] == GUARD_WORD && b.seq_lens[n] == GUARD_WORD;
}

// The records single reads deliver with the batch reader's limits.
std::vector<ModelRecord> expected_records(const std::string &text, int protein, bool with_quals) {
    ModelReader model(text);
    std::vector<ModelRecord> out;
    for (;;) {
        ModelRecord m = model.next(engine::BATCH_NAME_MAX, engine::BATCH_SEQ_MAX, protein, with_quals);
        if (m.result == 0) return out;
        if (m.result == 1) out.push_back(std::move(m));
    }
}

Capacities random_capacities(TextMaker &maker, bool with_quals) {
    Capacities c;
    c.with_quals = with_quals;
    c.max_records = maker.uniform(-1, 6);
    const bool roomy = maker.chance(0.4);
    c.names = maker.uniform(0, roomy ? 20000 : 120);
    c.packed = maker.uniform(0, roomy ? 20000 : 100);
    c.quals = maker.uniform(0, roomy ? 20000 : 150);
    return c;
}

// Reads a whole text in batches of random capacities: every call must
// deliver the next records of single reads, stop exactly at the first one
// that does not fit, and write nothing outside the capacities.
void read_in_random_batches(const std::string &text, TextMaker &maker) {
    const int protein = maker.uniform(-1, 2);
    const bool with_quals = maker.chance(0.7);
    const auto expected = expected_records(text, protein, with_quals);
    TempFile file(text);
    bio_parser_t *reader = bio_parser_open(file.path());
    ASSERT_NE(reader, nullptr);
    std::size_t next = 0;
    for (int calls = 0, ends = 0; ends < 2; ++calls) {
        ASSERT_LT(calls, 100000);
        const Batch b = read_batch(reader, random_capacities(maker, with_quals), protein);
        SCOPED_TRACE(testing::Message() << "call " << calls << " result " << b.result);
        ASSERT_TRUE(guards_intact(b));
        EXPECT_EQ(b.name_offs[0], 0);
        EXPECT_EQ(b.packed_offs[0], 0);
        if (with_quals) {
            EXPECT_EQ(b.qual_offs[0], 0);
        }
        if (b.caps.max_records <= 0) {
            ASSERT_EQ(b.result, 0);
            continue;
        }
        if (b.result == 0) {
            ASSERT_EQ(next, expected.size());
            ++ends;
            continue;
        }
        ASSERT_LT(next, expected.size());
        if (b.result == -2) {
            ASSERT_FALSE(fits_in(b, 0, expected[next]));
            continue;
        }
        ASSERT_GT(b.result, 0);
        ASSERT_LE(b.result, b.caps.max_records);
        ASSERT_LE(next + std::size_t(b.result), expected.size());
        for (int k = 0; k < b.result; ++k) {
            expect_record(b, k, expected[next + std::size_t(k)]);
            if (testing::Test::HasFatalFailure()) return bio_parser_close(reader);
        }
        EXPECT_EQ(b.packed[std::size_t(b.packed_offs[std::size_t(b.result)])], 0);
        next += std::size_t(b.result);
        if (b.result < b.caps.max_records && next < expected.size()) {
            ASSERT_FALSE(fits_in(b, b.result, expected[next])) << "stopped before a record that fits";
        }
    }
    bio_parser_close(reader);
}

TEST(BatchModel, RandomCapacitiesDeliverTheRecordsOfSingleReads) {
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        TextMaker maker(seed);
        TextShape shape;
        shape.records = maker.uniform(0, 30);
        shape.max_line = 50;
        const std::string text = seed % 2 ? maker.fasta(shape) : maker.fastq(shape);
        read_in_random_batches(text, maker);
        if (HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------- edge cases

std::string name_at(const Batch &b, int k) { return std::string(b.names.data() + b.name_offs[std::size_t(k)]); }

std::string ten_records() {
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += ">r" + std::to_string(i) + (i == 3 ? std::string(5000, 'h') : "") + "\nACGT" +
                std::string(std::size_t(i), 'G') + "\n";
    return text;
}

TEST(BatchEdge, NullReader) {
    std::int32_t offs[2];
    EXPECT_EQ(bio_parser_next_batch(nullptr, 1, 0, nullptr, 0, offs, nullptr, 0, offs, offs, offs,
                                    nullptr, 0, nullptr),
              -1);
}

TEST(BatchEdge, MaxRecordsZeroReadsNothing) {
    Opened f(">r1\nAC\n");
    Capacities c;
    c.max_records = 0;
    const Batch b = read_batch(f.reader, c);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.name_offs[0], 0);
    EXPECT_EQ(b.packed_offs[0], 0);
    EXPECT_EQ(read_batch(f.reader, Capacities{}).result, 1);
}

TEST(BatchEdge, TenRecordsInBatchesOfFour) {
    const std::string text = ten_records();
    const auto expected = expected_records(text, 0, true);
    ASSERT_EQ(expected.size(), 10u);
    EXPECT_EQ(expected[3].name.size(), 4095u);  // a 5,000-character header is cut
    Opened f(text);
    Capacities c;
    c.max_records = 4;
    std::size_t next = 0;
    for (int want : {4, 4, 2, 0}) {
        const Batch b = read_batch(f.reader, c);
        ASSERT_EQ(b.result, want);
        for (int k = 0; k < b.result; ++k) expect_record(b, k, expected[next++]);
    }
}

TEST(BatchEdge, BuffersHoldingThreeRecords) {
    Opened f(ten_records());
    Capacities c;
    c.packed = 3 * 3 + 1;  // "ACGT" packs into 3 bytes; one spare byte
    Batch b = read_batch(f.reader, c);
    ASSERT_EQ(b.result, 2);  // r2 is one letter longer than r0 and r1
    b = read_batch(f.reader, Capacities{});
    EXPECT_EQ(name_at(b, 0), "r2");
}

TEST(BatchEdge, PackedCapacityWithoutTheSpareByte) {
    Opened f(">r1\nACGTACGT\n>r2\nAC\n");
    Capacities c;
    c.packed = engine::packed_bytes(8);
    EXPECT_EQ(read_batch(f.reader, c).result, -2);
    c.packed += 1;  // the record was held back: larger buffers deliver it
    const Batch b = read_batch(f.reader, c);
    ASSERT_GE(b.result, 1);
    EXPECT_EQ(name_at(b, 0), "r1");
    EXPECT_EQ(b.seq_lens[0], 8);
}

TEST(BatchEdge, ShortQualityLineAdvancesByItsLength) {
    Opened f("@r1\nACGTA\n+\nIII\n@r2\nAC\n+\nII\n");
    const Batch b = read_batch(f.reader, Capacities{});
    ASSERT_EQ(b.result, 2);
    EXPECT_EQ(b.qual_offs[1], 3);
    EXPECT_EQ(b.qual_offs[2], 5);
    EXPECT_EQ(b.quals[0], 40);
}

TEST(BatchEdge, HeldBackRecordIsNotReturnedBySingleReads) {
    Opened f(">r1\nAC\n>r2\nACGT\n>r3\nG\n>r4\nT\n");
    Capacities c;
    c.names = 4;  // "r1" fits, "r2" does not
    ASSERT_EQ(read_batch(f.reader, c).result, 1);
    char name[16];
    std::uint8_t seq[16];
    std::int32_t len = 0;
    ASSERT_EQ(bio_parser_next(f.reader, name, 16, seq, 16, &len, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(name, "r3");
    const Batch b = read_batch(f.reader, Capacities{});
    ASSERT_EQ(b.result, 2);
    EXPECT_EQ(name_at(b, 0), "r2");
    EXPECT_EQ(name_at(b, 1), "r4");
}

TEST(BatchEdge, HeldBackQualitiesDroppedWhenTheNextCallTakesNone) {
    Opened f("@r1\nAC\n+\nII\n@r2\nACGT\n+\nIIII\n");
    Capacities c;
    c.quals = 3;
    ASSERT_EQ(read_batch(f.reader, c).result, 1);
    c.with_quals = false;
    c.quals = 0;
    const Batch b = read_batch(f.reader, c);
    ASSERT_EQ(b.result, 1);
    EXPECT_EQ(name_at(b, 0), "r2");
    EXPECT_EQ(b.seq_lens[0], 4);
}

// A sequence one letter longer than the scratch, met after other records:
// the call delivers those, the next call reports -2, reading goes on after.
TEST(BatchMended, OverLongSequenceAfterDeliveredRecords) {
    const std::string big(std::size_t(engine::BATCH_SEQ_MAX) + 1, 'A');
    for (bool fastq : {false, true}) {
        SCOPED_TRACE(fastq ? "FASTQ" : "FASTA");
        const std::string text =
            fastq ? "@r1\nAC\n+\nII\n@big\n" + big + "\n+\n" + big + "\n@r3\nGG\n+\nII\n"
                  : ">r1\nAC\n>big\n" + big + "\n>r3\nGG\n";
        Opened f(text);
        Batch b = read_batch(f.reader, Capacities{});
        ASSERT_EQ(b.result, 1);
        EXPECT_EQ(name_at(b, 0), "r1");
        EXPECT_EQ(read_batch(f.reader, Capacities{}).result, -2);
        b = read_batch(f.reader, Capacities{});
        ASSERT_EQ(b.result, 1);
        EXPECT_EQ(name_at(b, 0), "r3");
        EXPECT_EQ(read_batch(f.reader, Capacities{}).result, 0);
    }
}

TEST(BatchMended, OverLongSequenceFirst) {
    const std::string big(std::size_t(engine::BATCH_SEQ_MAX) + 1, 'C');
    Opened f(">big\n" + big + "\n>r2\nGG\n");
    EXPECT_EQ(read_batch(f.reader, Capacities{}).result, -2);
    const Batch b = read_batch(f.reader, Capacities{});
    ASSERT_EQ(b.result, 1);
    EXPECT_EQ(name_at(b, 0), "r2");
}

TEST(BatchMended, SequenceOfExactlyTheScratchSize) {
    const std::string full(std::size_t(engine::BATCH_SEQ_MAX), 'T');
    Opened f(">full\n" + full + "\n");
    Capacities c;
    c.packed = engine::packed_bytes(engine::BATCH_SEQ_MAX) + 1;
    const Batch b = read_batch(f.reader, c);
    ASSERT_EQ(b.result, 1);
    EXPECT_EQ(b.seq_lens[0], engine::BATCH_SEQ_MAX);
    EXPECT_EQ(bio_getitem5(b.packed.data(), std::uint32_t(engine::BATCH_SEQ_MAX - 1)), 3);
}

// ---------------------------------------------------------------- reservations

TEST(BatchScratch, EachReservationFailureGivesMinusOneAndLeaksNothing) {
    TempFile file(">r1\nACGT\n");
    engine_test::expect_each_allocation_failure(
        [&] {
            bio_parser_t *reader = bio_parser_open(file.path());
            const int r = read_batch(reader, Capacities{}).result;
            bio_parser_close(reader);
            return r;
        },
        [](int r) { EXPECT_EQ(r, -1); });
}

TEST(BatchScratch, FailedReservationWritesNothingAndTheNextCallRetries) {
    Opened f(">r1\nACGT\n");
    for (long nth : {1L, 2L}) {
        SCOPED_TRACE(nth);
        Batch b(Capacities{});
        {
            engine_test::FailNthAllocation guard(nth);
            b = read_batch(f.reader, Capacities{});
            EXPECT_TRUE(guard.failed());
        }
        EXPECT_EQ(b.result, -1);
        EXPECT_EQ(b.name_offs[0], GUARD_WORD);
        EXPECT_EQ(b.packed_offs[0], GUARD_WORD);
        EXPECT_EQ(b.qual_offs[0], GUARD_WORD);
        EXPECT_TRUE(guards_intact(b));
        EXPECT_TRUE(std::all_of(b.names.begin(), b.names.end(), [](char c) { return c == char(GUARD); }));
    }
    engine::testing::fail_nth_allocation(0);
    const Batch b = read_batch(f.reader, Capacities{});
    EXPECT_EQ(engine::testing::allocations_attempted(), 1);  // only the missing scratch
    ASSERT_EQ(b.result, 1);
    EXPECT_EQ(name_at(b, 0), "r1");
}

}  // namespace
