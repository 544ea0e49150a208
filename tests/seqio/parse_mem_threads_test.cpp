// bio_parse_mem_parallel against a single-pass model, for many random FASTA
// and FASTQ texts and every chunk count; the size checks, the 32-bit guard,
// calls from inside a parallel region and failed reservations.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/parse_mem.h"
#include "support/allocation_failure.h"
#include "seqio/parse_mem_model.h"

namespace {

using parse_model::Flat;
using parse_model::Record;

constexpr int FASTA = 1, FASTQ = 2, FASTQ_NO_QUALS = 3;
constexpr int THREAD_COUNTS[] = {1, 2, 3, 7, 64};
constexpr std::size_t SLACK = 16;
constexpr char NAME_SENTINEL = '#';
constexpr std::uint8_t BYTE_SENTINEL = 0xA5;
constexpr std::int32_t INT_SENTINEL = -777;

// Every test may ask for up to 64 workers, whatever the machine.
class ParseMem : public ::testing::Test {
protected:
    void SetUp() override {
        saved_threads_ = omp_get_max_threads();
        omp_set_num_threads(64);
        // Small texts here stand for large ones: every chunk gets a thread.
        engine::testing::set_min_text_per_thread(1);
    }
    void TearDown() override {
        omp_set_num_threads(saved_threads_);
        engine::testing::set_min_text_per_thread(0);
    }

private:
    int saved_threads_ = 1;
};

struct Capacities {
    std::int64_t names, packed, quals, records;
    static Capacities exactly(const Flat &f) {
        return {static_cast<std::int64_t>(f.names.size()), static_cast<std::int64_t>(f.packed.size()),
                static_cast<std::int64_t>(f.quals.size()),
                static_cast<std::int64_t>(f.seq_lens.size())};
    }
};

// Caller buffers of the given capacities plus a sentinel-filled margin.
struct Outputs {
    std::vector<char> names;
    std::vector<std::int32_t> name_offs;
    std::vector<std::uint8_t> packed;
    std::vector<std::int32_t> packed_offs;
    std::vector<std::int32_t> seq_lens;
    std::vector<std::int32_t> is_protein;
    std::vector<std::uint8_t> quals;
    std::vector<std::int32_t> qual_offs;
    Capacities caps;
    bool give_quals = true, give_qual_offs = true;

    explicit Outputs(const Capacities &c)
        : names(c.names + SLACK, NAME_SENTINEL),
          name_offs(c.records + 1 + SLACK, INT_SENTINEL),
          packed(c.packed + SLACK, BYTE_SENTINEL),
          packed_offs(c.records + 1 + SLACK, INT_SENTINEL),
          seq_lens(c.records + SLACK, INT_SENTINEL),
          is_protein(c.records + SLACK, INT_SENTINEL),
          quals(c.quals + SLACK, BYTE_SENTINEL),
          qual_offs(c.records + 1 + SLACK, INT_SENTINEL),
          caps(c) {}

    std::int32_t parse(const std::string &text, int fmt, int threads, int protein) {
        return bio_parse_mem_parallel(text.data(), static_cast<std::int64_t>(text.size()), fmt, threads,
                                      protein, names.data(), static_cast<std::int32_t>(caps.names),
                                      name_offs.data(), packed.data(), caps.packed, packed_offs.data(),
                                      seq_lens.data(), is_protein.data(),
                                      give_quals ? quals.data() : nullptr, caps.quals,
                                      give_qual_offs ? qual_offs.data() : nullptr,
                                      static_cast<std::int32_t>(caps.records));
    }

    bool untouched() const {
        const Outputs fresh(caps);
        return names == fresh.names && name_offs == fresh.name_offs && packed == fresh.packed &&
               packed_offs == fresh.packed_offs && seq_lens == fresh.seq_lens &&
               is_protein == fresh.is_protein && quals == fresh.quals && qual_offs == fresh.qual_offs;
    }
};

template <class T>
std::vector<T> head(const std::vector<T> &v, std::size_t n) {
    return std::vector<T>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}
template <class T>
bool rest_is(const std::vector<T> &v, std::size_t from, T sentinel) {
    return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.end(),
                       [&](T x) { return x == sentinel; });
}

