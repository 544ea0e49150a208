#include "realign.h"

#include "packed_reference.h"
#include "worker_threads.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <new>
#include <utility>

namespace bioeng {

namespace {

// Scores of the library's mapper, used for the pieces and for AS/ms.
constexpr int32_t MAP_MATCH = 2;
constexpr int32_t MAP_MISMATCH = -1;
constexpr int32_t MAP_GAP = -2;

// Strict scores with which an end is rescored to decide where it stops.
// Two unrelated sequences aligned under the mapper's lenient scores still
// score positively per column (about 0.65 of the columns match), so those
// scores cannot tell a real end from junk; under these they lose about 0.7
// per column, while a read with 10% errors gains about 1.4.
constexpr int32_t CLIP_MATCH = 2;
constexpr int32_t CLIP_MISMATCH = -4;
constexpr int32_t CLIP_GAP = -4;
// An end stops once its running score has fallen this far below its peak.
constexpr int32_t CLIP_DROP = 100;

// Cut the chain into pieces of about this many reference (or read) bases.
constexpr int64_t PIECE_SPAN = 500;
// A change of the chain's diagonal larger than this between two anchors is
// an indel; the piece between those two anchors is aligned on its own, so
// that its wide band does not widen the neighbouring pieces.
constexpr int64_t DIAGONAL_JUMP = 32;
// Band of a piece: its length difference plus at least this much.
constexpr int32_t PIECE_BAND_SLACK = 31;
// The vector kernel computes an anti-diagonal of the band (about band + 1
// cells) in blocks of this many cells; a band just short of a multiple of
// it fills its last block, so the band is widened to the next such size,
// which costs no extra block.
constexpr int32_t KERNEL_BLOCK_CELLS = 16;

int32_t piece_band(int32_t length_difference) {
    int32_t least = length_difference + PIECE_BAND_SLACK;
    return (least / KERNEL_BLOCK_CELLS + 1) * KERNEL_BLOCK_CELLS - 1;
}
// Read bases beyond the first or last anchor that an end may cover.
constexpr int32_t END_MAX = 2000;

// Chaining settings, as the library chains.
constexpr int64_t CHAIN_MAX_DIST = 5000;
constexpr int32_t CHAIN_MAX_LOOKBACK = 64;
// A minimizer occurring more often than this in the read is a repeat there
// and gives no anchors.
constexpr size_t READ_MAX_OCC = 32;
// The reference region searched for a hit's anchors: its window widened by
// qlen / REGION_MARGIN_DIVISOR + REGION_MARGIN_MIN on both sides.
constexpr int64_t REGION_MARGIN_DIVISOR = 8;
constexpr int64_t REGION_MARGIN_MIN = 16;

// Lowest score the 16-bit kernel holds (see fits_16_bits).
constexpr int64_t I16_LOWEST = -16383;
constexpr int64_t I16_HIGHEST = 32767;

// Least stretch between two linked anchors, on the read and on the
// reference, that may split the chain, and the strict score below which it
// does, when another part fills it (see split_bridging_chains). Two
// unrelated stretches lose about 0.7 per column under the strict scores; a
// read with 10% errors gains about 1.4.
constexpr int64_t SPLIT_MIN_GAP = 50;
constexpr int64_t SPLIT_MAX_SCORE = -CLIP_DROP / 2;
// How far an inverted part's reference span may reach beyond the gap that
// its two flanking parts leave on the reference (see mark_inversions).
constexpr int64_t INVERSION_SLACK = 100;

// Two parts of a read compete when their read intervals overlap by at least
// this fraction of the shorter one.
constexpr double COMPETE_OVERLAP = 0.5;
constexpr int32_t MAPQ_MAX = 60;

char decode_table_entry(int c) { return c < 4 ? "ACGT"[c] : 'N'; }

struct DecodeTable {
    char letters[32];
    DecodeTable() {
        for (int c = 0; c < 32; ++c) letters[c] = decode_table_entry(c);
    }
};
const DecodeTable DECODE;


struct Run {
    char op;
    int64_t len;
};

// Minimizer hashes are already well mixed; the multiplication spreads the
// k-mer hashes of small k, which fill only the low bits.
uint64_t table_slot(uint64_t hash) { return (hash * 0x9E3779B97F4A7C15ULL) >> 20; }

bool is_match(uint8_t ref_code, uint8_t read_code) { return ref_code < 4 && ref_code == read_code; }

// The read in one orientation, with its minimizers grouped by hash (each
// group in position order) and a table to find a hash's group.
struct ReadStrand {
    bool ready = false;
    std::vector<uint8_t> oread;
    std::vector<Minimizer> mins;
    // Open addressing over the distinct hashes of `mins`: a slot holds the
    // index of the hash's first entry in `mins` plus 1, 0 when empty.
    std::vector<uint32_t> table;
    uint64_t mask = 0;
};

// Working arrays of group_by_hash.
struct GroupScratch {
    std::vector<uint64_t> hash;  // of each group
    std::vector<uint32_t> start; // of each group in `mins`, while placing
    std::vector<uint32_t> group; // of each minimizer
};

// Fills st.mins and st.table from the read's n minimizers (position
// order): one pass gives each distinct hash a group, a counting sort
// places the minimizers group by group, keeping their position order. No
// comparison sort is needed: the anchors only ever take a hash's entries
// together, by position.
void group_by_hash(const MinimizerArrays &r, size_t n, ReadStrand &st, GroupScratch &g) {
    size_t cap = 16;
    while (cap < 2 * n) cap *= 2;
    st.table.assign(cap, 0);
    st.mask = cap - 1;
    g.hash.clear();
    g.start.clear();
    g.group.resize(n);
    for (size_t i = 0; i < n; ++i) {
        uint64_t slot = table_slot(r.hash[i]) & st.mask;
        while (st.table[slot] && g.hash[st.table[slot] - 1] != r.hash[i]) slot = (slot + 1) & st.mask;
        if (!st.table[slot]) {
            g.hash.push_back(r.hash[i]);
            g.start.push_back(0);
            st.table[slot] = uint32_t(g.hash.size());
        }
        g.group[i] = st.table[slot] - 1;
        ++g.start[g.group[i]];
    }
    uint32_t at = 0;
    for (uint32_t &x : g.start) at += std::exchange(x, at);
    for (uint32_t &slot : st.table)
        if (slot) slot = g.start[slot - 1] + 1;
    st.mins.resize(n);
    for (size_t i = 0; i < n; ++i) st.mins[g.start[g.group[i]]++] = Minimizer{r.hash[i], r.pos[i], r.strand[i]};
}

// The entries of `st.mins` with hash hv: [*first, *last).
void find_hash(const ReadStrand &st, uint64_t hv, size_t &first, size_t &last) {
    for (uint64_t slot = table_slot(hv) & st.mask; st.table[slot]; slot = (slot + 1) & st.mask) {
        size_t i = st.table[slot] - 1;
        if (st.mins[i].hash != hv) continue;
        first = last = i;
        while (last < st.mins.size() && st.mins[last].hash == hv) ++last;
        return;
    }
    first = last = 0;
}

} // namespace

struct Realigner::Scratch {
    ReadStrand strands[2];
    std::vector<std::vector<Anchor>> paths; // chain of each candidate alignment
    size_t n_paths = 0;                     // of this read
    std::vector<size_t> cut_after;          // anchors a chain is split after
    MinimizerArrays read_mins, region_scratch; // bio_minimizers output for the read, and for regions
    std::vector<Minimizer> region;
    GroupScratch groups;
    std::vector<Anchor> anchors;
    std::vector<int64_t> ax, ay, chain_start;
    std::vector<double> f;
    std::vector<int32_t> prev;
    std::vector<Anchor> cuts;
    std::vector<char> out_a, out_b;
    std::vector<char> ops, end_ops, end_cols;
    std::vector<uint8_t> region_codes; // the reference region searched for anchors
    std::vector<uint8_t> span;         // the reference an alignment may cover
    std::vector<uint8_t> rev_ref, rev_read;
    std::vector<Run> runs_in, runs_out;
};

Realigner::Realigner(const RefSeqs &ref, const RealignOptions &opt)
    : ref_(ref), opt_(opt), s_(std::make_unique<Scratch>()) {}

Realigner::~Realigner() = default; // Scratch is complete here

void oriented_read(const uint8_t *read, int32_t qlen, int32_t strand, std::vector<uint8_t> &out) {
    out.resize(size_t(qlen));
    if (strand == 0) {
        for (int32_t i = 0; i < qlen; ++i) out[size_t(i)] = read[i] < 4 ? read[i] : 4;
    } else {
        for (int32_t i = 0; i < qlen; ++i) {
            uint8_t c = read[qlen - 1 - i];
            out[size_t(i)] = c < 4 ? uint8_t(3 - c) : 4;
        }
    }
}

namespace {

// Minimizers of seq[0, len) into `out`; returns the count.
int64_t minimizers(const uint8_t *seq, int64_t len, int32_t k, int32_t w, MinimizerArrays &out) {
    if (len < k) return 0;
    size_t cap = size_t(len - k + 1);
    out.hash.resize(cap);
    out.pos.resize(cap);
    out.strand.resize(cap);
    int64_t n = bio_minimizers(seq, len, k, w, out.hash.data(), out.pos.data(), out.strand.data());
    if (n < 0) throw std::bad_alloc();
    return n;
}

// The minimizers of reference sequence `id` whose k-mers start at positions
// [a, b) of it, exactly as in the list of the whole sequence: a window's
// minimizer depends only on the window, and every window holding a
// position in [a, b) lies within w - 1 positions of it, so hashing that
// much more on both sides gives them. Each goes to emit(hash, position in
// concatenated coordinates, strand), in position order; `codes` and
// `scratch` are working memory.
template <class Emit>
void sequence_minimizers_between(const RefSeqs &ref, int32_t id, int64_t a, int64_t b, int32_t k, int32_t w,
                                 std::vector<uint8_t> &codes, MinimizerArrays &scratch, Emit emit) {
    const int64_t len = ref.lengths[id], offset = ref.offsets[id];
    const int64_t from = std::max<int64_t>(0, a - (w - 1));
    const int64_t to = std::min(len, b + (w - 1) + (k - 1));
    if (a >= b || to - from < k) return;
    ref.packed->extract(offset + from, to - from, codes);
    int64_t n = minimizers(codes.data(), to - from, k, w, scratch);
    for (size_t m = 0; m < size_t(n); ++m) {
        int64_t p = from + scratch.pos[m];
        if (p >= a && p < b) emit(scratch.hash[m], offset + p, scratch.strand[m]);
    }
}

struct Scores {
    int32_t match, mismatch, gap;
};
constexpr Scores MAP_SCORES{MAP_MATCH, MAP_MISMATCH, MAP_GAP};
constexpr Scores CLIP_SCORES{CLIP_MATCH, CLIP_MISMATCH, CLIP_GAP};

// nw_banded_diag_simd takes 16-bit lanes whenever both lengths are 12000 or
// less, whatever the scores. A reachable cell (i, j) scores at least
// -c x max(i, j), c the larger penalty (diagonal columns, then gap columns;
// the band's border cells likewise), at most match x min(i, j), and every
// candidate lies one column score beyond a reachable cell; when that can
// leave the 16-bit range, the scalar nw_banded_diag (32-bit) is used.
bool fits_16_bits(int32_t la, int32_t lb, const Scores &sc) {
    int64_t longest = std::max(la, lb);
    int64_t penalty = std::max(-int64_t(sc.mismatch), -int64_t(sc.gap));
    return -penalty * (longest + 1) >= I16_LOWEST && int64_t(sc.match) * (longest + 1) <= I16_HIGHEST;
}

// Whether the gapless alignment of two sequences of equal length n is the
// best global one: it scores n x match less (match - mismatch) per
// mismatching column; any alignment with gaps has at least two gap columns
// (as many insertions as deletions) and so at most n - 1 diagonal columns,
// scoring at most (n - 1) x match + 2 x gap. Most pieces of accurate reads
// are exact, and this spares the kernel for them.
bool gapless_is_optimal(const uint8_t *ref, const uint8_t *qry, int32_t n, const Scores &sc) {
    int64_t best_gapped = int64_t(n - 1) * sc.match + 2 * int64_t(sc.gap);
    int64_t cost = 0, limit = int64_t(n) * sc.match - best_gapped; // gapless must lose less than this
    for (int32_t i = 0; i < n; ++i) {
        if (ref[i] != qry[i]) {
            cost += sc.match - sc.mismatch;
            if (cost >= limit) return false;
        }
    }
    return true;
}

// Global banded alignment of ref[0, rl) with qry[0, ql); appends the
// columns ('M', 'I' read base only, 'D' reference base only) to ops and
// returns their score. The
// shorter sequence goes first, since the kernel's traceback grows with the
// first sequence times the band. Band = length difference + slack.
int64_t align_global(const uint8_t *ref, int32_t rl, const uint8_t *qry, int32_t ql, const Scores &sc,
                     std::vector<char> &out_a, std::vector<char> &out_b, std::vector<char> &ops) {
    if (rl == 0 || ql == 0) {
        ops.insert(ops.end(), size_t(rl), 'D');
        ops.insert(ops.end(), size_t(ql), 'I');
        return int64_t(rl + ql) * sc.gap;
    }
    if (rl == ql && gapless_is_optimal(ref, qry, rl, sc)) {
        ops.insert(ops.end(), size_t(rl), 'M');
        int64_t differ = 0;
        for (int32_t i = 0; i < rl; ++i) differ += ref[i] != qry[i];
        return (rl - differ) * sc.match + differ * sc.mismatch;
    }
    bool ref_first = rl <= ql;
    const uint8_t *a = ref_first ? ref : qry;
    const uint8_t *b = ref_first ? qry : ref;
    int32_t la = ref_first ? rl : ql, lb = ref_first ? ql : rl;
    int32_t band = piece_band(std::abs(rl - ql));
    size_t cap = size_t(la) + size_t(lb) + 1;
    if (out_a.size() < cap) {
        out_a.resize(cap);
        out_b.resize(cap);
    }
    int32_t score = 0, nm = 0, nx = 0, ng = 0;
    auto kernel = fits_16_bits(la, lb, sc) ? nw_banded_diag_simd : nw_banded_diag;
    int32_t cols = kernel(a, la, b, lb, DECODE.letters, sc.match, sc.mismatch, sc.gap, band, out_a.data(),
                          out_b.data(), &score, &nm, &nx, &ng);
    if (cols < 0) throw std::bad_alloc();
    const char *ref_row = ref_first ? out_a.data() : out_b.data();
    const char *read_row = ref_first ? out_b.data() : out_a.data();
    for (int32_t c = 0; c < cols; ++c)
        ops.push_back(ref_row[c] == '-' ? 'I' : read_row[c] == '-' ? 'D' : 'M');
    return score;
}

// The clipping rule for a read end. The read end and the reference next to
// it (a little longer than the read end) come far end first: qry[0, ql) and
// ref[0, rl), the anchor just past their last bases (a right end is passed
// reversed). The two are aligned end to end with the strict scores (match
// +2, mismatch -4, gap column -4), under which junk costs about as much in
// any arrangement, so the real part next to the anchor stays on its
// diagonal; the kernel puts tied gaps first, here at the far end, where the
// surplus reference goes. Then the alignment is walked from the anchor
// outwards with the same scores: it keeps the columns up to the highest
// running score (the first point reaching it, so it always ends on a match;
// nothing when no point scores above zero), and the walk stops once the
// score has fallen CLIP_DROP below that peak. Everything of the read beyond
// the kept columns is clipped. `ops` gets the kept columns, listed from the
// anchor outwards.
void extend_end(const uint8_t *ref, int32_t rl, const uint8_t *qry, int32_t ql, std::vector<char> &out_a,
                std::vector<char> &out_b, std::vector<char> &cols, std::vector<char> &ops) {
    ops.clear();
    if (rl == 0 || ql == 0) return;
    if (rl >= ql && std::equal(qry, qry + ql, ref + (rl - ql), is_match)) {
        // The read end matches base for base: nothing can score higher.
        ops.assign(size_t(ql), 'M');
        return;
    }
    cols.clear();
    align_global(ref, rl, qry, ql, CLIP_SCORES, out_a, out_b, cols);
    int64_t run = 0, peak = 0;
    size_t keep = 0;
    int64_t i = rl, j = ql;
    for (size_t c = 0; c < cols.size(); ++c) {
        char op = cols[cols.size() - 1 - c];
        ops.push_back(op);
        if (op == 'M') run += is_match(ref[--i], qry[--j]) ? CLIP_MATCH : CLIP_MISMATCH;
        else run += CLIP_GAP, op == 'D' ? --i : --j;
        if (run > peak) {
            peak = run;
            keep = c + 1;
        } else if (run < peak - CLIP_DROP) {
            break;
        }
    }
    ops.resize(keep);
}

// Under a linear gap score a gap split in two by a few matching columns
// scores the same as one whole gap, and the kernel's tie order (diagonal
// first) picks the split form: a clean 30-base deletion comes out as
// 10D1M20D and the like. This pass joins two gap runs of one kind that only
// matching columns separate, moving one of them next to the other, whenever
// the moved columns then mismatch no more often than before (a gap of one
// event is what happened; it is also how others report it). `ops` aligns
// ref[0, ...) with qry[0, ...).
constexpr int32_t JOIN_MAX_SEPARATION = 64;

int64_t count_mismatches(const uint8_t *ref, const uint8_t *qry, int64_t n) {
    int64_t x = 0;
    for (int64_t c = 0; c < n; ++c) x += !is_match(ref[c], qry[c]);
    return x;
}

// Appends a run, merging it with the last one when they are of one kind.
void push_run(std::vector<Run> &runs, Run x) {
    if (x.len == 0) return;
    if (!runs.empty() && runs.back().op == x.op) runs.back().len += x.len;
    else runs.push_back(x);
}

int64_t ref_len(const Run &x) { return x.op == 'I' ? 0 : x.len; }
int64_t read_len(const Run &x) { return x.op == 'D' ? 0 : x.len; }

void join_split_gaps(std::vector<char> &ops, const uint8_t *ref, const uint8_t *qry, std::vector<Run> &in,
                     std::vector<Run> &out) {
    if (std::count_if(ops.begin(), ops.end(), [](char op) { return op != 'M'; }) < 2) return;
    in.clear();
    for (char op : ops) push_run(in, Run{op, 1});
    out.clear();
    bool changed = false;
    int64_t i = 0, j = 0; // reference and read bases covered by `out`
    for (const Run &g2 : in) {
        size_t n = out.size();
        if (g2.op != 'M' && n >= 2 && out[n - 1].op == 'M' && out[n - 2].op == g2.op &&
            out[n - 1].len <= JOIN_MAX_SEPARATION) {
            bool del = g2.op == 'D';
            int64_t a = out[n - 2].len, b = out[n - 1].len, c = g2.len;
            // Where the first gap starts.
            int64_t i0 = i - b - (del ? a : 0), j0 = j - b - (del ? 0 : a);
            int64_t before = del ? count_mismatches(ref + i0 + a, qry + j0, b)
                                 : count_mismatches(ref + i0, qry + j0 + a, b);
            int64_t gap_first = del ? count_mismatches(ref + i0 + a + c, qry + j0, b)
                                    : count_mismatches(ref + i0, qry + j0 + a + c, b);
            int64_t gap_last = count_mismatches(ref + i0, qry + j0, b);
            if (std::min(gap_first, gap_last) <= before) {
                changed = true;
                out.resize(n - 2);
                if (gap_first <= gap_last) {
                    push_run(out, Run{g2.op, a + c});
                    push_run(out, Run{'M', b});
                } else {
                    push_run(out, Run{'M', b});
                    push_run(out, Run{g2.op, a + c});
                }
                if (del) i += c;
                else j += c;
                continue;
            }
        }
        push_run(out, g2);
        i += ref_len(g2);
        j += read_len(g2);
    }
    if (!changed) return;
    ops.clear();
    for (const Run &x : out) ops.insert(ops.end(), size_t(x.len), x.op);
}

int64_t ref_bases(const char *ops, size_t n) {
    int64_t r = 0;
    for (size_t c = 0; c < n; ++c) r += ops[c] != 'I';
    return r;
}

int64_t read_bases(const char *ops, size_t n) {
    int64_t q = 0;
    for (size_t c = 0; c < n; ++c) q += ops[c] != 'D';
    return q;
}

// Running best-segment score (ms): the best sum of a contiguous stretch of
// column scores, as columns are added.
struct BestSegment {
    int64_t run = 0, best = 0;
    void add(int64_t s) {
        run = std::max<int64_t>(0, run) + s;
        best = std::max(best, run);
    }
};

// Counts and scores of a run of M columns pairing ref[0, n) with qry[0, n).
// A run of identical bases, which most are, is scored as a whole: its
// columns all score MAP_MATCH, so the running segment only grows.
void describe_match_run(const uint8_t *ref, const uint8_t *qry, int64_t n, Alignment &a, BestSegment &seg) {
    int64_t equal = 0, matches = 0, ambiguous = 0;
    for (int64_t c = 0; c < n; ++c) {
        equal += ref[c] == qry[c];
        matches += is_match(ref[c], qry[c]);
        ambiguous += ref[c] >= 4 || qry[c] >= 4;
    }
    a.matches += int32_t(matches);
    a.mismatches += int32_t(n - matches);
    a.ambiguous += int32_t(ambiguous);
    a.score += int32_t(equal * MAP_MATCH + (n - equal) * MAP_MISMATCH);
    if (equal == n) {
        seg.add(n * MAP_MATCH);
        return;
    }
    for (int64_t c = 0; c < n; ++c) seg.add(ref[c] == qry[c] ? MAP_MATCH : MAP_MISMATCH);
}

// Column counts, scores and CIGAR of the alignment `ops` of the oriented
// read from oq against the reference from rs (concatenated coordinates).
void describe(const std::vector<char> &ops, const uint8_t *ref, const uint8_t *oread, Alignment &a) {
    a.cigar.clear();
    int64_t i = 0, j = 0;
    BestSegment seg;
    for (size_t c = 0; c < ops.size();) {
        const char op = ops[c];
        size_t end = c + 1;
        while (end < ops.size() && ops[end] == op) ++end;
        const int64_t len = int64_t(end - c);
        a.cigar.push_back(CigarRun{int32_t(len), op});
        if (op == 'M') {
            describe_match_run(ref + i, oread + j, len, a, seg);
            i += len, j += len;
        } else {
            if (op == 'I') a.ins += int32_t(len), j += len;
            else a.del += int32_t(len), i += len;
            ++a.gap_runs;
            a.score += int32_t(len * MAP_GAP);
            for (int64_t g = 0; g < len; ++g) seg.add(MAP_GAP);
        }
        c = end;
    }
    a.max_segment = int32_t(seg.best);
    a.block_len = int32_t(ops.size());
    a.nm = a.mismatches + a.ins + a.del;
    int64_t events = int64_t(a.matches) + a.mismatches + a.gap_runs;
    a.divergence = events ? double(a.mismatches + a.gap_runs) / double(events) : 0.0;
}

int32_t mapq_of(double s1, double s2) {
    if (s1 <= 0) return 0;
    double q = std::nearbyint(MAPQ_MAX * (1.0 - s2 / s1));
    return int32_t(std::clamp(q, 0.0, double(MAPQ_MAX)));
}

int64_t overlap(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    return std::max<int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
}

bool compete(const Alignment &a, const Alignment &b) {
    int64_t shorter = std::min(a.query_end - a.query_start, b.query_end - b.query_start);
    return shorter > 0 && double(overlap(a.query_start, a.query_end, b.query_start, b.query_end)) >=
                              COMPETE_OVERLAP * double(shorter);
}

bool same_place(const Alignment &a, const Alignment &b) {
    if (a.ref_id != b.ref_id || a.strand != b.strand) return false;
    int64_t shorter = std::min(a.ref_end - a.ref_start, b.ref_end - b.ref_start);
    return shorter > 0 &&
           double(overlap(a.ref_start, a.ref_end, b.ref_start, b.ref_end)) > 0.5 * double(shorter);
}

// Primary first, then supplementary parts, then secondary hits; mapping
// qualities as described in realign.h.
void classify(std::vector<Alignment> &alns, const RealignOptions &opt) {
    if (alns.empty()) return;
    std::vector<Alignment> kept;
    for (Alignment &a : alns) {
        bool duplicate = false;
        for (const Alignment &k : kept) duplicate |= same_place(a, k);
        if (!duplicate) kept.push_back(std::move(a));
    }
    for (Alignment &a : kept) {
        a.s2 = 0;
        for (const Alignment &b : kept)
            if (&a != &b && compete(a, b)) a.s2 = std::max(a.s2, b.s1);
    }
    std::vector<Alignment> parts, secondary;
    for (Alignment &a : kept) {
        const Alignment *rival = nullptr;
        for (const Alignment &p : parts)
            if (compete(a, p) && (!rival || p.s1 > rival->s1)) rival = &p;
        if (!rival) {
            a.kind = parts.empty() ? AlnKind::primary : AlnKind::supplementary;
            a.mapq = mapq_of(a.s1, a.s2);
            parts.push_back(std::move(a));
        } else if (opt.secondaries && a.s1 >= opt.secondary_ratio * rival->s1) {
            a.kind = AlnKind::secondary;
            a.mapq = 0;
            secondary.push_back(std::move(a));
        }
    }
    alns = std::move(parts);
    for (Alignment &a : secondary) alns.push_back(std::move(a));
}

// Parts that are not secondary, by read position.
void parts_along_read(std::vector<Alignment> &alns, std::vector<Alignment *> &parts) {
    parts.clear();
    for (Alignment &a : alns)
        if (a.kind != AlnKind::secondary) parts.push_back(&a);
    std::sort(parts.begin(), parts.end(),
              [](const Alignment *x, const Alignment *y) { return x->query_start < y->query_start; });
}

// A supplementary part is an inversion when its neighbours on the read on
// both sides are parts of the other strand on the same sequence, and its
// reference span lies in the gap they leave between them on the reference
// (give or take INVERSION_SLACK): the read runs along the reference, turns
// round for a stretch and comes back.
void mark_inversions(std::vector<Alignment> &alns) {
    std::vector<Alignment *> parts;
    parts_along_read(alns, parts);
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
        Alignment &mid = *parts[i];
        const Alignment &before = *parts[i - 1], &after = *parts[i + 1];
        if (mid.kind != AlnKind::supplementary) continue;
        bool flanked = before.strand == after.strand && before.strand != mid.strand &&
                       before.ref_id == mid.ref_id && after.ref_id == mid.ref_id;
        if (!flanked) continue;
        int64_t gap_start = std::min(before.ref_end, after.ref_end);
        int64_t gap_end = std::max(before.ref_start, after.ref_start);
        if (mid.ref_start >= gap_start - INVERSION_SLACK && mid.ref_end <= gap_end + INVERSION_SLACK)
            mid.inversion = true;
    }
}

} // namespace

