// Sound alignments for the library's mapping hits.
//
// The library aligns a read against a reference window exactly as long as
// the read, laid on the chain's median diagonal within a fixed band. That is
// its contract, and it is right about where a read maps, but the alignment
// itself drifts out of the band as soon as the read carries more insertions
// than deletions (or a large indel), and a read end that does not match is
// forced into the alignment. This stage re-aligns each hit from the
// library's own building blocks:
//
//  1. anchors: equal minimizer hashes (bio_minimizers, same k and w as the
//     index) between the read, in the hit's orientation, and the
//     reference's own minimizers in a region around the hit's window
//     (widened when the chain shows the read's span reaching beyond it);
//  2. the best colinear chain of those anchors (bio_chain_dp), split where
//     it links across a stretch of the read that another hit's chain fills
//     and that does not align where the chain puts it (an inversion's
//     middle, say; see split_bridging_chains in realign.cpp);
//  3. the part of the read the chain covers is aligned piecewise: cut at
//     chain anchors about every PIECE_SPAN reference bases (and on both
//     sides of any jump of the chain's diagonal), each piece aligned
//     globally with nw_banded_diag_simd (nw_banded_diag when its 16-bit
//     lanes could overflow), band = the piece's length difference plus at
//     least PIECE_BAND_SLACK (31), widened to fill the kernel's last block
//     of 16 cells; split gaps the linear score cannot tell from one gap are
//     then joined (join_split_gaps);
//  4. the read ends beyond the first and last anchor are aligned to the
//     reference next to them, and each is then clipped by the drop-off rule
//     (extend_end in realign.cpp): the end is aligned with strict scores
//     (match +2, mismatch -4, gap column -4), walked from the anchor
//     outwards, and cut where that running score peaks (the walk stops once
//     it has fallen 100 below the peak); a read end that does not match
//     thus becomes a soft clip instead of being forced. At most END_MAX
//     (2000) read bases beyond an anchor are considered.
//
// Then the hits are sorted into one primary, supplementary parts (hits that
// cover another part of the read) and secondary hits (hits competing for a
// part already covered, kept only when their chain score is at least
// secondary_ratio of the part's), and each primary or supplementary part
// gets its own mapping quality:
//
//     mapq = round(60 x (1 - s2 / s1)), clamped to 0..60,
//
// s1 being the part's chain score and s2 the best chain score among the
// other hits whose read interval overlaps the part's by at least half of the
// shorter of the two (0 when there is none, giving 60); the pieces of a
// split chain share its score by anchors. Secondary hits get mapq 0. A
// supplementary part flanked on the read by two parts of the other strand,
// on the same sequence, and lying in the reference gap they leave, is an
// inversion (tp:A:I).
//
// Memory: apart from arrays linear in the read and its region (minimizers,
// anchors, columns), the kernels' working memory is bounded whatever the
// read length: a piece spans at most PIECE_SPAN plus one chain link
// (CHAIN_MAX_DIST 5000) on either sequence, the shorter sequence goes first,
// so a call needs at most about (min + 1) x (2 (|diff| + 47) + 1) bytes of
// traceback, about 15 MB at worst and about 32 kB for a typical
// 500-base piece; an end at most 2000 x 2 (2000/16 + 55) bytes.
#pragma once

#include "engine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bioeng {

class PackedReference;
struct RefMinimizers;

// The reference as the index holds it: every sequence's codes back to back
// (`packed`, from which each stage extracts the stretch it works on), with
// where each one starts and how long it is; optionally its minimizers,
// computed once (see RefMinimizers), which spares computing them again for
// every hit's region.
struct RefSeqs {
    const PackedReference *packed = nullptr;
    const int64_t *offsets = nullptr;
    const int64_t *lengths = nullptr;
    int32_t count = 0;
    const RefMinimizers *mins = nullptr;
};

// Output arrays of bio_minimizers.
struct MinimizerArrays {
    std::vector<uint64_t> hash;
    std::vector<int64_t> pos;
    std::vector<uint8_t> strand;
};

