#include "format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace bioeng {

namespace {

constexpr char BASE_LETTER[4] = {'A', 'C', 'G', 'T'};
constexpr int32_t PHRED_OFFSET = 33;
constexpr int32_t MAP_MATCH = 2;     // the mapper's fixed scores
constexpr int32_t MAP_MISMATCH = -1;
constexpr int32_t MAP_GAP = -2;

char base_letter(uint8_t code) { return code < 4 ? BASE_LETTER[code] : 'N'; }
char complement_letter(uint8_t code) { return code < 4 ? BASE_LETTER[3 - code] : 'N'; }

int64_t position_in_reference(const bio_map_hit_t &hit, const RefTable &refs) {
    return hit.ref_start - refs.offsets[size_t(hit.ref_id)];
}

void tab(std::string &out) { out.push_back('\t'); }

// SAM's SEQ and QUAL columns; "*" for QUAL when the read came from FASTA.
// A read without bases has "*" in both.
void append_seq_and_qual(std::string &out, const ReadView &read, bool reverse) {
    if (read.len == 0) {
        out.append("*\t*");
        return;
    }
    append_bases(out, read.codes, read.len, reverse);
    tab(out);
    if (read.qual)
        append_quals(out, read.qual, read.len, reverse);
    else
        out.push_back('*');
}

// SAM's QNAME, FLAG, RNAME, POS (1-based) and MAPQ columns.
void append_sam_head(std::string &out, const ReadView &read, int flag, const std::string &rname,
                     int64_t pos, int32_t mapq) {
    out.append(read.name);
    tab(out);
    append_int(out, flag);
    tab(out);
    out.append(rname);
    for (int64_t v : {pos, int64_t(mapq)}) {
        tab(out);
        append_int(out, v);
    }
}

// PAF's 12 standard columns, without a line end.
struct PafColumns {
    int64_t query_start, query_end;
    int32_t strand, ref_id;
    int64_t ref_start, ref_end; // within the reference sequence
    int64_t matches, block_len;
    int32_t mapq;
};

void append_paf_columns(std::string &out, const ReadView &read, const RefTable &refs, const PafColumns &c) {
    size_t r = size_t(c.ref_id);
    out.append(read.name);
    for (int64_t v : {int64_t(read.len), c.query_start, c.query_end}) {
        tab(out);
        append_int(out, v);
    }
    tab(out);
    out.push_back(c.strand ? '-' : '+');
    tab(out);
    out.append(refs.names[r]);
    for (int64_t v : {refs.lengths[r], c.ref_start, c.ref_end, c.matches, c.block_len, int64_t(c.mapq)}) {
        tab(out);
        append_int(out, v);
    }
}

} // namespace

