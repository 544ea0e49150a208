#include "map/map_one.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "map/cigar.h"
#include "map/mapping_model.h"
#include "support/allocation_failure.h"

namespace {

using namespace map_test;

Codes slice(const Reference &ref, std::int64_t start, std::int64_t len) {
    return Codes(ref.codes.begin() + start, ref.codes.begin() + start + len);
}

// Two random sequences of 4000 bases, k 15, w 10: every 15-mer is unique.
class MapWorkedExample : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 rng(20240611);
        ref = random_reference(rng, {4000, 4000});
        idx = build_index(ref, 15, 10);
        ASSERT_NE(idx, nullptr);
        unrelated = random_codes(rng, 300);
        tail = random_codes(rng, 100);
    }

    MapOutput map(const Codes &read, MapArgs args = {}) {
        MapOutput out = library_map(idx.get(), read, args);
        // Every worked example is also a case of the pipeline model.
        const MapOutput model = model_map(idx.get(), read, args);
        EXPECT_EQ(out.result, model.result);
        for (int i = 0; i < std::min(out.result, model.result); ++i)
            EXPECT_TRUE(same_hit(out.hits[i], model.hits[i]))
                << describe(out.hits[i]) << " vs " << describe(model.hits[i]);
        EXPECT_EQ(out.cigar, model.cigar);
        return out;
    }

    Reference ref;
    IndexPtr idx;
    Codes unrelated, tail;
};

// Where a hit lies: strand, reference sequence and window, read extents.
struct Placement {
    std::int32_t strand;
    std::int32_t ref_id;
    std::int64_t ref_start, ref_end;
    std::int32_t query_start, query_end;
};

// The one hit of a read that matches its window exactly.
void expect_one_exact_hit(const MapOutput &out, const Placement &p) {
    ASSERT_EQ(out.result, 1);
    const bio_map_hit_t &h = out.hits[0];
    EXPECT_EQ(h.strand, p.strand);
    EXPECT_EQ(h.ref_id, p.ref_id);
    EXPECT_EQ(h.ref_start, p.ref_start);
    EXPECT_EQ(h.ref_end, p.ref_end);
    EXPECT_EQ(h.query_start, p.query_start);
    EXPECT_EQ(h.query_end, p.query_end);
    const auto len = static_cast<std::int32_t>(p.ref_end - p.ref_start);
    EXPECT_EQ(h.identity, 1.0);
    EXPECT_EQ(h.n_match, len);
    EXPECT_EQ(h.aln_len, len);
    EXPECT_EQ(h.mapq, 60);
    EXPECT_GT(h.chain_score, 0.0);
    EXPECT_EQ(h.cigar_off, 0);
    EXPECT_EQ(cigar_text(out, h), std::to_string(len) + "M");
    EXPECT_EQ(out.cigar[static_cast<std::size_t>(h.cigar_len)], '\0');
    EXPECT_TRUE(untouched(out.hits[1]));
}

TEST_F(MapWorkedExample, IdenticalStretchGivesOnePerfectForwardHit) {
    expect_one_exact_hit(map(slice(ref, 5000, 300)), {0, 1, 5000, 5300, 0, 300});
}

TEST_F(MapWorkedExample, ReverseComplementMapsOnStrandOneWithTheSameWindow) {
    expect_one_exact_hit(map(reverse_complement(slice(ref, 5000, 300))),
                         {1, 1, 5000, 5300, 0, 300});
}

TEST_F(MapWorkedExample, WindowIsClippedAtTheEndOfItsSequence) {
    expect_one_exact_hit(map(concat(slice(ref, 3800, 200), tail)), {0, 0, 3800, 4000, 0, 200});
}

TEST_F(MapWorkedExample, WindowIsClippedAtTheStartOfItsSequence) {
    expect_one_exact_hit(map(concat(tail, slice(ref, 4000, 200))), {0, 1, 4000, 4200, 100, 300});
}

TEST_F(MapWorkedExample, ClippedReverseHitReportsExtentsInInputOrientation) {
    expect_one_exact_hit(map(reverse_complement(concat(slice(ref, 3800, 200), tail))),
                         {1, 0, 3800, 4000, 100, 300});
    expect_one_exact_hit(map(reverse_complement(concat(tail, slice(ref, 4000, 200)))),
                         {1, 1, 4000, 4200, 0, 200});
}