// One minimizer of the reference list: one record, so that a region's
// first entry costs one cache miss rather than one per array.
struct RefMinimizer {
    uint64_t hash;
    uint32_t pos; // concatenated coordinates (the list's reference is short enough)
    uint8_t strand;
};

// The minimizers of every reference sequence (bio_minimizers over each one
// whole), in position order, positions in concatenated coordinates: a
// hit's region takes its anchors from them without hashing again. Costs
// about 16 bytes per minimizer, about 3 bytes per reference base at w = 10.
struct RefMinimizers {
    int32_t k = 0, w = 0;
    std::vector<RefMinimizer> all;
    std::vector<size_t> first; // sequence i's entries are [first[i], first[i + 1])
    // The first entry at or after position b x 2^REF_BLOCK_BITS, for every b
    // (a few entries per block): a region's first entry is then near; a binary
    // search over the whole list would miss the cache at nearly every step.
    std::vector<size_t> block_first;
};
constexpr int REF_BLOCK_BITS = 7;

// The reference's minimizers, or nothing (an empty `first`) when the
// reference is longer than REF_MINIMIZERS_MAX_BASES, whose minimizers would
// take too much memory, or its sequences are not laid out in order;
// regions are then computed from scratch. Throws
// std::bad_alloc.
constexpr int64_t REF_MINIMIZERS_MAX_BASES = int64_t(64) << 20;
static_assert(REF_MINIMIZERS_MAX_BASES <= int64_t(UINT32_MAX));
// Computed on up to `threads` threads; the list is the same for any count.
void compute_ref_minimizers(const RefSeqs &ref, int32_t k, int32_t w, int32_t threads, RefMinimizers &out);

struct Minimizer {
    uint64_t hash;
    int64_t pos;
    uint8_t strand;
};

// The minimizers of reference sequence ref_id (as bio_minimizers gives them
// for the whole sequence) whose k-mers lie in its region [rs, re),
// concatenated coordinates, into `out`: from ref.mins when it holds them
// for this k and w, else computed for the region and the w - 1 positions
// around it that decide them. `scratch` and `codes` (reference codes) are
// working memory. Returns the count.
int64_t region_minimizers(const RefSeqs &ref, int32_t ref_id, int64_t rs, int64_t re, int32_t k, int32_t w,
                          std::vector<Minimizer> &out, MinimizerArrays &scratch, std::vector<uint8_t> &codes);

struct RealignOptions {
    int32_t k = 15;               // must be the index's k and w, so that the
    int32_t w = 10;               // re-derived anchors include the library's
    double secondary_ratio = 0.8; // least chain score of a secondary, relative
    bool secondaries = true;      // to the part it competes for
};

enum class AlnKind : uint8_t { primary, secondary, supplementary };

// One run of a CIGAR; op is 'M', 'I' or 'D'.
struct CigarRun {
    int32_t len = 0;
    char op = 'M';
};

// One sound alignment. The CIGAR covers exactly [ref_start, ref_end) and
// [query_start, query_end); clips are not part of it. For strand 1 the CIGAR
// describes the reverse complement of the read, left to right along the
// reference, and the query interval is given in the read's input
// orientation.
struct Alignment {
    int32_t ref_id = 0;
    int64_t ref_start = 0; // within the reference sequence ref_id
    int64_t ref_end = 0;
    int32_t query_start = 0;
    int32_t query_end = 0;
    int32_t strand = 0;
    std::vector<CigarRun> cigar;
    int32_t matches = 0;    // columns of two equal bases, neither ambiguous
    int32_t mismatches = 0; // other M columns (ambiguous ones included)
    int32_t ins = 0;        // I columns
    int32_t del = 0;        // D columns
    int32_t gap_runs = 0;   // I and D runs
    int32_t ambiguous = 0;  // M columns with an ambiguous base on either side
    int32_t block_len = 0;  // all columns
    int32_t nm = 0;         // mismatches + ins + del
    int32_t score = 0;      // AS: the mapper's scores (2, -1, -2) over all columns
    int32_t max_segment = 0; // ms: best score of a contiguous run of columns
    int32_t n_anchors = 0;  // anchors on the re-derived chain
    double s1 = 0;          // chain score of the library hit
    double s2 = 0;          // best competing chain score for the same read part
    double divergence = 0;  // (mismatches + gap runs) / (M columns + gap runs)
    int32_t mapq = 0;
    AlnKind kind = AlnKind::primary;
    bool inversion = false; // a supplementary part inverted between two parts (tp:A:I)
    int32_t path_index = 0; // its chain, in the re-alignment's scratch
    int32_t read_len = 0;
};