void append_int(std::string &out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string_view record_name(const char *header) {
    size_t n = 0;
    while (header[n] && header[n] != ' ' && header[n] != '\t') ++n;
    return n ? std::string_view(header, n) : std::string_view("*");
}

SoftClips soft_clips(const bio_map_hit_t &hit, int32_t qlen) {
    SoftClips c;
    if (hit.strand == 0) {
        c.head = hit.query_start;
        c.tail = qlen - hit.query_end;
    } else {
        c.head = qlen - hit.query_end;
        c.tail = hit.query_start;
    }
    return c;
}

CigarCounts count_cigar(std::string_view cigar) {
    CigarCounts c;
    if (cigar.empty()) return c;
    int64_t run = 0;
    bool have_digits = false;
    for (char ch : cigar) {
        if (ch >= '0' && ch <= '9') {
            run = run * 10 + (ch - '0');
            have_digits = true;
            if (run > (int64_t(1) << 40)) return CigarCounts{};
            continue;
        }
        if (!have_digits) return CigarCounts{};
        if (ch == 'M')
            c.match += run;
        else if (ch == 'I')
            c.ins += run;
        else if (ch == 'D')
            c.del += run;
        else
            return CigarCounts{};
        run = 0;
        have_digits = false;
    }
    c.ok = !have_digits;
    return c;
}

int64_t alignment_score(const bio_map_hit_t &hit, const CigarCounts &ops) {
    int64_t gaps = ops.ins + ops.del;
    int64_t mismatches = int64_t(hit.aln_len) - hit.n_match - gaps;
    return MAP_MATCH * int64_t(hit.n_match) + MAP_MISMATCH * mismatches + MAP_GAP * gaps;
}

void append_bases(std::string &out, const uint8_t *codes, int32_t len, bool reverse_complement) {
    size_t at = out.size();
    out.resize(at + size_t(len));
    char *dst = out.data() + at;
    if (reverse_complement)
        for (int32_t i = 0; i < len; ++i) dst[i] = complement_letter(codes[len - 1 - i]);
    else
        for (int32_t i = 0; i < len; ++i) dst[i] = base_letter(codes[i]);
}

void append_quals(std::string &out, const uint8_t *qual, int32_t len, bool reverse) {
    size_t at = out.size();
    out.resize(at + size_t(len));
    char *dst = out.data() + at;
    // SAM quality characters stop at '~' (Phred 93).
    auto letter = [](uint8_t q) { return char(PHRED_OFFSET + (q > 93 ? 93 : q)); };
    if (reverse)
        for (int32_t i = 0; i < len; ++i) dst[i] = letter(qual[len - 1 - i]);
    else
        for (int32_t i = 0; i < len; ++i) dst[i] = letter(qual[i]);
}

void append_paf(std::string &out, const ReadView &read, const bio_map_hit_t &hit,
                const RefTable &refs, std::string_view cigar, bool primary) {
    int64_t start = position_in_reference(hit, refs);
    PafColumns c{hit.query_start, hit.query_end, hit.strand, hit.ref_id, start,
                 start + (hit.ref_end - hit.ref_start), hit.n_match, hit.aln_len, hit.mapq};
    append_paf_columns(out, read, refs, c);
    out.append(primary ? "\ttp:A:P" : "\ttp:A:S");
    if (!cigar.empty()) {
        out.append("\tcg:Z:");
        out.append(cigar);
    }
    out.push_back('\n');
}

namespace {

// Turns the escapes a shell user types ("\t", "\\") into the characters.
std::string unescape_tabs(std::string_view text) {
    std::string s;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 't' || text[i + 1] == '\\')) {
            s.push_back(text[++i] == 't' ? '\t' : '\\');
        } else {
            s.push_back(text[i]);
        }
    }
    return s;
}

bool is_tag_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

std::string parse_read_group(std::string_view text, ReadGroup &rg) {
    rg = ReadGroup{};
    std::string line = unescape_tabs(text);
    if (line.rfind("@RG\t", 0) != 0) return "the read group must start with @RG and a tab";
    if (line.find_first_of("\n\r") != std::string::npos)
        return "the read group must be a single line";
    std::string id;
    size_t at = 4;
    while (at <= line.size()) {
        size_t end = std::min(line.find('\t', at), line.size());
        std::string_view field(line.data() + at, end - at);
        if (field.size() < 4 || !is_tag_char(field[0]) || !is_tag_char(field[1]) || field[2] != ':')
            return "read group field '" + std::string(field) + "' is not TAG:VALUE";
        if (field.substr(0, 3) == "ID:") id = field.substr(3);
        at = end + 1;
    }
    if (id.empty()) return "the read group has no ID field";
    rg.line = std::move(line);
    rg.id = std::move(id);
    return std::string();
}

void append_tag_to_lines(std::string &out, size_t from, std::string_view tag) {
    if (from >= out.size()) return;
    std::string block;
    block.reserve((out.size() - from) * 11 / 10 + tag.size() + 1);
    size_t at = from;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        block.append(out, at, end - at);
        block.push_back('\t');
        block.append(tag);
        block.push_back('\n');
        at = end + 1;
    }
    out.resize(from);
    out.append(block);
}

std::string sam_header(const RefTable &refs, const std::string &command_line,
                       const std::string &read_group_line) {
    std::string h = "@HD\tVN:1.6\tSO:unsorted\n";
    for (int32_t i = 0; i < refs.size(); ++i) {
        h.append("@SQ\tSN:");
        h.append(refs.names[size_t(i)]);
        h.append("\tLN:");
        append_int(h, refs.lengths[size_t(i)]);
        h.push_back('\n');
    }
    if (!read_group_line.empty()) {
        h.append(read_group_line);
        h.push_back('\n');
    }
    h.append("@PG\tID:bioeng\tPN:bioeng\tVN:" BIOENG_VERSION "\tCL:");
    for (char c : command_line) h.push_back(c == '\t' || c == '\n' ? ' ' : c);
    h.push_back('\n');
    return h;
}