// Reference bases hashed per bio_minimizers call (its output must have room
// for one minimizer per position).
constexpr int64_t REF_CHUNK = int64_t(1) << 16;
// Chunks a worker takes at a time while the list is computed.
constexpr size_t CHUNKS_PER_TURN = 4;

namespace {

struct RefChunk {
    int32_t id;
    int64_t a, b; // k-mer positions within sequence id
};

} // namespace

void compute_ref_minimizers(const RefSeqs &ref, int32_t k, int32_t w, int32_t threads, RefMinimizers &out) {
    out = RefMinimizers{};
    out.k = k;
    out.w = w;
    int64_t total = 0;
    for (int32_t i = 0; i < ref.count; ++i) {
        if (ref.offsets[i] < total) return; // positions would not be in order
        total = ref.offsets[i] + ref.lengths[i];
    }
    if (total > REF_MINIMIZERS_MAX_BASES) return;
    std::vector<RefChunk> chunks;
    std::vector<size_t> chunks_before(size_t(ref.count) + 1, 0); // of each sequence
    for (int32_t i = 0; i < ref.count; ++i) {
        for (int64_t a = 0; a < ref.lengths[i]; a += REF_CHUNK)
            chunks.push_back(RefChunk{i, a, std::min(a + REF_CHUNK, ref.lengths[i])});
        chunks_before[size_t(i) + 1] = chunks.size();
    }
    // Random sequence has about 2 / (w + 1) minimizers per base; a little
    // more room spares the list a reallocation, which would double it.
    out.all.reserve(size_t(double(total) * 2.2 / double(w + 1)) + 1024);
    // Turns of threads x CHUNKS_PER_TURN chunks: each worker computes its
    // chunks into a list of its own, and the lists are appended in order, so
    // the result does not depend on the thread count and only one turn's
    // lists are held beside the whole.
    const size_t workers = size_t(std::max(threads, 1));
    std::vector<std::vector<RefMinimizer>> parts(workers);
    for (size_t start = 0; start < chunks.size(); start += workers * CHUNKS_PER_TURN) {
        const size_t turn_end = std::min(chunks.size(), start + workers * CHUNKS_PER_TURN);
        const size_t n_parts = (turn_end - start + CHUNKS_PER_TURN - 1) / CHUNKS_PER_TURN;
        for_each_on_threads(n_parts, threads, [&] {
            return [&, codes = std::vector<uint8_t>(), scratch = MinimizerArrays()](size_t t) mutable {
                parts[t].clear();
                const size_t first = start + t * CHUNKS_PER_TURN;
                for (size_t c = first; c < std::min(turn_end, first + CHUNKS_PER_TURN); ++c)
                    sequence_minimizers_between(ref, chunks[c].id, chunks[c].a, chunks[c].b, k, w, codes, scratch,
                                                [&](uint64_t hash, int64_t pos, uint8_t strand) {
                                                    parts[t].push_back(RefMinimizer{hash, uint32_t(pos), strand});
                                                });
            };
        });
        for (size_t t = 0; t < n_parts; ++t) out.all.insert(out.all.end(), parts[t].begin(), parts[t].end());
    }
    out.first.resize(size_t(ref.count) + 1);
    for (int32_t i = 0, m = 0; i <= ref.count; ++i) {
        // Sequence i's entries start where the list reaches its offset.
        int64_t at = i < ref.count ? ref.offsets[i] : total;
        while (size_t(m) < out.all.size() && int64_t(out.all[size_t(m)].pos) < at) ++m;
        out.first[size_t(i)] = size_t(m);
    }
    size_t blocks = size_t(total >> REF_BLOCK_BITS) + 1, m = 0;
    out.block_first.resize(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        while (m < out.all.size() && int64_t(out.all[m].pos) < int64_t(b << REF_BLOCK_BITS)) ++m;
        out.block_first[b] = m;
    }
}