// The outputs hold exactly `want`, and nothing was written past it.
void expect_outputs(const Outputs &o, const Flat &want) {
    const std::size_t n = want.seq_lens.size();
    EXPECT_EQ(head(o.names, want.names.size()), want.names);
    EXPECT_TRUE(rest_is(o.names, want.names.size(), NAME_SENTINEL));
    EXPECT_EQ(head(o.packed, want.packed.size()), want.packed);
    EXPECT_TRUE(rest_is(o.packed, want.packed.size(), BYTE_SENTINEL));
    EXPECT_EQ(head(o.name_offs, n + 1), want.name_offs);
    EXPECT_EQ(head(o.packed_offs, n + 1), want.packed_offs);
    EXPECT_EQ(head(o.seq_lens, n), want.seq_lens);
    EXPECT_EQ(head(o.is_protein, n), want.is_protein);
    EXPECT_TRUE(rest_is(o.name_offs, n + 1, INT_SENTINEL));
    EXPECT_TRUE(rest_is(o.packed_offs, n + 1, INT_SENTINEL));
    EXPECT_TRUE(rest_is(o.seq_lens, n, INT_SENTINEL));
    EXPECT_TRUE(rest_is(o.is_protein, n, INT_SENTINEL));
    if (o.give_quals) {
        EXPECT_EQ(head(o.quals, want.quals.size()), want.quals);
        EXPECT_TRUE(rest_is(o.quals, want.quals.size(), BYTE_SENTINEL));
    } else {
        EXPECT_TRUE(rest_is(o.quals, 0, BYTE_SENTINEL));
    }
    if (o.give_qual_offs) {
        EXPECT_EQ(head(o.qual_offs, n + 1), want.qual_offs);
        EXPECT_TRUE(rest_is(o.qual_offs, n + 1, INT_SENTINEL));
    } else {
        EXPECT_TRUE(rest_is(o.qual_offs, 0, INT_SENTINEL));
    }
}

// Parses with every thread count and compares with the model.
void expect_model_output(const std::string &text, int fmt, int protein) {
    const Flat want = parse_model::flatten(parse_model::parse(text, fmt, protein));
    for (int threads : THREAD_COUNTS) {
        SCOPED_TRACE(::testing::Message() << "fmt " << fmt << ", threads " << threads);
        Outputs o(Capacities::exactly(want));
        ASSERT_EQ(o.parse(text, fmt, threads, protein), static_cast<int>(want.seq_lens.size()));
        if (text.empty())
            EXPECT_TRUE(o.untouched());  // an empty text returns before anything else
        else
            expect_outputs(o, want);
    }
}

// ---- random texts -------------------------------------------------------------

class TextMaker {
public:
    explicit TextMaker(unsigned seed) : rng_(seed) {}

    std::string fasta() {
        crlf_ = chance(0.3);
        std::string t;
        if (chance(0.1)) t += line("preamble text", 0);
        const int records = pick(0, 30);
        for (int r = 0; r < records; ++r) {
            t += line(std::string(">").append(header()), 0);
            const int lines = chance(0.1) ? 0 : pick(1, 6);
            const bool long_record = chance(0.05);
            for (int l = 0; l < lines; ++l) {
                if (chance(0.1)) t += line(";comment-like line", 0);
                if (chance(0.1)) t += line("", 0);
                t += line(letters(long_record ? pick(2000, 20000) : pick(0, 90), fasta_alphabet()), 0);
            }
        }
        return finish(t);
    }

    std::string fastq() {
        crlf_ = chance(0.3);
        std::string t;
        const int records = pick(0, 40);
        for (int r = 0; r < records; ++r) {
            t += line(chance(0.03) ? std::string() : std::string("@").append(header()), 0);
            const int len = chance(0.05) ? 0 : chance(0.05) ? pick(3000, 20000) : pick(1, 200);
            t += line(letters(len, "ACGTNacgtnRY"), 0);
            t += line(chance(0.5) ? std::string("+") : std::string("+").append(header()), 0);
            const int qual_len = std::max(0, len + (chance(0.2) ? pick(-3, 3) : 0));
            std::string q = letters(qual_len, quality_alphabet_);
            if (!q.empty() && chance(0.4)) q[0] = '@';
            t += line(q, 0);
        }
        return finish(t);
    }

private:
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    std::string letters(int n, const std::string &alphabet) {
        std::string s(static_cast<std::size_t>(n), 'A');
        for (char &c : s) c = alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
        return s;
    }
    std::string header() {
        if (chance(0.03)) return letters(10000, "abcdefgh_ 0123");
        return letters(pick(0, 30), "abcdefghij_:/ 0123456789@>+");
    }
    std::string fasta_alphabet() {
        return chance(0.2) ? "ACDEFGHIKLMNPQRSTVWY*acdefghiklmnpqrstvwy-" : "ACGTNacgtnRYKM-.U 1;";
    }
    std::string line(const std::string &content, int) { return content + (crlf_ ? "\r\n" : "\n"); }
    std::string finish(std::string t) {
        if (!t.empty() && chance(0.3)) {
            t.pop_back();  // no final line feed (a CR LF text keeps its CR)
            if (chance(0.5) && !t.empty() && t.back() == '\r') t.pop_back();
        }
        return t;
    }