TEST_F(MapWorkedExample, ReadSharingNoMinimizerGivesNothing) {
    const MapOutput out = map(unrelated);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(untouched(out.hits[0]));
}

TEST_F(MapWorkedExample, CigarNeedsMoreThanTheReserve) {
    for (const std::int32_t cap : {0, 1, 15}) {
        MapArgs args;
        args.cigar_cap = cap;
        const MapOutput out = map(slice(ref, 5000, 300), args);
        ASSERT_EQ(out.result, 1);
        EXPECT_EQ(out.hits[0].cigar_len, 0);
        EXPECT_EQ(out.hits[0].cigar_off, 0);
        EXPECT_EQ(out.cigar[0], CIGAR_MARK) << "cap " << cap;
    }
    MapArgs args;
    args.cigar_cap = 16;
    const MapOutput out = map(slice(ref, 5000, 300), args);
    EXPECT_EQ(cigar_text(out, out.hits[0]), "300M");
}

TEST_F(MapWorkedExample, NothingToDoGivesZeroAndWritesNothing) {
    const Codes read = slice(ref, 5000, 300);
    bio_map_hit_t hit;
    char cigar[64];
    EXPECT_EQ(bio_map_read(nullptr, read.data(), 300, 5, &hit, 1, 0.0, cigar, 64), 0);
    EXPECT_EQ(bio_map_read(idx.get(), read.data(), 14, 5, &hit, 1, 0.0, cigar, 64), 0);
    for (const auto &[max_chains, max_hits] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {5, -2}}) {
        MapArgs args;
        args.max_chains = max_chains;
        args.max_hits = max_hits;
        const MapOutput out = map(read, args);
        EXPECT_EQ(out.result, 0);
        EXPECT_TRUE(untouched(out.hits[0]));
        EXPECT_EQ(out.cigar[0], CIGAR_MARK);
    }
}

TEST_F(MapWorkedExample, MinScoreAboveTheChainDropsIt) {
    const Codes read = slice(ref, 5000, 300);
    const MapOutput out = map(read);
    ASSERT_EQ(out.result, 1);
    MapArgs args;
    args.min_score = out.hits[0].chain_score + 1;
    EXPECT_EQ(map(read, args).result, 0);
}

// The same 400 bases (with identical flanks, so the same minimizers are
// sampled) at two places: two chains of equal score.
class MapRepeat : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 rng(77);
        const Codes unit = random_codes(rng, 460);
        Codes a = random_codes(rng, 3000), b = random_codes(rng, 3000);
        std::copy(unit.begin(), unit.end(), a.begin() + 1000);
        std::copy(unit.begin(), unit.end(), b.begin() + 2000);
        ref = make_reference({a, b});
        idx = build_index(ref, 15, 10);
        ASSERT_NE(idx, nullptr);
        read = Codes(unit.begin() + 30, unit.begin() + 430);
    }
    Reference ref;
    IndexPtr idx;
    Codes read;
};

TEST_F(MapRepeat, EqualBestChainsGivePrimaryQualityZero) {
    const MapOutput out = library_map(idx.get(), read, {});
    ASSERT_EQ(out.result, 2);
    EXPECT_EQ(out.hits[0].chain_score, out.hits[1].chain_score);
    EXPECT_EQ(out.hits[0].mapq, 0);
    EXPECT_EQ(out.hits[1].mapq, 5);
    // Equal scores are ordered by reference start.
    EXPECT_EQ(out.hits[0].ref_start, 1030);
    EXPECT_EQ(out.hits[1].ref_start, 5030);
    EXPECT_EQ(cigar_text(out, out.hits[0]), "400M");
    EXPECT_EQ(out.hits[1].cigar_off, 4);
    EXPECT_EQ(cigar_text(out, out.hits[1]), "400M");
}

TEST_F(MapRepeat, OneCandidateChainAlwaysGetsSixty) {
    MapArgs args;
    args.max_chains = 1;
    const MapOutput out = library_map(idx.get(), read, args);
    ASSERT_EQ(out.result, 1);
    EXPECT_EQ(out.hits[0].mapq, 60);
}

TEST_F(MapRepeat, HitCapacityStopsAfterTheFirstHitButKeepsItsQuality) {
    MapArgs args;
    args.max_hits = 1;
    const MapOutput out = library_map(idx.get(), read, args);
    ASSERT_EQ(out.result, 1);
    EXPECT_EQ(out.hits[0].mapq, 0);
    EXPECT_TRUE(untouched(out.hits[1]));
}