// The region's anchors are the reference's own minimizers whose k-mers lie
// in the region: sliced from the list when it holds them, computed for the
// region otherwise (with the margin that makes them the same).
int64_t region_minimizers(const RefSeqs &ref, int32_t ref_id, int64_t rs, int64_t re, int32_t k, int32_t w,
                          std::vector<Minimizer> &out, MinimizerArrays &scratch, std::vector<uint8_t> &codes) {
    out.clear();
    const RefMinimizers *mins = ref.mins;
    const int64_t cstart = ref.offsets[ref_id];
    if (!mins || mins->first.empty() || mins->k != k || mins->w != w) {
        sequence_minimizers_between(ref, ref_id, rs - cstart, re - k + 1 - cstart, k, w, codes, scratch,
                                    [&](uint64_t hash, int64_t pos, uint8_t strand) {
                                        out.push_back(Minimizer{hash, pos, strand});
                                    });
        return int64_t(out.size());
    }
    const std::vector<RefMinimizer> &all = mins->all;
    size_t m = std::max(mins->first[size_t(ref_id)], mins->block_first[size_t(rs >> REF_BLOCK_BITS)]);
    while (m < all.size() && int64_t(all[m].pos) < rs) ++m;
    for (; m < all.size() && int64_t(all[m].pos) <= re - k; ++m)
        out.push_back(Minimizer{all[m].hash, int64_t(all[m].pos), all[m].strand});
    return int64_t(out.size());
}