void append_sam_hit(std::string &out, const ReadView &read, const bio_map_hit_t &hit,
                    const RefTable &refs, std::string_view cigar, bool secondary) {
    bool reverse = hit.strand != 0;
    int flag = (reverse ? 16 : 0) | (secondary ? 256 : 0);
    CigarCounts ops = count_cigar(cigar);
    SoftClips clip = soft_clips(hit, read.len);
    append_sam_head(out, read, flag, refs.names[size_t(hit.ref_id)],
                    position_in_reference(hit, refs) + 1, hit.mapq);
    tab(out);
    if (ops.ok) {
        if (clip.head > 0) {
            append_int(out, clip.head);
            out.push_back('S');
        }
        out.append(cigar);
        if (clip.tail > 0) {
            append_int(out, clip.tail);
            out.push_back('S');
        }
    } else {
        out.push_back('*');
    }
    out.append("\t*\t0\t0\t");
    append_seq_and_qual(out, read, reverse);
    out.append("\tNM:i:");
    append_int(out, int64_t(hit.aln_len) - hit.n_match);
    if (ops.ok) {
        out.append("\tAS:i:");
        append_int(out, alignment_score(hit, ops));
    }
    out.push_back('\n');
}

void append_sam_unmapped(std::string &out, const ReadView &read) {
    out.append(read.name);
    out.append("\t4\t*\t0\t0\t*\t*\t0\t0\t");
    append_seq_and_qual(out, read, false);
    out.push_back('\n');
}

namespace {

// The reference codes alignment `a` covers, [ref_start, ref_end) of its
// sequence, into `span`.
const uint8_t *aligned_reference(const RefTable &refs, const Alignment &a, std::vector<uint8_t> &span) {
    refs.packed.extract(refs.offsets[size_t(a.ref_id)] + a.ref_start, a.ref_end - a.ref_start, span);
    return span.data();
}

char type_letter(const Alignment &a) { return a.kind == AlnKind::secondary ? 'S' : a.inversion ? 'I' : 'P'; }

// The tags PAF and SAM share, in this order: tp, NM, ms, AS, nn, cm, s1,
// s2, de.
void append_alignment_tags(std::string &out, const Alignment &a) {
    out.append("\ttp:A:");
    out.push_back(type_letter(a));
    out.append("\tNM:i:");
    append_int(out, a.nm);
    out.append("\tms:i:");
    append_int(out, a.max_segment);
    out.append("\tAS:i:");
    append_int(out, a.score);
    out.append("\tnn:i:");
    append_int(out, a.ambiguous);
    out.append("\tcm:i:");
    append_int(out, a.n_anchors);
    out.append("\ts1:i:");
    append_int(out, int64_t(std::lround(a.s1)));
    out.append("\ts2:i:");
    append_int(out, int64_t(std::lround(a.s2)));
    char de[32];
    std::snprintf(de, sizeof de, "\tde:f:%.4f", a.divergence);
    out.append(de);
}

} // namespace

void append_paf_alignment(std::string &out, const ReadView &read, const Alignment &a,
                          const RefTable &refs, const uint8_t *oread, bool cs,
                          std::vector<uint8_t> &ref_span) {
    PafColumns c{a.query_start, a.query_end, a.strand, a.ref_id, a.ref_start, a.ref_end,
                 a.matches, a.block_len, a.mapq};
    append_paf_columns(out, read, refs, c);
    append_alignment_tags(out, a);
    out.append("\tcg:Z:");
    append_cigar(out, a.cigar);
    if (cs) {
        out.append("\tcs:Z:");
        append_cs(out, a, aligned_reference(refs, a, ref_span), oread);
    }
    out.push_back('\n');
}

void append_sam_alignment(std::string &out, const ReadView &read, const std::vector<Alignment> &alns,
                          size_t i, const RefTable &refs, const uint8_t *oread, bool md,
                          std::vector<uint8_t> &ref_span) {
    const Alignment &a = alns[i];
    bool reverse = a.strand != 0;
    int flag = (reverse ? 16 : 0) | (a.kind == AlnKind::secondary ? 256 : 0) |
               (a.kind == AlnKind::supplementary ? 2048 : 0);
    append_sam_head(out, read, flag, refs.names[size_t(a.ref_id)], a.ref_start + 1, a.mapq);
    tab(out);
    append_clipped_cigar(out, a);
    out.append("\t*\t0\t0\t");
    append_seq_and_qual(out, read, reverse);
    append_alignment_tags(out, a);
    size_t parts = 0;
    for (const Alignment &p : alns) parts += p.kind != AlnKind::secondary;
    if (a.kind != AlnKind::secondary && parts > 1) {
        out.append("\tSA:Z:");
        append_sa(out, alns, i, refs.names);
    }
    if (md) {
        out.append("\tMD:Z:");
        append_md(out, a, aligned_reference(refs, a, ref_span), oread);
    }
    out.push_back('\n');
}

} // namespace bioeng