TEST_F(MapRepeat, LaterHitGetsItsCigarWhenAnEarlierOneDidNotFit) {
    // 16 bytes: the first CIGAR fits from offset 0, the second would start
    // at offset 4 which is past the reserve.
    MapArgs args;
    args.cigar_cap = 16;
    const MapOutput out = library_map(idx.get(), read, args);
    ASSERT_EQ(out.result, 2);
    EXPECT_EQ(cigar_text(out, out.hits[0]), "400M");
    EXPECT_EQ(out.hits[1].cigar_len, 0);
    EXPECT_EQ(out.hits[1].cigar_off, 4);
}

TEST(MapQuality, FollowsTheScoreRatio) {
    using engine::map_quality;
    EXPECT_EQ(map_quality(0, 2, 100.0, 50.0), 30);
    EXPECT_EQ(map_quality(0, 2, 100.0, 99.0), 1);  // 0.6 rounds up
    EXPECT_EQ(map_quality(0, 2, 100.0, 100.0), 0);
    EXPECT_EQ(map_quality(0, 2, 100.0, 0.0), 60);
    EXPECT_EQ(map_quality(0, 1, 100.0, 100.0), 60);  // one candidate
    EXPECT_EQ(map_quality(0, 3, 0.0, 0.0), 60);      // best score 0
    EXPECT_EQ(map_quality(1, 3, 100.0, 50.0), 5);
    EXPECT_EQ(map_quality(7, 9, 100.0, 50.0), 5);
}

TEST(MapQuality, RoundsHalfToEven) {
    using engine::map_quality;
    EXPECT_EQ(map_quality(0, 2, 8.0, 7.0), 8);   // 7.5
    EXPECT_EQ(map_quality(0, 2, 8.0, 5.0), 22);  // 22.5
    EXPECT_EQ(map_quality(0, 2, 8.0, 3.0), 38);  // 37.5
    EXPECT_EQ(map_quality(0, 2, 8.0, 1.0), 52);  // 52.5
}

TEST(MapQuality, IsClampedToZeroAndSixty) {
    using engine::map_quality;
    EXPECT_EQ(map_quality(0, 2, 10.0, 20.0), 0);
    EXPECT_EQ(map_quality(0, 2, -10.0, 10.0), 60);
    EXPECT_EQ(map_quality(0, 2, -10.0, -20.0), 0);
}

TEST(MapQuality, EqualsTheFormulaOnRandomScores) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-50.0, 400.0);
    for (int i = 0; i < 20000; ++i) {
        const double best = u(rng), second = i % 3 ? u(rng) : best * (i % 7) / 8.0;
        ASSERT_EQ(engine::map_quality(0, 2, best, second), model_mapq(0, 2, best, second))
            << best << " " << second;
    }
}

TEST(MapUnknownBases, NeverMatchOnTheReverseStrand) {
    std::mt19937_64 rng(31);
    Codes seq = random_codes(rng, 3000);
    seq[1150] = N_CODE;
    const Reference ref = make_reference({seq});
    const IndexPtr idx = build_index(ref, 15, 10);
    ASSERT_NE(idx, nullptr);
    const Codes read = slice(ref, 1000, 300);

    const MapOutput fwd = library_map(idx.get(), read, {});
    ASSERT_EQ(fwd.result, 1);
    EXPECT_EQ(fwd.hits[0].strand, 0);
    EXPECT_EQ(fwd.hits[0].n_match, 300);  // N over N is a match
    EXPECT_EQ(fwd.hits[0].identity, 1.0);

    const MapOutput rev = library_map(idx.get(), reverse_complement(read), {});
    ASSERT_EQ(rev.result, 1);
    EXPECT_EQ(rev.hits[0].strand, 1);
    EXPECT_EQ(rev.hits[0].n_match, 299);  // the read's N became 4
    EXPECT_EQ(rev.hits[0].aln_len, 300);
    EXPECT_EQ(rev.hits[0].identity, 299.0 / 300.0);
    EXPECT_EQ(cigar_text(rev, rev.hits[0]), "300M");
}