// The read, in one orientation, with its minimizers grouped by hash,
// computed once per read and strand.
void Realigner::prepare_strand(const uint8_t *read, int32_t qlen, int32_t strand) {
    Scratch &s = *s_;
    ReadStrand &st = s.strands[strand];
    if (st.ready) return;
    oriented_read(read, qlen, strand, st.oread);
    int64_t n = minimizers(st.oread.data(), qlen, opt_.k, opt_.w, s.read_mins);
    group_by_hash(s.read_mins, size_t(n), st, s.groups);
    st.ready = true;
}

// Anchors of the read (in the hit's orientation) in a reference region
// around the hit, and their best chain, into `path`. False when there is no
// chain of two anchors or more.
bool Realigner::chain_hit(const bio_map_hit_t &hit, int32_t qlen, std::vector<Anchor> &path) {
    // The hit's window widened on both sides, so that it holds the read's
    // true span even after large net deletions.
    const int64_t cstart = ref_.offsets[hit.ref_id];
    const int64_t cend = cstart + ref_.lengths[hit.ref_id];
    const int64_t margin = int64_t(qlen) / REGION_MARGIN_DIVISOR + REGION_MARGIN_MIN;
    int64_t rs = std::max(cstart, hit.ref_start - margin);
    int64_t re = std::min(cend, hit.ref_end + margin);
    if (!chain_region(hit, rs, re, path)) return false;
    // The window lies on the chain's median diagonal, so a deletion larger
    // than the margin leaves one end of the read's span outside the region.
    // When the chain runs into an edge of the region with more of the read
    // left beyond it than the region holds, the region is widened by that
    // much (and the margin) and the chain found again: the anchors of that
    // end belong to the chain, and its read interval decides which parts
    // compete.
    const Anchor &first = path.front(), &last = path.back();
    const int64_t wider_rs = std::max(cstart, first.x - first.y - margin);
    const int64_t wider_re = std::min(cend, last.x + (qlen - last.y) + margin);
    if (wider_rs >= rs && wider_re <= re) return true;
    return chain_region(hit, std::min(rs, wider_rs), std::max(re, wider_re), path);
}