struct Anchor {
    int64_t x; // reference position, concatenated coordinates
    int64_t y; // position on the read in the hit's orientation
};

// Per-thread working memory of the re-alignment, reused from read to read.
class Realigner {
public:
    Realigner(const RefSeqs &ref, const RealignOptions &opt);
    ~Realigner();
    Realigner(const Realigner &) = delete;
    Realigner &operator=(const Realigner &) = delete;

    // Re-aligns every hit of one read (hits as bio_map_read returns them,
    // best chain first) and classifies them. `out` is cleared first; it
    // holds the primary first, then supplementary parts, then secondary
    // hits. An empty result means the read is unmapped. Throws
    // std::bad_alloc when memory runs out.
    void align_read(const uint8_t *read, int32_t qlen, const bio_map_hit_t *hits,
                    int32_t n_hits, std::vector<Alignment> &out);

private:
    struct Scratch;
    void prepare_strand(const uint8_t *read, int32_t qlen, int32_t strand);
    bool chain_hit(const bio_map_hit_t &hit, int32_t qlen, std::vector<Anchor> &path);
    bool chain_region(const bio_map_hit_t &hit, int64_t rs, int64_t re, std::vector<Anchor> &path);
    int64_t stretch_score(const Anchor &from, const Anchor &to, int32_t strand);
    void split_bridging_chains(std::vector<Alignment> &cands, int32_t qlen);
    void align_chain(const std::vector<Anchor> &path, int32_t qlen, Alignment &a);

    const RefSeqs &ref_;
    RealignOptions opt_;
    std::unique_ptr<Scratch> s_;
};

// The read as an alignment of strand `strand` sees it: a copy, or its
// reverse complement; every code above 3 becomes 4 (ambiguous).
void oriented_read(const uint8_t *read, int32_t qlen, int32_t strand, std::vector<uint8_t> &out);

// Bases the alignment leaves out before and after it, in CIGAR orientation.
int32_t clip_head(const Alignment &a);
int32_t clip_tail(const Alignment &a);

// CIGAR text without clips ("cg"), and with soft clips for SAM.
void append_cigar(std::string &out, const std::vector<CigarRun> &cigar);
void append_clipped_cigar(std::string &out, const Alignment &a);

// Tag values (without the "cs:Z:" or "MD:Z:" prefix) that need the
// sequences. `ref` is the reference the alignment covers, from its first
// base (position a.ref_start of sequence ref_id) to a.ref_end; `oread` the
// whole read from oriented_read for the alignment's strand.
//   cs: short form, ":n" identical bases, "*xy" reference x read y,
//       "+acg" inserted read bases, "-acg" deleted reference bases.
//   MD: as samtools calmd writes it.
void append_cs(std::string &out, const Alignment &a, const uint8_t *ref, const uint8_t *oread);
void append_md(std::string &out, const Alignment &a, const uint8_t *ref, const uint8_t *oread);

// SA:Z value for parts[self]: every other primary or supplementary part as
// "rname,pos,strand,CIGAR,mapq,NM;" (1-based pos, soft-clipped CIGAR).
void append_sa(std::string &out, const std::vector<Alignment> &parts, size_t self,
               const std::vector<std::string> &ref_names);

} // namespace bioeng
