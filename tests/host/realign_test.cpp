// Sound alignments of mapping hits: spans and indels of constructed reads,
// clipping, split alignments, and the tags against a direct recomputation.
#include "realign.h"

#include "packed_reference.h"

#include "map/mapping_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <tuple>

namespace {

using map_test::Codes;

constexpr int K = 15;
constexpr int W = 10;
constexpr int MAX_HITS = 5;

class RealignTest : public ::testing::Test {
protected:
    void SetUp() override {
        ref_ = map_test::random_reference(rng_, {60000, 40000});
        idx_ = map_test::build_index(ref_, K, W);
        packed_ = bioeng::PackedReference(ref_.codes.data(), int64_t(ref_.codes.size()));
        seqs_ = {&packed_, ref_.offsets.data(), ref_.lengths.data(),
                 int32_t(ref_.offsets.size())};
    }

    std::vector<bioeng::Alignment> align(const Codes &read) {
        std::vector<bio_map_hit_t> hits(MAX_HITS);
        std::vector<char> cigar(1 << 20);
        int32_t n = bio_map_read(idx_.get(), read.data(), int32_t(read.size()), MAX_HITS, hits.data(),
                                 MAX_HITS, 40, cigar.data(), int32_t(cigar.size()));
        EXPECT_GE(n, 0);
        bioeng::RealignOptions opt;
        opt.k = K;
        opt.w = W;
        bioeng::Realigner realigner(seqs_, opt);
        std::vector<bioeng::Alignment> out;
        realigner.align_read(read.data(), int32_t(read.size()), hits.data(), std::max(n, 0), out);
        return out;
    }

    Codes stretch(int32_t ref_id, int64_t start, int64_t len) const {
        const uint8_t *p = ref_.codes.data() + ref_.offsets[size_t(ref_id)] + start;
        return Codes(p, p + len);
    }