    std::mt19937 rng_;
    bool crlf_ = false;
    std::string quality_alphabet_ = [] {
        std::string s;
        for (int c = 33; c < 127; ++c) s += static_cast<char>(c);
        return s + " \t";
    }();
};

TEST_F(ParseMem, RandomFastaMatchesModelForEveryThreadCount) {
    TextMaker maker(1234);
    constexpr int PROTEIN_CHOICES[] = {-1, 0, 1, 3};
    for (int i = 0; i < 80; ++i) {
        const std::string text = maker.fasta();
        SCOPED_TRACE(::testing::Message() << "text " << i << " of " << text.size() << " bytes");
        expect_model_output(text, FASTA, PROTEIN_CHOICES[i % 4]);
        if (HasFailure()) return;
    }
}

TEST_F(ParseMem, RandomFastqMatchesModelForEveryThreadCount) {
    TextMaker maker(5678);
    for (int i = 0; i < 80; ++i) {
        const std::string text = maker.fastq();
        SCOPED_TRACE(::testing::Message() << "text " << i << " of " << text.size() << " bytes");
        expect_model_output(text, i % 4 ? FASTQ : FASTQ_NO_QUALS, i % 3 - 1);
        if (HasFailure()) return;
    }
}

// ---- chunk boundaries ---------------------------------------------------------

// Chunks are written side by side, so the last record of a chunk must end at
// its last packed byte: records of every length modulo 8 end chunks here.
TEST_F(ParseMem, RecordsOfEveryLengthModuloEightEndChunks) {
    for (std::size_t len = 1; len <= 24; ++len) {
        std::string fastq, fasta;
        for (std::size_t r = 0; r < 70; ++r) {
            std::string seq(len, 'A');
            for (std::size_t i = 0; i < len; ++i) seq[i] = "ACGTNRY"[(r + i * 3) % 7];
            fastq += "@r" + std::to_string(r) + "\n" + seq + "\n+\n" + std::string(len, 'I') + "\n";
            fasta += ">r" + std::to_string(r) + "\n" + seq + "\n";
        }
        SCOPED_TRACE(::testing::Message() << "length " << len);
        expect_model_output(fastq, FASTQ, 0);
        expect_model_output(fasta, FASTA, -1);
        if (HasFailure()) return;
    }
}

// Offsets at which the single-pass walk starts a FASTQ record.
std::vector<std::int64_t> fastq_record_starts(const std::string &text) {
    std::vector<std::int64_t> starts;
    const auto lines = parse_model::split_lines(text);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i % 4 == 0) starts.push_back(static_cast<std::int64_t>(offset));
        offset = lines[i].next;
    }
    starts.push_back(static_cast<std::int64_t>(text.size()));
    return starts;
}

TEST_F(ParseMem, FastqChunksStartOnlyAtRecordStarts) {
    std::string text;
    for (int r = 0; r < 300; ++r)
        text += "@read" + std::to_string(r) + "\nACGTACGTAC\n+\n@@@@" + std::to_string(r % 10) + "IIIII\n";
    const auto starts = fastq_record_starts(text);
    for (int chunks : {2, 3, 7, 64}) {
        std::int64_t bounds[engine::MAX_CHUNKS + 1];
        engine::chunk_bounds(text.data(), static_cast<std::int64_t>(text.size()), true, chunks, bounds);
        EXPECT_EQ(bounds[0], 0);
        EXPECT_EQ(bounds[chunks], static_cast<std::int64_t>(text.size()));
        for (int i = 1; i < chunks; ++i) {
            EXPECT_LE(bounds[i - 1], bounds[i]);
            EXPECT_TRUE(std::binary_search(starts.begin(), starts.end(), bounds[i])) << bounds[i];
        }
    }
    expect_model_output(text, FASTQ, 0);
}