// Anchors of the read (in the hit's orientation) in the region [rs, re)
// and their best chain overlapping the hit's window, into `path`. False
// when there is no chain of two anchors or more.
bool Realigner::chain_region(const bio_map_hit_t &hit, int64_t rs, int64_t re, std::vector<Anchor> &path) {
    Scratch &s = *s_;
    const int32_t k = opt_.k;
    const ReadStrand &st = s.strands[hit.strand];
    if (re - rs < k) return false;

    // Equal hashes taken on equal strands (the read is already in the hit's
    // orientation). Region minimizers come by position and each one's read
    // matches by position, so the anchors come out sorted by (x, y).
    region_minimizers(ref_, hit.ref_id, rs, re, k, opt_.w, s.region, s.region_scratch, s.region_codes);
    s.anchors.clear();
    for (const Minimizer &r : s.region) {
        size_t lo, hi;
        find_hash(st, r.hash, lo, hi);
        if (hi - lo > READ_MAX_OCC) continue;
        for (size_t m = lo; m < hi; ++m)
            if (st.mins[m].strand == r.strand) s.anchors.push_back(Anchor{r.pos, st.mins[m].pos});
    }
    if (s.anchors.size() < 2 || s.anchors.size() > size_t(INT32_MAX)) return false;
    size_t na = s.anchors.size();
    s.ax.resize(na);
    s.ay.resize(na);
    s.f.resize(na);
    s.prev.resize(na);
    for (size_t i = 0; i < na; ++i) s.ax[i] = s.anchors[i].x, s.ay[i] = s.anchors[i].y;
    bio_chain_dp(s.ax.data(), s.ay.data(), int32_t(na), k, CHAIN_MAX_DIST, CHAIN_MAX_LOOKBACK, 0.01 * k,
                 s.f.data(), s.prev.data());
    // The best chain that overlaps the hit's own window: the region may also
    // hold another copy of a repeat, which is another hit's business.
    s.chain_start.resize(na);
    size_t best = na;
    for (size_t i = 0; i < na; ++i) {
        int32_t p = s.prev[i];
        s.chain_start[i] = p < 0 ? s.ax[i] : s.chain_start[size_t(p)];
        bool overlaps = s.chain_start[i] < hit.ref_end && s.ax[i] + k > hit.ref_start;
        if (overlaps && (best == na || s.f[i] > s.f[best])) best = i;
    }
    if (best == na) return false;
    path.clear();
    for (int64_t i = int64_t(best); i >= 0; i = s.prev[size_t(i)]) path.push_back(s.anchors[size_t(i)]);
    std::reverse(path.begin(), path.end());
    return path.size() >= 2;
}