TEST(MapLongReads, WindowsAboveTheShortKernelLimitAlignOnWideLanes) {
    std::mt19937_64 rng(12001);
    const Reference ref = random_reference(rng, {30000});
    const IndexPtr idx = build_index(ref, 15, 10);
    ASSERT_NE(idx, nullptr);
    for (const std::int64_t len : {12000, 12001, 12500}) {
        SCOPED_TRACE(len);
        const MapOutput exact = library_map(idx.get(), slice(ref, 5000, len), {});
        ASSERT_EQ(exact.result, 1);
        EXPECT_EQ(cigar_text(exact, exact.hits[0]), std::to_string(len) + "M");
        const Codes read = mutate(rng, slice(ref, 9000, len), 0.03, 0.01);
        const MapOutput out = library_map(idx.get(), read, {});
        const MapOutput model = model_map(idx.get(), read, {});
        ASSERT_EQ(out.result, model.result);
        for (int i = 0; i < out.result; ++i)
            EXPECT_TRUE(same_hit(out.hits[i], model.hits[i]));
        EXPECT_EQ(out.cigar, model.cigar);
    }
}

// ---------------------------------------------------------------------------
// Faults of earlier versions.

TEST(MapFaults, IndexWithoutReferenceSequencesGivesNoHit) {
    std::mt19937_64 rng(1);
    const Codes seq = random_codes(rng, 3000);
    const std::int64_t unused = 0;
    IndexPtr idx(bio_index_build(seq.data(), 3000, 15, 10, 0, &unused, &unused, 0));
    ASSERT_NE(idx, nullptr);
    MapArgs args;
    const MapOutput out = library_map(idx.get(), Codes(seq.begin() + 100, seq.begin() + 400), args);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(untouched(out.hits[0]));
}

// A table whose entries point past the reference copy: windows stay inside
// [0, ref_len) (the sanitizer builds would catch any read outside it).
TEST(MapFaults, TablePointingOutsideTheReferenceIsClipped) {
    std::mt19937_64 rng(2);
    const Codes seq = random_codes(rng, 3000);
    const Codes tail = random_codes(rng, 100);
    const Codes head = random_codes(rng, 100);
    const Codes at_end = concat(Codes(seq.end() - 200, seq.end()), tail);
    const Codes at_start = concat(head, Codes(seq.begin(), seq.begin() + 200));
    struct Table {
        std::int64_t offset, length;
    };
    const std::int64_t big = std::numeric_limits<std::int64_t>::max();
    for (const Table t : {Table{0, 8000}, Table{-1000, 9000}, Table{-5, big}, Table{0, big}}) {
        SCOPED_TRACE(testing::Message() << t.offset << " " << t.length);
        IndexPtr idx(bio_index_build(seq.data(), 3000, 15, 10, 0, &t.offset, &t.length, 1));
        ASSERT_NE(idx, nullptr);
        const MapOutput end = library_map(idx.get(), at_end, {});
        ASSERT_EQ(end.result, 1);
        EXPECT_EQ(end.hits[0].ref_start, 2800);
        EXPECT_EQ(end.hits[0].ref_end, 3000);
        EXPECT_EQ(end.hits[0].query_end, 200);
        const MapOutput start = library_map(idx.get(), reverse_complement(at_start), {});
        ASSERT_EQ(start.result, 1);
        EXPECT_EQ(start.hits[0].ref_start, 0);
        EXPECT_EQ(start.hits[0].ref_end, 200);
        EXPECT_EQ(start.hits[0].query_start, 0);  // input orientation
        EXPECT_EQ(start.hits[0].query_end, 200);
    }
    // A sequence that starts after the end of the copy holds no window.
    const std::int64_t offset = 3100, length = 500;
    IndexPtr idx(bio_index_build(seq.data(), 3000, 15, 10, 0, &offset, &length, 1));
    ASSERT_NE(idx, nullptr);
    EXPECT_EQ(library_map(idx.get(), at_end, {}).result, 0);
}

// ---------------------------------------------------------------------------
// CIGAR text.

TEST(MapCigar, RunsAreWrittenLikeSnprintf) {
    std::mt19937_64 rng(9);
    const char ops[] = {'M', 'I', 'D'};
    for (int i = 0; i < 5000; ++i) {
        const std::int32_t run = i < 40 ? i + 1 : static_cast<std::int32_t>(rng() >> (33 + rng() % 31));
        const std::int32_t n = std::max(run, 1);
        char got[16], want[16];
        std::memset(got, '#', sizeof got);
        std::memset(want, '#', sizeof want);
        const int len = std::snprintf(want, sizeof want, "%d%c", n, ops[i % 3]);
        ASSERT_EQ(engine::write_cigar_op(got, n, ops[i % 3]), len);
        ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << n;
    }
    char got[16];
    EXPECT_EQ(engine::write_cigar_op(got, std::numeric_limits<std::int32_t>::max(), 'D'), 11);
    EXPECT_STREQ(got, "2147483647D");
}