TEST_F(ParseMem, FastaRecordLongerThanAChunkLeavesTheNextChunkEmpty) {
    const std::string text = ">short\nACGT\n>long\n" + std::string(5000, 'G') + "\n>tail\nTT\n";
    std::int64_t bounds[engine::MAX_CHUNKS + 1];
    engine::chunk_bounds(text.data(), static_cast<std::int64_t>(text.size()), false, 4, bounds);
    const auto tail = static_cast<std::int64_t>(text.find(">tail"));
    // Every nominal cut falls inside the long record: chunk 0 parses it whole
    // and chunks 1 and 2 are empty.
    EXPECT_EQ(bounds[1], tail);
    EXPECT_EQ(bounds[2], tail);
    EXPECT_EQ(bounds[3], tail);
    expect_model_output(text, FASTA, -1);
}

TEST_F(ParseMem, FastaBoundarySearchStartsAtTheLineFeedAtTheNominalPosition) {
    // "\n>" with the line feed exactly at the nominal cut (byte 8 of 16).
    const std::string text = ">abcdef\n>bcdef\nA";
    EXPECT_EQ(engine::next_record_start(text.data(), 16, 7, false), 8);
    EXPECT_EQ(engine::next_record_start(text.data(), 16, 8, false), 16);
    EXPECT_EQ(engine::next_record_start(text.data(), 16, 0, false), 8);
}

TEST_F(ParseMem, FastqShapeNeedsTwoTerminatedLinesThenPlus) {
    const std::string text = "@a\nAC\n+\nII\n@b\nAC\n+";
    EXPECT_EQ(engine::next_record_start(text.data(), static_cast<std::int64_t>(text.size()), 1, true), 11);
    const std::string unterminated = "@a\nAC\n+\nII\n@b\nAC";
    EXPECT_EQ(engine::next_record_start(unterminated.data(), static_cast<std::int64_t>(unterminated.size()),
                                        1, true),
              static_cast<std::int64_t>(unterminated.size()));
}

// Mis-framed FASTQ (blank lines, missing separators, qualities and
// sequences beginning with '@' or '+') can be cut where the single walk sees
// no record start; each chunk is then read from its own first line. The
// output must be exactly that of the documented cut for the thread count,
// also when one thread parses all the chunks of a small text.
TEST_F(ParseMem, MisframedFastqFollowsTheDocumentedChunks) {
    std::mt19937 rng(91);
    const char *pieces[] = {"@r", "@q1", "ACGT", "@CG", "+", "+AC", "", "II@", "@@II", "\r", "GG\r"};
    for (int trial = 0; trial < 150; ++trial) {
        std::string text;
        const int lines = 1 + static_cast<int>(rng() % 120);
        for (int i = 0; i < lines; ++i) {
            text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
            if (i + 1 < lines || rng() % 2) text += '\n';
        }
        for (int threads : {2, 3, 7, 64}) {
            SCOPED_TRACE(::testing::Message() << "trial " << trial << ", threads " << threads);
            engine::testing::set_min_text_per_thread(trial % 2 ? 1 : 0);
            const int chunks = std::min({threads, omp_get_max_threads(), engine::MAX_CHUNKS});
            for (int fmt : {FASTQ, FASTQ_NO_QUALS}) {
                const Flat want = parse_model::flatten(parse_model::parse_chunked(text, fmt, 0, chunks));
                Outputs o(Capacities::exactly(want));
                ASSERT_EQ(o.parse(text, fmt, threads, 0), static_cast<int>(want.seq_lens.size()));
                expect_outputs(o, want);
                if (HasFailure()) return;
            }
        }
    }
}