// Aligns the read along a chain: cut into pieces at anchors, ends extended
// and clipped; fills the alignment's columns, counts and spans.
void Realigner::align_chain(const std::vector<Anchor> &path, int32_t qlen, Alignment &a) {
    Scratch &s = *s_;
    const uint8_t *oread = s.strands[a.strand].oread.data();
    int64_t cstart = ref_.offsets[a.ref_id];
    int64_t cend = cstart + ref_.lengths[a.ref_id];

    // Cut points.
    s.cuts.clear();
    s.cuts.push_back(path.front());
    for (size_t i = 1; i < path.size(); ++i) {
        const Anchor &an = path[i], &p = path[i - 1], &last = s.cuts.back();
        if (std::abs((an.x - an.y) - (p.x - p.y)) > DIAGONAL_JUMP) {
            if (p.x != last.x) s.cuts.push_back(p);
            s.cuts.push_back(an);
        } else if (an.x - last.x >= PIECE_SPAN || an.y - last.y >= PIECE_SPAN || i + 1 == path.size()) {
            s.cuts.push_back(an);
        }
    }
    const Anchor first = s.cuts.front(), last = s.cuts.back();

    // The reference both ends may reach, and everything between: from lr
    // bases before the first anchor to rr bases after the last one. It is
    // extracted once, and `span` addresses it from its start, span0.
    int64_t lq = std::min<int64_t>(first.y, END_MAX);
    int64_t lr = std::min<int64_t>(first.x - cstart, lq + lq / 16 + 8);
    int64_t rq = std::min<int64_t>(qlen - last.y, END_MAX);
    int64_t rr = std::min<int64_t>(cend - last.x, rq + rq / 16 + 8);
    const int64_t span0 = first.x - lr;
    ref_.packed->extract(span0, last.x + rr - span0, s.span);
    const uint8_t *span = s.span.data();

    // Left end, from the first anchor backwards.
    extend_end(span, int32_t(lr), oread + first.y - lq, int32_t(lq), s.out_a, s.out_b, s.end_cols, s.end_ops);
    int64_t ref0 = first.x - ref_bases(s.end_ops.data(), s.end_ops.size());
    int64_t q0 = first.y - read_bases(s.end_ops.data(), s.end_ops.size());
    s.ops.assign(s.end_ops.rbegin(), s.end_ops.rend());

    // Middle pieces.
    for (size_t c = 0; c + 1 < s.cuts.size(); ++c) {
        const Anchor &p = s.cuts[c], &q = s.cuts[c + 1];
        align_global(span + (p.x - span0), int32_t(q.x - p.x), oread + p.y, int32_t(q.y - p.y), MAP_SCORES,
                     s.out_a, s.out_b, s.ops);
    }

    // Right end, from the last anchor onwards (reversed, far end first).
    s.rev_ref.assign(std::reverse_iterator<const uint8_t *>(span + (last.x + rr - span0)),
                     std::reverse_iterator<const uint8_t *>(span + (last.x - span0)));
    s.rev_read.assign(std::reverse_iterator<const uint8_t *>(oread + last.y + rq),
                      std::reverse_iterator<const uint8_t *>(oread + last.y));
    extend_end(s.rev_ref.data(), int32_t(rr), s.rev_read.data(), int32_t(rq), s.out_a, s.out_b, s.end_cols,
               s.end_ops);
    s.ops.insert(s.ops.end(), s.end_ops.begin(), s.end_ops.end());

    join_split_gaps(s.ops, span + (ref0 - span0), oread + q0, s.runs_in, s.runs_out);
    describe(s.ops, span + (ref0 - span0), oread + q0, a);
    int64_t q1 = q0 + read_bases(s.ops.data(), s.ops.size());
    a.ref_start = ref0 - cstart;
    a.ref_end = a.ref_start + ref_bases(s.ops.data(), s.ops.size());
    a.query_start = int32_t(a.strand == 0 ? q0 : qlen - q1);
    a.query_end = int32_t(a.strand == 0 ? q1 : qlen - q0);
}

