// Text output of mapping results: PAF lines, SAM header and records.
// Pure functions of their arguments, so that they are tested on their own.
#pragma once

#include "engine.h"
#include "packed_reference.h"
#include "realign.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bioeng {

// The reference as the index sees it: the sequences' codes back to back,
// with where each one starts and how long it is. The codes are held one byte
// per base (`codes`) only until the index is built from them; pack_reference
// (reference.h) then moves them into `packed`, a quarter of the size, which
// is what re-alignment and the cs and MD tags read.
struct RefTable {
    std::vector<std::string> names;
    std::vector<int64_t> offsets;
    std::vector<int64_t> lengths;
    std::vector<uint8_t> codes;
    PackedReference packed;

    int32_t size() const { return int32_t(names.size()); }
};

// One read as the formatters need it; qual is null for FASTA input.
struct ReadView {
    std::string_view name;
    const uint8_t *codes = nullptr;
    int32_t len = 0;
    const uint8_t *qual = nullptr; // Phred values, len of them
};

// A sequence name as PAF and SAM expect it: the header up to the first
// white space; "*" when that is empty.
std::string_view record_name(const char *header);

// Bases not covered by the alignment, before and after it, in the
// orientation the CIGAR describes (reverse complement for strand 1).
struct SoftClips {
    int32_t head = 0;
    int32_t tail = 0;
};
SoftClips soft_clips(const bio_map_hit_t &hit, int32_t qlen);

// Sums of the run lengths of a CIGAR text by operation; ok is false when the
// text is not a sequence of <number><M|I|D> runs.
struct CigarCounts {
    int64_t match = 0; // M
    int64_t ins = 0;   // I
    int64_t del = 0;   // D
    bool ok = false;
};
CigarCounts count_cigar(std::string_view cigar);

// Score the mapper's settings give an alignment: match 2, mismatch -1, gap
// column -2.
int64_t alignment_score(const bio_map_hit_t &hit, const CigarCounts &ops);

void append_int(std::string &out, int64_t v);

// One PAF line (12 columns, tp and cg tags), ending with a line feed.
void append_paf(std::string &out, const ReadView &read, const bio_map_hit_t &hit,
                const RefTable &refs, std::string_view cigar, bool primary);

// A read group as typed on a command line: one SAM header line starting
// with "@RG", its fields separated by tabs or by the two characters "\t"
// ("\\" stands for a backslash), with an ID field.
struct ReadGroup {
    std::string line; // the header line, with real tabs, without a line end
    std::string id;   // the value of its ID field
};

// Parses `text` into `rg`; returns what is wrong with it, or an empty string.
std::string parse_read_group(std::string_view text, ReadGroup &rg);

// SAM header: @HD, one @SQ per reference sequence, the read group line when
// there is one, @PG with the command line.
std::string sam_header(const RefTable &refs, const std::string &command_line,
                       const std::string &read_group_line = std::string());

// Adds "\t" + tag at the end of every line of out[from...], a block of whole
// lines (the records of one batch).
void append_tag_to_lines(std::string &out, size_t from, std::string_view tag);

// One SAM record for a hit: flag 16 on the reverse strand and 256 for a
// secondary hit, 1-based position within the reference sequence, CIGAR with
// soft clips covering the whole read, SEQ and QUAL in reference orientation,
// NM and AS tags.
void append_sam_hit(std::string &out, const ReadView &read, const bio_map_hit_t &hit,
                    const RefTable &refs, std::string_view cigar, bool secondary);

// Records of re-aligned hits (realign.h). `oread` is the read as
// oriented_read gives it for the alignment's strand; `ref_span` is scratch
// for the reference the alignment covers, which the cs and MD tags read.
// PAF: 12 columns, then tp:A:P (primary and supplementary parts) or S
// (secondary), NM, ms, AS, nn, cm, s1, s2, de, cg, and cs when asked for.
void append_paf_alignment(std::string &out, const ReadView &read, const Alignment &a,
                          const RefTable &refs, const uint8_t *oread, bool cs,
                          std::vector<uint8_t> &ref_span);
// SAM: flag 16 for the reverse strand, 256 secondary, 2048 supplementary;
// soft clips on every record (SEQ always whole); NM, ms, AS, nn, tp, cm, s1,
// s2, de, SA on primary and supplementary parts that have others, MD when
// asked for.
void append_sam_alignment(std::string &out, const ReadView &read, const std::vector<Alignment> &alns,
                          size_t i, const RefTable &refs, const uint8_t *oread, bool md,
                          std::vector<uint8_t> &ref_span);

// One SAM record for a read without hits (flag 4).
void append_sam_unmapped(std::string &out, const ReadView &read);

// Letters of residue codes ("ACGT", N for anything else), optionally reverse
// complemented; Phred values as SAM text, optionally reversed.
void append_bases(std::string &out, const uint8_t *codes, int32_t len, bool reverse_complement);
void append_quals(std::string &out, const uint8_t *qual, int32_t len, bool reverse);

} // namespace bioeng