TEST(MapCigar, AppendEqualsTheReserveRuleOnRandomColumns) {
    std::mt19937_64 rng(10);
    for (int t = 0; t < 3000; ++t) {
        std::string a, b;
        const int n = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) {
            const int kind = static_cast<int>(rng() % (t % 2 ? 3 : 8));  // long M runs sometimes
            a.push_back(kind == 1 ? '-' : 'A');
            b.push_back(kind == 2 ? '-' : 'C');
        }
        const std::int32_t cap = static_cast<std::int32_t>(rng() % 80) - 5;
        const std::int32_t start = static_cast<std::int32_t>(rng() % 20);
        std::vector<char> got(120, '#'), want(120, '#');
        std::int32_t at_got = start, at_want = start;
        const std::int32_t len_got =
            engine::append_cigar(a.data(), b.data(), n, got.data(), cap, &at_got);
        const std::int32_t len_want = model_cigar(a, b, want.data(), cap, &at_want);
        ASSERT_EQ(len_got, len_want);
        ASSERT_EQ(at_got, at_want);
        ASSERT_EQ(got, want);
    }
}

// ---------------------------------------------------------------------------
// The whole pipeline against its model on many small random cases.

MapArgs random_args(std::mt19937_64 &rng) {
    const std::int32_t caps[] = {0, 10, 15, 16, 20, 24, 40, 100, 4096};
    const double scores[] = {0.0, 10.0, 20.0, 40.0, -5.0};
    MapArgs args;
    args.max_chains = static_cast<std::int32_t>(rng() % 7);
    args.max_hits = static_cast<std::int32_t>(rng() % 8) - 1;
    args.min_score = scores[rng() % 5];
    args.cigar_cap = caps[rng() % 9];
    return args;
}

void expect_same_output(const MapOutput &got, const MapOutput &want) {
    ASSERT_EQ(got.result, want.result);
    for (std::size_t i = 0; i < got.hits.size(); ++i) {
        if (static_cast<int>(i) < got.result)
            ASSERT_TRUE(same_hit(got.hits[i], want.hits[i]))
                << "hit " << i << ": " << describe(got.hits[i]) << " vs "
                << describe(want.hits[i]);
        else
            ASSERT_TRUE(untouched(got.hits[i])) << "slot " << i;
    }
    ASSERT_EQ(got.cigar, want.cigar);
}

TEST(MapPipeline, EqualsTheModelOnRandomReferencesAndReads) {
    std::mt19937_64 rng(424242);
    const int ks[] = {5, 7, 9, 11, 13, 15, 17, 19, 21, 25};
    const int max_occs[] = {0, 0, 1, 3, 10};
    int hits_seen = 0, reverse_seen = 0, secondary_seen = 0;
    for (int t = 0; t < 40; ++t) {
        const Reference ref = repetitive_reference(rng);
        const int k = ks[rng() % 10], w = 1 + static_cast<int>(rng() % 12);
        const IndexPtr idx = build_index(ref, k, w, max_occs[rng() % 5]);
        ASSERT_NE(idx, nullptr);
        for (int r = 0; r < 25; ++r) {
            SCOPED_TRACE(testing::Message() << "index " << t << " read " << r << " k " << k
                                            << " w " << w);
            const Codes read = random_read(rng, ref, k);
            const MapArgs args = random_args(rng);
            const MapOutput got = library_map(idx.get(), read, args);
            ASSERT_NO_FATAL_FAILURE(expect_same_output(got, model_map(idx.get(), read, args)));
            for (int i = 0; i < got.result; ++i) {
                ++hits_seen;
                reverse_seen += got.hits[i].strand;
                secondary_seen += i > 0;
            }
        }
    }
    // The cases exercise what they are meant to.
    EXPECT_GT(hits_seen, 300);
    EXPECT_GT(reverse_seen, 100);
    EXPECT_GT(secondary_seen, 30);
}