TEST_F(ParseMem, ChunkAndSliceBoundariesFallOnRecordStarts) {
    std::mt19937 rng(92);
    const char *pieces[] = {">a", "@r", "ACGT", "+", "", "@@", "\r", ">"};
    for (int trial = 0; trial < 300; ++trial) {
        std::string text;
        const int lines = static_cast<int>(rng() % 80);
        for (int i = 0; i < lines; ++i) text += std::string(pieces[rng() % 8]) + (rng() % 9 ? "\n" : "");
        if (text.empty()) continue;
        for (bool fastq : {false, true})
            for (int chunks : {2, 3, 7, 64}) {
                std::int64_t bounds[engine::MAX_CHUNKS + 1];
                engine::chunk_bounds(text.data(), static_cast<std::int64_t>(text.size()), fastq, chunks, bounds);
                const auto want = parse_model::chunk_bounds(text, fastq ? FASTQ : FASTA, chunks);
                ASSERT_EQ(std::vector<std::int64_t>(bounds, bounds + chunks + 1),
                          std::vector<std::int64_t>(want.begin(), want.end()))
                    << "trial " << trial << ", chunks " << chunks << ", fastq " << fastq;
                // Slices keep the chunk cuts and add cuts at record starts
                // inside each chunk.
                constexpr int per_chunk = engine::SLICES_PER_CHUNK;
                std::int64_t slices[engine::MAX_SLICES + 1];
                engine::slice_bounds(text.data(), fastq, bounds, chunks, per_chunk, slices);
                for (int k = 0; k <= chunks; ++k) ASSERT_EQ(slices[k * per_chunk], bounds[k]);
                for (int s = 1; s < chunks * per_chunk; ++s) {
                    const std::int64_t chunk_end = bounds[s / per_chunk + 1];
                    ASSERT_LE(slices[s - 1], slices[s]);
                    ASSERT_LE(slices[s], chunk_end);
                    if (slices[s] > slices[s - 1] && slices[s] < chunk_end) {
                        ASSERT_EQ(engine::next_record_start(text.data(), static_cast<std::int64_t>(text.size()),
                                                            slices[s] - 1, fastq),
                                  slices[s]);
                    }
                }
            }
    }
}

// ---- edge cases -------------------------------------------------------------------

Flat parse_with(const std::string &text, int fmt, int threads, int protein, std::int32_t *rc) {
    const Flat want = parse_model::flatten(parse_model::parse(text, fmt, protein));
    Outputs o(Capacities::exactly(want));
    *rc = o.parse(text, fmt, threads, protein);
    Flat got;
    const auto n = static_cast<std::size_t>(std::max(*rc, 0));
    got.names = head(o.names, want.names.size());
    got.packed = head(o.packed, want.packed.size());
    got.seq_lens = head(o.seq_lens, n);
    got.is_protein = head(o.is_protein, n);
    got.quals = head(o.quals, want.quals.size());
    got.qual_offs = head(o.qual_offs, n + 1);
    got.name_offs = head(o.name_offs, n + 1);
    return got;
}

TEST_F(ParseMem, QualitiesArePaddedOrCutToTheSequenceLength) {
    std::int32_t rc = 0;
    const Flat f = parse_with("@s\nACGTA\n+\nIII\n@l\nAC\n+\nI!II\n", FASTQ, 1, 0, &rc);
    ASSERT_EQ(rc, 2);
    EXPECT_EQ(f.quals, (std::vector<std::uint8_t>{40, 40, 40, 0, 0, 40, 0}));
    EXPECT_EQ(f.qual_offs, (std::vector<std::int32_t>{0, 5, 7}));
}

TEST_F(ParseMem, LongHeaderIsDeliveredWhole) {
    const std::string name(10000, 'h');
    std::int32_t rc = 0;
    const Flat f = parse_with(">" + name + "\nACGT\n", FASTA, 2, 0, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(std::string(f.names.data()), name);
    EXPECT_EQ(f.name_offs[1], 10001);
}

TEST_F(ParseMem, SemicolonLineIsSequence) {
    std::int32_t rc = 0;
    const Flat f = parse_with(">x\nAC\n;G\n", FASTA, 1, 0, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(f.seq_lens, std::vector<std::int32_t>{4});
    std::vector<std::uint8_t> codes(4);
    bio_unpack5(f.packed.data(), 4, codes.data());
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{0, 1, 31, 2}));
}