namespace {

// The read interval, input orientation, of path[first .. last] of an
// alignment on `strand`.
void path_read_interval(const std::vector<Anchor> &path, size_t first, size_t last, int32_t k, int32_t qlen,
                        int32_t strand, int32_t &start, int32_t &end) {
    int64_t y0 = path[first].y, y1 = path[last].y + k;
    start = int32_t(strand == 0 ? y0 : qlen - y1);
    end = int32_t(strand == 0 ? y1 : qlen - y0);
}

// A candidate alignment along path[first .. last], before it is aligned.
void set_from_path(Alignment &a, const std::vector<Anchor> &path, size_t first, size_t last, int32_t k,
                   int64_t cstart, int32_t qlen) {
    a.ref_start = path[first].x - cstart;
    a.ref_end = path[last].x + k - cstart;
    path_read_interval(path, first, last, k, qlen, a.strand, a.query_start, a.query_end);
    a.n_anchors = int32_t(last - first + 1);
}

// Whether the read stretch [g0, g1) and the read part [o0, o1) overlap by at
// least COMPETE_OVERLAP of the longer: the part lies in the stretch and
// fills most of it.
bool fills_stretch(int64_t g0, int64_t g1, int64_t o0, int64_t o1) {
    int64_t longer = std::max(g1 - g0, o1 - o0);
    return longer > 0 && double(overlap(g0, g1, o0, o1)) >= COMPETE_OVERLAP * double(longer);
}

} // namespace

// A chain can link two anchors across a stretch of the read that matches
// elsewhere: the middle of an inversion, or a piece of another locus of the
// same length as the reference it replaces, keeps both sides on one
// diagonal. Aligning across it would force junk into the middle. So a link
// over at least SPLIT_MIN_GAP read bases is cut when another candidate's
// read part fills that stretch (lies in it and covers most of it) and the
// stretch does not align where the chain puts it (its strict score is
// below SPLIT_MAX_SCORE); each
// side keeps its share of the chain score, by anchors, and becomes a
// candidate of its own. Candidates are then put in order of chain score.
// Score under the strict scores of the best alignment of the stretch
// between two linked anchors, read in the orientation of `strand`.
int64_t Realigner::stretch_score(const Anchor &from, const Anchor &to, int32_t strand) {
    Scratch &s = *s_;
    const int32_t k = opt_.k;
    ref_.packed->extract(from.x + k, to.x - from.x - k, s.span);
    s.end_cols.clear();
    return align_global(s.span.data(), int32_t(to.x - from.x - k), s.strands[strand].oread.data() + from.y + k,
                        int32_t(to.y - from.y - k), CLIP_SCORES, s.out_a, s.out_b, s.end_cols);
}

void Realigner::split_bridging_chains(std::vector<Alignment> &cands, int32_t qlen) {
    Scratch &s = *s_;
    const int32_t k = opt_.k;
    bool split = false;
    const size_t n = cands.size();
    for (size_t c = 0; c < n; ++c) {
        std::vector<Anchor> &path = s.paths[size_t(cands[c].path_index)];
        s.cut_after.clear();
        // Every piece keeps two anchors or more.
        for (size_t i = 2; i + 1 < path.size(); ++i) {
            if (!s.cut_after.empty() && i - 1 < s.cut_after.back() + 2) continue;
            // Both the read and the reference have the stretch: a stretch
            // on one side only is an indel, which the alignment shows.
            if (path[i].y - path[i - 1].y - k < SPLIT_MIN_GAP || path[i].x - path[i - 1].x - k < SPLIT_MIN_GAP)
                continue;
            int32_t g0, g1;
            path_read_interval(path, i - 1, i, k, qlen, cands[c].strand, g0, g1);
            g0 += k, g1 -= k; // the stretch between the two seeds
            bool filled = false;
            for (size_t o = 0; o < n && !filled; ++o)
                filled = o != c && fills_stretch(g0, g1, cands[o].query_start, cands[o].query_end);
            if (filled && stretch_score(path[i - 1], path[i], cands[c].strand) < SPLIT_MAX_SCORE)
                s.cut_after.push_back(i - 1);
        }
        if (s.cut_after.empty()) continue;
        split = true;
        s.cut_after.push_back(path.size() - 1);
        // Room for the new pieces' chains first: growing the list moves the
        // chains, this one included.
        if (s.paths.size() < s.n_paths + s.cut_after.size()) s.paths.resize(s.n_paths + s.cut_after.size());
        std::vector<Anchor> &whole = s.paths[size_t(cands[c].path_index)];
        const double score = cands[c].s1, anchors = double(whole.size());
        const int64_t cstart = ref_.offsets[cands[c].ref_id];
        for (size_t piece = s.cut_after.size(); piece-- > 1;) { // the first piece stays in place
            size_t first = s.cut_after[piece - 1] + 1, last = s.cut_after[piece];
            Alignment a = cands[c];
            a.path_index = int32_t(s.n_paths);
            s.paths[s.n_paths++].assign(whole.begin() + int64_t(first), whole.begin() + int64_t(last) + 1);
            set_from_path(a, whole, first, last, k, cstart, qlen);
            a.s1 = score * double(last - first + 1) / anchors;
            cands.push_back(std::move(a));
        }
        whole.resize(s.cut_after.front() + 1);
        set_from_path(cands[c], whole, 0, whole.size() - 1, k, cstart, qlen);
        cands[c].s1 = score * double(whole.size()) / anchors;
    }
    if (split)
        std::stable_sort(cands.begin(), cands.end(),
                         [](const Alignment &x, const Alignment &y) { return x.s1 > y.s1; });
}