// Larger reads from a larger reference: the primary hit lies at the origin.
TEST(MapPipeline, PrimaryHitsFindTheTrueOrigin) {
    std::mt19937_64 rng(99);
    const Reference ref = random_reference(rng, {60000, 40000, 20000});
    const IndexPtr idx = build_index(ref, 15, 10);
    ASSERT_NE(idx, nullptr);
    int mapped_right = 0;
    const int n_reads = 200;
    for (int i = 0; i < n_reads; ++i) {
        const int r = static_cast<int>(rng() % 3);
        const std::int64_t len = 400 + rng() % 4600;
        const std::int64_t start = ref.offsets[r] + static_cast<std::int64_t>(
                                                        rng() % (ref.lengths[r] - len + 1));
        const SampledRead read =
            sample_read(rng, ref, r, start, len, static_cast<int>(rng() % 2), 0.02, 0.01);
        MapArgs args;
        args.min_score = 40;
        const MapOutput out = library_map(idx.get(), read.seq, args);
        if (out.result < 1) continue;
        const bio_map_hit_t &h = out.hits[0];
        if (h.ref_id == read.ref_id && h.strand == read.strand && h.ref_start < read.end &&
            read.start < h.ref_end && h.mapq >= 10 && h.identity > 0.9)
            ++mapped_right;
    }
    EXPECT_EQ(mapped_right, n_reads);
}

// ---------------------------------------------------------------------------
// Working memory.

// Every reservation before the first alignment failing gives -1 with
// nothing written; a kernel failing skips only its own chain.
TEST(MapMemory, EachReservationFailureIsReportedOrSkipsOneChain) {
    std::mt19937_64 rng(7);
    const Codes unit = random_codes(rng, 500);
    Codes a = random_codes(rng, 3000), b = random_codes(rng, 3000);
    std::copy(unit.begin(), unit.end(), a.begin() + 500);
    const Codes rc = reverse_complement(mutate(rng, unit, 0.02, 0.0));
    std::copy(rc.begin(), rc.begin() + std::min(rc.size(), unit.size()), b.begin() + 1500);
    const Reference ref = make_reference({a, b});
    const IndexPtr idx = build_index(ref, 15, 10);
    ASSERT_NE(idx, nullptr);
    const Codes read(unit.begin() + 20, unit.begin() + 480);
    const MapArgs args;
    const MapOutput full = library_map(idx.get(), read, args);
    ASSERT_EQ(full.result, 2);
    ASSERT_NE(full.hits[0].strand, full.hits[1].strand);

    MapArgs no_hits = args;
    no_hits.max_hits = 0;
    const long before_kernels =
        engine_test::count_allocations([&] { library_map(idx.get(), read, no_hits); });
    const long total = engine_test::count_allocations([&] { library_map(idx.get(), read, args); });
    ASSERT_GT(total, before_kernels);
    const long baseline = engine::testing::live_allocations();
    for (long n = 1; n <= total; ++n) {
        SCOPED_TRACE(testing::Message() << "reservation " << n << " of " << total);
        MapOutput out = fresh_output(args);
        {
            engine_test::FailNthAllocation guard(n);
            out.result = bio_map_read(idx.get(), read.data(), static_cast<int>(read.size()),
                                      args.max_chains, out.hits.data(), args.max_hits,
                                      args.min_score, out.cigar.data(), args.cigar_cap);
            EXPECT_TRUE(guard.failed());
        }
        EXPECT_EQ(engine::testing::live_allocations(), baseline);
        if (n <= before_kernels) {
            EXPECT_EQ(out.result, -1);
            for (const auto &h : out.hits) EXPECT_TRUE(untouched(h));
            EXPECT_EQ(out.cigar, fresh_output(args).cigar);
            continue;
        }
        // One of the two alignments failed: the other hit remains, its
        // quality still set by its chain's rank.
        ASSERT_EQ(out.result, 1);
        const bio_map_hit_t &h = out.hits[0];
        const bio_map_hit_t &kept = h.strand == full.hits[0].strand ? full.hits[0] : full.hits[1];
        EXPECT_EQ(h.mapq, kept.mapq);
        EXPECT_EQ(h.ref_start, kept.ref_start);
        EXPECT_EQ(h.n_match, kept.n_match);
        EXPECT_EQ(h.cigar_off, 0);
        EXPECT_EQ(cigar_text(out, h), cigar_text(full, kept));
    }
}

}  // namespace