TEST_F(ParseMem, LastRecordWithoutFinalLineFeedIsComplete) {
    std::int32_t rc = 0;
    EXPECT_EQ(parse_with(">a\nAC\n>b\nGGTT", FASTA, 2, 0, &rc).seq_lens, (std::vector<std::int32_t>{2, 4}));
    const Flat q = parse_with("@a\nACG\n+\nIII\n@b\nGGTT\n+\nIIII\r", FASTQ, 2, 0, &rc);
    EXPECT_EQ(q.seq_lens, (std::vector<std::int32_t>{3, 4}));
    EXPECT_EQ(q.quals, (std::vector<std::uint8_t>{40, 40, 40, 40, 40, 40, 40}));
}

TEST_F(ParseMem, CarriageReturnsAreDroppedOnlyAtLineEnds) {
    std::int32_t rc = 0;
    const Flat f = parse_with(">n\r\nA\rC\r\nG\r", FASTA, 1, 0, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(std::string(f.names.data()), "n");
    EXPECT_EQ(f.seq_lens, std::vector<std::int32_t>{4});  // A, CR, C, G
}

TEST_F(ParseMem, AlphabetChoice) {
    std::int32_t rc = 0;
    EXPECT_EQ(parse_with(">a\nACGTN\n>b\nMKLV\n", FASTA, 1, -1, &rc).is_protein,
              (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(parse_with(">a\nACGTN\n", FASTA, 1, 5, &rc).is_protein, std::vector<std::int32_t>{5});
    EXPECT_EQ(parse_with("@a\nMKLV\n+\nIIII\n", FASTQ, 1, -1, &rc).is_protein,
              std::vector<std::int32_t>{0});
    EXPECT_EQ(parse_with("@a\nMKLV\n+\nIIII\n", FASTQ, 1, 5, &rc).is_protein,
              std::vector<std::int32_t>{0});
    EXPECT_EQ(parse_with("@a\nMKLV\n+\nIIII\n", FASTQ, 1, 1, &rc).is_protein,
              std::vector<std::int32_t>{1});
}

TEST_F(ParseMem, FastaTextBeforeTheFirstHeaderIsARecord) {
    std::int32_t rc = 0;
    const Flat f = parse_with("xjunk\nAC\n>r\nG\n", FASTA, 1, 0, &rc);
    ASSERT_EQ(rc, 2);
    EXPECT_EQ(std::string(f.names.data()), "junk");
    EXPECT_EQ(parse_with("xjunk\n\n\n>r\nG\n", FASTA, 1, 0, &rc).seq_lens, std::vector<std::int32_t>{1});
}

TEST_F(ParseMem, EmptyFastqHeaderLine) {
    std::int32_t rc = 0;
    const Flat f = parse_with("\nAC\n+\nII\n", FASTQ, 1, 0, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(f.names, std::vector<char>{'\0'});
}

TEST_F(ParseMem, NullOrEmptyTextWritesNothing) {
    Outputs o(Capacities{4, 4, 4, 4});
    EXPECT_EQ(bio_parse_mem_parallel(nullptr, 10, FASTA, 2, 0, o.names.data(), 4, o.name_offs.data(),
                                     o.packed.data(), 4, o.packed_offs.data(), o.seq_lens.data(),
                                     o.is_protein.data(), o.quals.data(), 4, o.qual_offs.data(), 4),
              0);
    EXPECT_EQ(o.parse("", FASTA, 2, 0), 0);
    EXPECT_EQ(bio_parse_mem_parallel(">a\nA\n", -3, FASTA, 2, 0, o.names.data(), 4, o.name_offs.data(),
                                     o.packed.data(), 4, o.packed_offs.data(), o.seq_lens.data(),
                                     o.is_protein.data(), o.quals.data(), 4, o.qual_offs.data(), 4),
              0);
    EXPECT_TRUE(o.untouched());
}

TEST_F(ParseMem, NoRecordsStillNeedsTheSparePackedByte) {
    Outputs none(Capacities{0, 0, 0, 0});
    EXPECT_EQ(none.parse("\n\n", FASTA, 1, 0), -2);
    EXPECT_TRUE(none.untouched());
    Outputs one(Capacities{0, 1, 0, 0});
    EXPECT_EQ(one.parse("\n\n", FASTA, 1, 0), 0);
    EXPECT_EQ(one.name_offs[0], 0);
    EXPECT_EQ(one.packed_offs[0], 0);
    EXPECT_EQ(one.qual_offs[0], 0);
    EXPECT_EQ(one.packed[0], 0);
}

TEST_F(ParseMem, NonPositiveThreadCountRunsOneWorker) {
    const std::string text = ">a\nACGT\n>b\nGG\n";
    expect_model_output(text, FASTA, 0);
    const Flat want = parse_model::flatten(parse_model::parse(text, FASTA, 0));
    for (int threads : {0, -5}) {
        Outputs o(Capacities::exactly(want));
        ASSERT_EQ(o.parse(text, FASTA, threads, 0), 2);
        expect_outputs(o, want);
    }
}

// Without qualities every quality offset is 0, whatever the chunking.
TEST_F(ParseMem, QualityOffsetsAreZeroWhenNoQualitiesAreProduced) {
    TextMaker maker(99);
    for (int i = 0; i < 4; ++i) {
        const std::string fasta = maker.fasta(), fastq = maker.fastq();
        for (int threads : THREAD_COUNTS) {
            for (const auto &[text, fmt] : {std::pair{fasta, FASTA}, std::pair{fastq, FASTQ_NO_QUALS},
                                            std::pair{fastq, 0}}) {
                const Flat want = parse_model::flatten(parse_model::parse(text, fmt, 0));
                Outputs o(Capacities::exactly(want));
                const int rc = o.parse(text, fmt, threads, 0);
                ASSERT_EQ(rc, static_cast<int>(want.seq_lens.size()));
                for (int k = 0; k <= rc; ++k) ASSERT_EQ(o.qual_offs[static_cast<std::size_t>(k)], 0);
                EXPECT_TRUE(rest_is(o.quals, 0, BYTE_SENTINEL));
            }
        }
    }
}

TEST_F(ParseMem, QualityOffsetsWithoutQualityBuffer) {
    const std::string text = "@a\nACG\n+\nII\n@b\nGGTT\n+\nIIII\n";
    const Flat want = parse_model::flatten(parse_model::parse(text, FASTQ, 0));
    for (int threads : THREAD_COUNTS) {
        Outputs o(Capacities::exactly(want));
        o.give_quals = false;
        ASSERT_EQ(o.parse(text, FASTQ, threads, 0), 2);
        expect_outputs(o, want);
        Outputs no_offs(Capacities::exactly(want));
        no_offs.give_quals = false;
        no_offs.give_qual_offs = false;
        ASSERT_EQ(no_offs.parse(text, FASTQ, threads, 0), 2);
        expect_outputs(no_offs, want);
    }
}

// ---- size checks --------------------------------------------------------------------

TEST_F(ParseMem, EveryTooSmallBufferGivesMinusTwoAndWritesNothing) {
    TextMaker maker(4242);
    for (int i = 0; i < 12; ++i) {
        const std::string text = i % 2 ? maker.fasta() : maker.fastq();
        const int fmt = i % 2 ? FASTA : FASTQ;
        const Flat want = parse_model::flatten(parse_model::parse(text, fmt, 0));
        const Capacities exact = Capacities::exactly(want);
        std::vector<Capacities> too_small;
        if (exact.records > 0) too_small.push_back({exact.names, exact.packed, exact.quals, exact.records - 1});
        too_small.push_back({exact.names, exact.packed - 1, exact.quals, exact.records});  // no spare byte
        if (exact.names > 0) too_small.push_back({exact.names - 1, exact.packed, exact.quals, exact.records});
        if (exact.quals > 0) too_small.push_back({exact.names, exact.packed, exact.quals - 1, exact.records});
        for (const Capacities &caps : too_small)
            for (int threads : {1, 3, 64}) {
                Outputs o(caps);
                EXPECT_EQ(o.parse(text, fmt, threads, 0), -2);
                EXPECT_TRUE(o.untouched());
            }
        // A too small quality capacity does not matter without a quality buffer.
        if (exact.quals > 0) {
            Outputs o({exact.names, exact.packed, 0, exact.records});
            o.give_quals = false;
            EXPECT_EQ(o.parse(text, fmt, 2, 0), static_cast<int>(exact.records));
        }
    }
}

TEST_F(ParseMem, OffsetsMustFitSignedThirtyTwoBits) {
    constexpr std::int64_t LIMIT = 2147483647;
    engine::ParseTotals t;
    t.packed = LIMIT;
    t.names = LIMIT;
    t.quals = LIMIT;
    EXPECT_TRUE(engine::offsets_fit(t, true));
    t.packed = LIMIT + 1;
    EXPECT_FALSE(engine::offsets_fit(t, false));
    t.packed = 0;
    t.names = LIMIT + 1;
    EXPECT_FALSE(engine::offsets_fit(t, false));
    t.names = 0;
    t.quals = LIMIT + 1;
    EXPECT_FALSE(engine::offsets_fit(t, true));
    EXPECT_TRUE(engine::offsets_fit(t, false));  // quality offsets not delivered
    t.quals = 0;
    t.too_big = true;  // a record or a chunk's record count beyond 32 bits
    EXPECT_FALSE(engine::offsets_fit(t, false));
}

// ---- threads --------------------------------------------------------------------------

// Called from every thread of an enclosing region: with nesting off the inner
// region has one thread for all chunks; with nesting on it may have them all.
TEST_F(ParseMem, CallsFromInsideAParallelRegionGiveTheSameOutput) {
    TextMaker maker(777);
    std::vector<std::string> texts;
    while (texts.size() < 6) {
        std::string text = texts.size() % 2 ? maker.fasta() : maker.fastq();
        if (!text.empty()) texts.push_back(std::move(text));
    }
    const int saved_levels = omp_get_max_active_levels();
    for (int levels : {1, 2}) {
        omp_set_max_active_levels(levels);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const int fmt = i % 2 ? FASTA : FASTQ;
            const Flat want = parse_model::flatten(parse_model::parse(texts[i], fmt, -1));
            std::vector<Outputs> outs(4, Outputs(Capacities::exactly(want)));
            std::vector<int> rcs(4, 0);
#pragma omp parallel num_threads(4)
            {
                const int t = omp_get_thread_num();
                rcs[static_cast<std::size_t>(t)] =
                    outs[static_cast<std::size_t>(t)].parse(texts[i], fmt, 7, -1);
            }
            for (std::size_t t = 0; t < outs.size(); ++t) {
                SCOPED_TRACE(::testing::Message() << "levels " << levels << ", text " << i << ", thread " << t);
                ASSERT_EQ(rcs[t], static_cast<int>(want.seq_lens.size()));
                expect_outputs(outs[t], want);
            }
        }
    }
    omp_set_max_active_levels(saved_levels);
}

// ---- failed reservations ----------------------------------------------------------------

TEST_F(ParseMem, EveryFailedReservationGivesMinusOneAndWritesNothing) {
    // Several chunks with records of different lengths, so every thread
    // reserves sequence scratch of its own.
    std::string fastq, fasta;
    for (int r = 0; r < 1500; ++r) {
        const std::string seq(static_cast<std::size_t>(20 + r % 50), "ACGT"[r % 4]);
        fastq += "@read" + std::to_string(r) + "\n" + seq + "\n+\n" + std::string(seq.size(), 'I') + "\n";
        fasta += ">read" + std::to_string(r) + "\n" + seq + "\n" + seq + "\n";
    }
    fasta += ">long\n" + std::string(9000, 'A') + "\n";
    // One record of several megabytes: a scratch far beyond the others.
    const std::string huge_record = ">huge\n" + std::string(std::size_t{5} << 20, 'C') + "\n";
    for (const auto &[text_case, fmt_case] :
         {std::pair{fastq, FASTQ}, std::pair{fasta, FASTA}, std::pair{huge_record, FASTA}})
        for (int threads : {1, 3}) {
            const std::string &text = text_case;  // named copies: lambdas cannot capture bindings
            const int fmt = fmt_case;
            SCOPED_TRACE(::testing::Message() << "fmt " << fmt << ", threads " << threads);
            const Flat want = parse_model::flatten(parse_model::parse(text, fmt, 0));
            const Capacities caps = Capacities::exactly(want);
            std::vector<Outputs> runs;
            engine_test::expect_each_allocation_failure(
                [&] {
                    runs.emplace_back(caps);
                    return runs.back().parse(text, fmt, threads, 0);
                },
                [&](std::int32_t rc) {
                    EXPECT_EQ(rc, -1);
                    EXPECT_TRUE(runs.back().untouched());
                });
            ASSERT_FALSE(runs.empty());
            expect_outputs(runs.front(), want);
        }
}

}  // namespace