void Realigner::align_read(const uint8_t *read, int32_t qlen, const bio_map_hit_t *hits, int32_t n_hits,
                           std::vector<Alignment> &out) {
    out.clear();
    Scratch &s = *s_;
    s.strands[0].ready = s.strands[1].ready = false;
    s.n_paths = 0;
    // First the chains: which part of the read each hit covers decides
    // whether it is a part, a secondary hit worth aligning, or nothing.
    for (int32_t h = 0; h < n_hits; ++h) {
        const bio_map_hit_t &hit = hits[h];
        prepare_strand(read, qlen, hit.strand);
        if (s.paths.size() <= s.n_paths) s.paths.resize(s.n_paths + 1);
        std::vector<Anchor> &path = s.paths[s.n_paths];
        if (!chain_hit(hit, qlen, path)) continue;
        Alignment a;
        a.ref_id = hit.ref_id;
        a.strand = hit.strand;
        a.read_len = qlen;
        set_from_path(a, path, 0, path.size() - 1, opt_.k, ref_.offsets[hit.ref_id], qlen);
        a.s1 = hit.chain_score;
        a.path_index = int32_t(s.n_paths++);
        out.push_back(std::move(a));
    }
    split_bridging_chains(out, qlen);
    classify(out, opt_);
    for (Alignment &a : out) align_chain(s.paths[size_t(a.path_index)], qlen, a);
    mark_inversions(out);
}

int32_t clip_head(const Alignment &a) {
    return a.strand == 0 ? a.query_start : a.read_len - a.query_end;
}

int32_t clip_tail(const Alignment &a) {
    return a.strand == 0 ? a.read_len - a.query_end : a.query_start;
}

namespace {

void append_number(std::string &out, int64_t v) { out += std::to_string(v); }

char lower_letter(uint8_t code) { return code < 4 ? "acgt"[code] : 'n'; }
char upper_letter(uint8_t code) { return code < 4 ? "ACGT"[code] : 'N'; }

// Walks the columns of `a` with the reference and oriented read bases they
// pair: visit(op, ref code or 0, read code or 0) per column. `ref` starts at
// a.ref_start.
template <class Visit>
void walk_columns(const Alignment &a, const uint8_t *ref, const uint8_t *oread, Visit visit) {
    const uint8_t *r = ref;
    const uint8_t *q = oread + clip_head(a);
    for (const CigarRun &run : a.cigar)
        for (int32_t c = 0; c < run.len; ++c) {
            if (run.op == 'M') visit('M', *r++, *q++);
            else if (run.op == 'I') visit('I', uint8_t(0), *q++);
            else visit('D', *r++, uint8_t(0));
        }
}

} // namespace

void append_cigar(std::string &out, const std::vector<CigarRun> &cigar) {
    for (const CigarRun &r : cigar) {
        append_number(out, r.len);
        out.push_back(r.op);
    }
}

void append_clipped_cigar(std::string &out, const Alignment &a) {
    int32_t head = clip_head(a), tail = clip_tail(a);
    if (head > 0) append_number(out, head), out.push_back('S');
    append_cigar(out, a.cigar);
    if (tail > 0) append_number(out, tail), out.push_back('S');
}

void append_cs(std::string &out, const Alignment &a, const uint8_t *ref, const uint8_t *oread) {
    int64_t same = 0;
    char open = 0; // the gap kind whose bases are being listed
    walk_columns(a, ref, oread, [&](char op, uint8_t r, uint8_t q) {
        if (op == 'M' && is_match(r, q)) {
            ++same;
            open = 0;
            return;
        }
        if (same) out.push_back(':'), append_number(out, same), same = 0;
        if (op == 'M') {
            out.push_back('*'), out.push_back(lower_letter(r)), out.push_back(lower_letter(q));
            open = 0;
        } else {
            if (open != op) out.push_back(op == 'I' ? '+' : '-');
            out.push_back(lower_letter(op == 'I' ? q : r));
            open = op;
        }
    });
    if (same) out.push_back(':'), append_number(out, same);
}

void append_md(std::string &out, const Alignment &a, const uint8_t *ref, const uint8_t *oread) {
    int64_t same = 0;
    bool in_del = false;
    walk_columns(a, ref, oread, [&](char op, uint8_t r, uint8_t q) {
        if (op == 'I') { // an insertion does not end a match run, but a deletion after it starts anew
            in_del = false;
            return;
        }
        if (op == 'M') {
            in_del = false;
            if (is_match(r, q)) {
                ++same;
            } else {
                append_number(out, same), same = 0;
                out.push_back(upper_letter(r));
            }
            return;
        }
        if (!in_del) append_number(out, same), same = 0, out.push_back('^');
        out.push_back(upper_letter(r));
        in_del = true;
    });
    append_number(out, same);
}

void append_sa(std::string &out, const std::vector<Alignment> &parts, size_t self,
               const std::vector<std::string> &ref_names) {
    for (size_t i = 0; i < parts.size(); ++i) {
        const Alignment &p = parts[i];
        if (i == self || p.kind == AlnKind::secondary) continue;
        out.append(ref_names[size_t(p.ref_id)]);
        out.push_back(',');
        append_number(out, p.ref_start + 1);
        out.push_back(',');
        out.push_back(p.strand ? '-' : '+');
        out.push_back(',');
        append_clipped_cigar(out, p);
        out.push_back(',');
        append_number(out, p.mapq);
        out.push_back(',');
        append_number(out, p.nm);
        out.push_back(';');
    }
}

} // namespace bioeng