    std::mt19937_64 rng_{15};
    map_test::Reference ref_;
    map_test::IndexPtr idx_;
    bioeng::PackedReference packed_;
    bioeng::RefSeqs seqs_;
};

int32_t count_runs(const bioeng::Alignment &a, char op) {
    int32_t n = 0;
    for (const auto &r : a.cigar) n += r.op == op;
    return n;
}

int32_t op_total(const bioeng::Alignment &a, char op) {
    int32_t n = 0;
    for (const auto &r : a.cigar) n += r.op == op ? r.len : 0;
    return n;
}

// A read of 3000 reference bases with one deletion or insertion in the
// middle, on either strand, gets exactly that indel and the exact span.
TEST_F(RealignTest, OneLargeIndelGivesExactlyThatIndelAndTheSpan) {
    const int64_t start = 10000, len = 3000;
    struct Case {
        int32_t del, ins;
    };
    for (Case c : {Case{5, 0}, Case{30, 0}, Case{100, 0}, Case{300, 0}, Case{0, 100}}) {
        for (int32_t strand : {0, 1}) {
            SCOPED_TRACE("del " + std::to_string(c.del) + " ins " + std::to_string(c.ins) +
                         " strand " + std::to_string(strand));
            Codes left = stretch(0, start, len / 2);
            Codes right = stretch(0, start + len / 2 + c.del, len / 2 - c.del);
            Codes read = map_test::concat(map_test::concat(left, map_test::random_codes(rng_, size_t(c.ins))), right);
            if (strand) read = map_test::reverse_complement(read);
            auto alns = align(read);
            ASSERT_EQ(alns.size(), 1u);
            const auto &a = alns[0];
            EXPECT_EQ(a.kind, bioeng::AlnKind::primary);
            EXPECT_EQ(a.strand, strand);
            EXPECT_EQ(a.ref_start, start);
            EXPECT_EQ(a.ref_end, start + len);
            EXPECT_EQ(a.query_start, 0);
            EXPECT_EQ(a.query_end, int32_t(read.size()));
            EXPECT_EQ(count_runs(a, 'D'), c.del ? 1 : 0);
            EXPECT_EQ(count_runs(a, 'I'), c.ins ? 1 : 0);
            EXPECT_EQ(op_total(a, 'D'), c.del);
            EXPECT_EQ(op_total(a, 'I'), c.ins);
            EXPECT_EQ(a.mapq, 60);
        }
    }
}

// A 1.5 kb deletion puts the library's window (the chain's median
// diagonal, the longer side's) far enough from the shorter side that the
// region around it misses that side's start; the region is widened, so the
// chain holds the anchors of the whole read (they decide which parts
// compete), not only the alignment.
TEST_F(RealignTest, LargeDeletionChainCoversTheWholeRead) {
    Codes read = map_test::concat(stretch(0, 20000, 2000), stretch(0, 23500, 4000));
    auto alns = align(read);
    ASSERT_EQ(alns.size(), 1u);
    EXPECT_EQ(alns[0].query_start, 0);
    EXPECT_EQ(op_total(alns[0], 'D'), 1500);
    std::vector<uint64_t> hash(read.size());
    std::vector<int64_t> pos(read.size());
    std::vector<uint8_t> strand(read.size());
    int64_t n = bio_minimizers(read.data(), int64_t(read.size()), K, W, hash.data(), pos.data(), strand.data());
    EXPECT_GE(alns[0].n_anchors, 0.97 * double(n));
}

// 3 kb, the next 300 bases or 1 kb reverse complemented, then the 3 kb
// after them: two parts on the forward strand with exact spans, not one
// forced across the turn, and the inverted middle as a part of its own,
// marked as an inversion. A turn at the read's end is a plain part.
TEST_F(RealignTest, InversionIsAPartOfItsOwn) {
    for (int64_t turn : {300, 1000}) {
        SCOPED_TRACE("inverted " + std::to_string(turn));
        Codes read = map_test::concat(
            map_test::concat(stretch(0, 10000, 3000), map_test::reverse_complement(stretch(0, 13000, turn))),
            stretch(0, 13000 + turn, 3000));
        auto alns = align(read);
        ASSERT_EQ(alns.size(), 3u);
        std::sort(alns.begin(), alns.end(), [](const auto &x, const auto &y) { return x.query_start < y.query_start; });
        EXPECT_EQ(alns[0].strand, 0);
        EXPECT_EQ(alns[0].ref_start, 10000);
        EXPECT_EQ(alns[0].query_start, 0);
        EXPECT_EQ(alns[1].strand, 1);
        EXPECT_TRUE(alns[1].inversion);
        EXPECT_EQ(alns[2].strand, 0);
        EXPECT_EQ(alns[2].ref_end, 13000 + turn + 3000);
        EXPECT_EQ(alns[2].query_end, 6000 + turn);
        for (const auto &a : alns) {
            EXPECT_EQ(a.nm, 0);
            EXPECT_EQ(a.kind == bioeng::AlnKind::supplementary, !(a.kind == bioeng::AlnKind::primary));
            EXPECT_EQ(a.inversion, a.strand == 1);
        }
        EXPECT_NEAR(double(alns[1].ref_start), 13000.0, 12.0); // a base or so at a turn may match either way
        EXPECT_NEAR(double(alns[1].ref_end), double(13000 + turn), 12.0);
    }
    Codes end_turn = map_test::concat(stretch(0, 10000, 3000), map_test::reverse_complement(stretch(0, 13000, 2000)));
    auto alns = align(end_turn);
    ASSERT_EQ(alns.size(), 2u);
    for (const auto &a : alns) EXPECT_FALSE(a.inversion);
}

// 3 kb from one sequence followed by 3 kb (reverse strand) from the other:
// a primary with the rest soft-clipped and a supplementary part, each
// naming the other in SA.
TEST_F(RealignTest, ChimeraGivesPrimaryAndSupplementary) {
    Codes first = stretch(0, 20000, 3000);
    Codes second = map_test::reverse_complement(stretch(1, 5000, 3000));
    Codes read = map_test::concat(first, second);
    auto alns = align(read);
    ASSERT_EQ(alns.size(), 2u);
    std::vector<std::string> names = {"one", "two"};
    std::string sa0, sa1, cg0, cg1;
    bioeng::append_sa(sa0, alns, 0, names);
    bioeng::append_sa(sa1, alns, 1, names);
    bioeng::append_clipped_cigar(cg0, alns[0]);
    bioeng::append_clipped_cigar(cg1, alns[1]);
    EXPECT_EQ(alns[0].kind, bioeng::AlnKind::primary);
    EXPECT_EQ(alns[1].kind, bioeng::AlnKind::supplementary);
    const auto &fwd = alns[0].strand == 0 ? alns[0] : alns[1];
    const auto &rev = alns[0].strand == 0 ? alns[1] : alns[0];
    EXPECT_EQ(fwd.ref_id, 0);
    EXPECT_EQ(fwd.ref_start, 20000);
    EXPECT_EQ(fwd.query_start, 0);
    // A base past the junction may match by chance and extend a part.
    EXPECT_GE(fwd.query_end, 3000);
    EXPECT_LE(fwd.query_end, 3004);
    EXPECT_EQ(fwd.ref_end - 20000, fwd.query_end);
    EXPECT_EQ(rev.ref_id, 1);
    EXPECT_EQ(rev.ref_start, 5000);
    EXPECT_GE(rev.query_start, 2996);
    EXPECT_LE(rev.query_start, 3000);
    EXPECT_EQ(rev.ref_end - 5000, 6000 - rev.query_start);
    EXPECT_EQ(rev.query_end, 6000);
    for (const auto &a : alns) EXPECT_EQ(a.mapq, 60);
    EXPECT_EQ(sa0, std::string(alns[1].ref_id ? "two" : "one") + "," +
                       std::to_string(alns[1].ref_start + 1) + "," + (alns[1].strand ? "-" : "+") +
                       "," + cg1 + ",60,0;");
    EXPECT_EQ(sa1, std::string(alns[0].ref_id ? "two" : "one") + "," +
                       std::to_string(alns[0].ref_start + 1) + "," + (alns[0].strand ? "-" : "+") +
                       "," + cg0 + ",60,0;");
    EXPECT_EQ(cg0.find('S') != std::string::npos, true);
}

// Random bases after a real stretch are soft-clipped: the alignment stops
// within a few bases of the junction (junk may match a base or two by
// chance), and is never forced through the junk.
TEST_F(RealignTest, JunkReadEndIsClipped) {
    for (int32_t junk : {40, 300}) {
        Codes real = stretch(0, 30000, 2000);
        Codes read = map_test::concat(real, map_test::random_codes(rng_, size_t(junk)));
        auto alns = align(read);
        ASSERT_EQ(alns.size(), 1u);
        EXPECT_EQ(alns[0].query_start, 0);
        EXPECT_GE(alns[0].query_end, 2000);
        EXPECT_LE(alns[0].query_end, 2008);
        EXPECT_EQ(alns[0].ref_start, 30000);
        EXPECT_EQ(bioeng::clip_tail(alns[0]), int32_t(read.size()) - alns[0].query_end);

        // Junk before the real stretch, the whole read reverse-complemented:
        // the clip is at the alignment's head, the read's end.
        Codes front = map_test::concat(map_test::random_codes(rng_, size_t(junk)), real);
        alns = align(map_test::reverse_complement(front));
        ASSERT_EQ(alns.size(), 1u);
        EXPECT_EQ(alns[0].strand, 1);
        EXPECT_EQ(alns[0].query_start, 0);
        EXPECT_LE(bioeng::clip_head(alns[0]), junk);
        EXPECT_GE(bioeng::clip_head(alns[0]), junk - 8);
        EXPECT_EQ(alns[0].ref_end, 32000);
    }
}

// ---------------------------------------------------------------------------
// Tags against a direct recomputation from the gapped strings.

struct Gapped {
    std::string ref, read; // '-' for gaps
};

Gapped gapped(const bioeng::Alignment &a, const uint8_t *ref, const Codes &oread) {
    Gapped g;
    int64_t i = a.ref_start, j = bioeng::clip_head(a);
    for (const auto &run : a.cigar)
        for (int32_t c = 0; c < run.len; ++c) {
            g.ref.push_back(run.op == 'I' ? '-' : "ACGTN"[std::min<int>(ref[i++], 4)]);
            g.read.push_back(run.op == 'D' ? '-' : "ACGTN"[std::min<int>(oread[size_t(j++)], 4)]);
        }
    return g;
}

// NM and MD as samtools calmd defines them, column by column.
std::pair<int32_t, std::string> model_nm_md(const Gapped &g) {
    int32_t nm = 0, run = 0;
    std::string md;
    for (size_t c = 0; c < g.ref.size(); ++c) {
        char r = g.ref[c], q = g.read[c];
        if (r == '-') {
            ++nm;
        } else if (q == '-') {
            if (c == 0 || g.read[c - 1] != '-') md += std::to_string(run) + "^";
            md += r;
            run = 0;
            ++nm;
        } else if (r == q && r != 'N') {
            ++run;
        } else {
            md += std::to_string(run) + r;
            run = 0;
            ++nm;
        }
    }
    return {nm, md + std::to_string(run)};
}

// The gapped strings spelled out by a cs tag.
Gapped from_cs(const std::string &cs) {
    Gapped g;
    for (size_t i = 0; i < cs.size();) {
        char kind = cs[i++];
        size_t j = i;
        while (j < cs.size() && cs[j] != ':' && cs[j] != '*' && cs[j] != '+' && cs[j] != '-') ++j;
        if (kind == '*') j = i + 2;
        std::string body = cs.substr(i, j - i);
        for (char &ch : body) ch = char(std::toupper(ch));
        if (kind == ':') {
            g.ref.append(size_t(std::stoi(body)), '=');
            g.read.append(size_t(std::stoi(body)), '=');
        } else if (kind == '*') {
            g.ref += body[0];
            g.read += body[1];
        } else if (kind == '+') {
            g.ref.append(body.size(), '-');
            g.read += body;
        } else {
            g.ref += body;
            g.read.append(body.size(), '-');
        }
        i = j;
    }
    return g;
}

TEST_F(RealignTest, TagsAgreeWithRecomputationOnNoisyReads) {
    int checked = 0;
    for (int t = 0; t < 40; ++t) {
        int32_t ref_id = int32_t(rng_() % 2);
        int64_t len = 150 + int64_t(rng_() % 4000);
        int64_t start = int64_t(rng_() % uint64_t(ref_.lengths[size_t(ref_id)] - len));
        auto sr = map_test::sample_read(rng_, ref_, ref_id, ref_.offsets[size_t(ref_id)] + start, len,
                                        int32_t(rng_() % 2), 0.03, 0.04);
        Codes read = map_test::with_unknowns(rng_, sr.seq, 3);
        for (const auto &a : align(read)) {
            const uint8_t *contig = ref_.codes.data() + ref_.offsets[size_t(a.ref_id)];
            std::vector<uint8_t> oread;
            bioeng::oriented_read(read.data(), int32_t(read.size()), a.strand, oread);
            Gapped g = gapped(a, contig, oread);
            int64_t ref_len = 0, read_len = 0;
            for (size_t c = 0; c < g.ref.size(); ++c) ref_len += g.ref[c] != '-', read_len += g.read[c] != '-';
            EXPECT_EQ(ref_len, a.ref_end - a.ref_start);
            EXPECT_EQ(read_len, a.query_end - a.query_start);
            EXPECT_EQ(int32_t(g.ref.size()), a.block_len);
            auto [nm, md] = model_nm_md(g);
            std::string md_tag, cs_tag;
            bioeng::append_md(md_tag, a, contig + a.ref_start, oread.data());
            bioeng::append_cs(cs_tag, a, contig + a.ref_start, oread.data());
            EXPECT_EQ(a.nm, nm);
            EXPECT_EQ(md_tag, md);
            Gapped back = from_cs(cs_tag);
            ASSERT_EQ(back.ref.size(), g.ref.size());
            for (size_t c = 0; c < g.ref.size(); ++c) {
                if (back.ref[c] == '=') {
                    EXPECT_EQ(g.ref[c], g.read[c]);
                    EXPECT_NE(g.ref[c], 'N');
                } else {
                    EXPECT_EQ(back.ref[c], g.ref[c]);
                    EXPECT_EQ(back.read[c], g.read[c]);
                }
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 40);
}

} // namespace

namespace {

// A reference with runs of unknown bases and of a repeated short motif
// (equal hashes in one window), where window edges are hardest.
map_test::Reference edgy_reference(std::mt19937_64 &rng) {
    std::vector<Codes> seqs;
    for (size_t len : {3000u, 50u, 140000u}) { // the last one over two chunks
        Codes s = map_test::random_codes(rng, len);
        for (int run = 0; run < 6 && len > 200; ++run) {
            size_t at = rng() % (len - 100), n = 1 + rng() % 40;
            for (size_t i = 0; i < n; ++i) s[at + i] = run % 2 ? 4 : uint8_t(i % 3);
        }
        seqs.push_back(s);
    }
    return map_test::make_reference(seqs);
}

} // namespace

// A region's minimizers are the whole sequence's (bio_minimizers over all
// of it) whose k-mers lie in the region, whether sliced from the list (made
// on any number of threads) or computed for the region alone.
TEST(RegionMinimizers, AreTheWholeSequencesInTheRegion) {
    std::mt19937_64 rng(1515);
    map_test::Reference ref = edgy_reference(rng);
    const bioeng::PackedReference packed(ref.codes.data(), int64_t(ref.codes.size()));
    using Found = std::vector<std::tuple<int64_t, uint64_t, uint8_t>>;
    auto as_found = [](const std::vector<bioeng::Minimizer> &m) {
        Found f;
        for (const bioeng::Minimizer &x : m) f.emplace_back(x.pos, x.hash, x.strand);
        return f;
    };
    for (auto [k, w] : {std::pair{15, 10}, std::pair{21, 11}, std::pair{5, 3}, std::pair{17, 1}}) {
        bioeng::RefSeqs seqs{&packed, ref.offsets.data(), ref.lengths.data(), int32_t(ref.offsets.size())};
        bioeng::RefMinimizers all, all3;
        bioeng::compute_ref_minimizers(seqs, k, w, 1, all);
        bioeng::compute_ref_minimizers(seqs, k, w, 3, all3);
        ASSERT_EQ(all.first, all3.first);
        ASSERT_TRUE(std::equal(all.all.begin(), all.all.end(), all3.all.begin(), all3.all.end(),
                               [](const auto &x, const auto &y) {
                                   return x.hash == y.hash && x.pos == y.pos && x.strand == y.strand;
                               }));
        std::vector<Found> whole; // of each sequence
        for (size_t id = 0; id < ref.offsets.size(); ++id) {
            int64_t len = ref.lengths[id];
            std::vector<uint64_t> hash(size_t(len) + 1);
            std::vector<int64_t> pos(hash.size());
            std::vector<uint8_t> strand(hash.size());
            int64_t n = bio_minimizers(ref.codes.data() + ref.offsets[id], len, k, w, hash.data(), pos.data(),
                                       strand.data());
            ASSERT_GE(n, 0);
            whole.emplace_back();
            for (size_t i = 0; i < size_t(n); ++i) whole.back().emplace_back(ref.offsets[id] + pos[i], hash[i], strand[i]);
        }
        bioeng::RefSeqs unlisted = seqs;
        seqs.mins = &all;
        std::vector<bioeng::Minimizer> got;
        bioeng::MinimizerArrays scratch;
        std::vector<uint8_t> codes;
        for (int trial = 0; trial < 300; ++trial) {
            int32_t id = int32_t(rng() % ref.offsets.size());
            int64_t cstart = ref.offsets[size_t(id)], len = ref.lengths[size_t(id)];
            int64_t rs = cstart + int64_t(rng() % uint64_t(len));
            int64_t re = rs + int64_t(rng() % uint64_t(std::min<int64_t>(cstart + len - rs, 20000) + 1));
            SCOPED_TRACE("k " + std::to_string(k) + " w " + std::to_string(w) + " region " +
                         std::to_string(rs) + ".." + std::to_string(re));
            Found want;
            for (const auto &m : whole[size_t(id)])
                if (std::get<0>(m) >= rs && std::get<0>(m) + k <= re) want.push_back(m);
            bioeng::region_minimizers(seqs, id, rs, re, k, w, got, scratch, codes);
            ASSERT_EQ(as_found(got), want);
            bioeng::region_minimizers(unlisted, id, rs, re, k, w, got, scratch, codes);
            ASSERT_EQ(as_found(got), want);
        }
    }
}
