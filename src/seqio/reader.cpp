// Streaming FASTA/FASTQ reader: one record per call through a 64 KiB buffer.
//
// Lines are handled in pieces: a piece is the part of the current line that
// lies in the buffer, found with one byte search and copied at once. Bytes
// are consumed as soon as they have been looked at, so a refill never has
// more than one byte to carry over (a carriage return whose meaning depends
// on the byte after it) and stretches of any length can be skipped.

#include "seqio/reader.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/buffer.h"
#include "core/export.h"
#include "core/memory.h"

namespace engine {
namespace {

constexpr std::uint8_t LF = '\n';
constexpr std::uint8_t CR = '\r';
constexpr std::uint8_t GZIP_MAGIC_0 = 0x1f;
constexpr std::uint8_t GZIP_MAGIC_1 = 0x8b;

// The part of the current line that lies in the buffer.
struct LinePiece {
    const std::uint8_t *data;
    std::int32_t len;       // bytes of line content, line end excluded
    std::int32_t next_pos;  // in_pos once the piece is consumed whole
    bool line_ends;         // nothing of this line follows the piece
};

// The next piece of the current line, refilling first when every buffered
// byte has been consumed. Consumes nothing itself.
//
// A carriage return belongs to the line unless a line feed follows it or it
// is the last byte of the input. When it is the last buffered byte, what
// follows is not known yet: it is left unconsumed so that the refill moves
// it in front of the next bytes and the question is settled there, wherever
// the refills fall.
LinePiece scan_piece(bio_parser_t *r) {
    for (;;) {
        if (r->in_pos == r->in_len) {
            _refill_buf(r);
            if (r->in_pos == r->in_len) return {r->in_buf + r->in_pos, 0, r->in_pos, true};
        }
        const std::uint8_t *begin = r->in_buf + r->in_pos;
        const std::int32_t avail = r->in_len - r->in_pos;
        const auto *lf = static_cast<const std::uint8_t *>(std::memchr(begin, LF, avail));
        if (lf) {
            const auto end_pos = static_cast<std::int32_t>(lf - r->in_buf);
            const std::int32_t len = end_pos - r->in_pos - (lf > begin && lf[-1] == CR);
            return {begin, len, end_pos + 1, true};
        }
        if (begin[avail - 1] != CR) return {begin, avail, r->in_len, r->at_eof != 0};
        if (r->at_eof) return {begin, avail - 1, r->in_len, true};
        if (avail > 1) return {begin, avail - 1, r->in_len - 1, false};
        _refill_buf(r);  // only that carriage return is left: read what follows it
    }
}

// True when a byte is available at in_pos (refilling if needed).
bool has_byte(bio_parser_t *r) {
    if (r->in_pos == r->in_len) _refill_buf(r);
    return r->in_pos < r->in_len;
}

// Moves in_pos to the next `marker` byte. Bytes searched are consumed, so
// junk of any length is skipped; false at the end of the input.
bool seek_marker(bio_parser_t *r, std::uint8_t marker) {
    while (has_byte(r)) {
        const std::uint8_t *begin = r->in_buf + r->in_pos;
        const void *hit = std::memchr(begin, marker, r->in_len - r->in_pos);
        if (hit) {
            r->in_pos = static_cast<std::int32_t>(static_cast<const std::uint8_t *>(hit) - r->in_buf);
            return true;
        }
        r->in_pos = r->in_len;
    }
    return false;
}

void skip_line(bio_parser_t *r) { _readline(r, nullptr, 0); }

void build_converters(bio_parser_t *r) {
    void *space = r->converter_space;
    std::size_t room = sizeof r->converter_space;
    std::align(alignof(LetterConverter), 3 * sizeof(LetterConverter), space, room);
    auto *slots = static_cast<LetterConverter *>(space);
    r->nt_converter = new (slots) LetterConverter(r->map_nt);
    r->aa_converter = new (slots + 1) LetterConverter(r->map_aa);
    r->aa_only_converter = new (slots + 2) LetterConverter(r->map_aa_only);
}

bool is_gzip(const bio_parser_t *r) {
    return r->in_len >= 2 && r->in_buf[0] == GZIP_MAGIC_0 && r->in_buf[1] == GZIP_MAGIC_1;
}

// Skips leading line feeds, carriage returns and spaces of the first fill;
// the byte after them decides the format.
std::int32_t detect_format(bio_parser_t *r) {
    while (r->in_pos < r->in_len) {
        const std::uint8_t c = r->in_buf[r->in_pos];
        if (c != LF && c != CR && c != ' ') return c == '@' ? FMT_FASTQ : FMT_FASTA;
        ++r->in_pos;
    }
    return FMT_FASTA;
}

// Converts a FASTA sequence in place and returns its alphabet flag.
std::int32_t convert_fasta(const bio_parser_t *r, std::uint8_t *seq, std::int32_t len,
                           std::int32_t protein) {
    std::int32_t flag = protein > 0 ? protein : 0;
    if (protein < 0 && has_protein_letter(*r->aa_only_converter, seq, static_cast<std::size_t>(len)))
        flag = 1;
    (flag ? r->aa_converter : r->nt_converter)->convert(seq, static_cast<std::size_t>(len), seq);
    return flag;
}

std::int32_t parse_fasta(bio_parser_t *r, char *name, std::int32_t name_cap, std::uint8_t *seq,
                         std::int32_t seq_cap, std::int32_t *seq_len, std::int32_t protein,
                         std::int32_t *is_protein) {
    for (;;) {
        if (!seek_marker(r, '>')) return 0;
        ++r->in_pos;
        _readline(r, name, name_cap);
        std::int32_t len = 0;
        while (has_byte(r)) {
            const std::uint8_t first = r->in_buf[r->in_pos];
            if (first == '>') break;
            if (first == LF || first == CR) {  // blank line: one byte at a time, so a
                ++r->in_pos;                   // lone CR never hides the next '>'
                continue;
            }
            if (first == ';') {
                skip_line(r);
                continue;
            }
            const std::int32_t got = _readbytes(r, seq + len, seq_cap - len);
            if (got < 0) {  // the next call's marker search skips the rest of the record
                *seq_len = len;
                return -2;
            }
            len += got;
        }
        if (len == 0) continue;
        const std::int32_t flag = convert_fasta(r, seq, len, protein);
        if (is_protein) *is_protein = flag;
        *seq_len = len;
        return 1;
    }
}

std::int32_t parse_fastq(bio_parser_t *r, char *name, std::int32_t name_cap, std::uint8_t *seq,
                         std::int32_t seq_cap, std::int32_t *seq_len, std::int32_t protein,
                         std::int32_t *is_protein, std::uint8_t *qual, std::int32_t *qual_len) {
    for (;;) {
        if (r->need_sync) {
            if (!seek_marker(r, '@')) return 0;
            ++r->in_pos;
            r->need_sync = 0;
        } else {
            if (!has_byte(r)) return 0;
            if (r->in_buf[r->in_pos] == '@') ++r->in_pos;
        }
        _readline(r, name, name_cap);
        const std::int32_t len = _readbytes(r, seq, seq_cap);
        if (len < 0) {  // skip the rest of the record so the next call is in step
            skip_line(r);
            skip_line(r);
            skip_line(r);
            return -2;
        }
        skip_line(r);  // separator
        std::int32_t n_qual = 0;
        if (qual && qual_len) {
            n_qual = _readbytes(r, qual, seq_cap);
            if (n_qual < 0) {
                skip_line(r);
                n_qual = 0;
            }
            phred_from_ascii(qual, static_cast<std::size_t>(n_qual));
        } else {
            skip_line(r);
        }
        if (len == 0) continue;
        const bool as_protein = protein == 1;
        (as_protein ? r->aa_converter : r->nt_converter)->convert(seq, static_cast<std::size_t>(len), seq);
        if (is_protein) *is_protein = as_protein ? 1 : 0;
        if (qual_len) *qual_len = n_qual;
        *seq_len = len;
        return 1;
    }
}

}  // namespace

bool has_protein_letter(const LetterConverter &aa_only, const std::uint8_t *raw, std::size_t n) {
    constexpr std::size_t BLOCK = 2048;
    std::uint8_t flags[BLOCK];
    for (std::size_t done = 0; done < n; done += BLOCK) {
        const std::size_t m = n - done < BLOCK ? n - done : BLOCK;
        aa_only.convert(raw + done, m, flags);
        std::uint8_t any = 0;
        for (std::size_t i = 0; i < m; ++i) any |= flags[i];
        if (any) return true;
    }
    return false;
}

void _refill_buf(bio_parser_t *r) {
    if (r->at_eof) return;
    const std::int32_t rest = r->in_len - r->in_pos;
    if (rest > 0 && r->in_pos > 0) std::memmove(r->in_buf, r->in_buf + r->in_pos, rest);
    r->in_pos = 0;
    r->in_len = rest;
    const std::size_t got =
        std::fread(r->in_buf + rest, 1, static_cast<std::size_t>(PARSER_BUF_SIZE - rest), r->fp);
    if (got == 0)
        r->at_eof = 1;
    else
        r->in_len += static_cast<std::int32_t>(got);
}

void _readline(bio_parser_t *r, char *dst, std::int32_t cap) {
    const bool copy = dst && cap >= 1;
    const std::int32_t room = copy ? cap - 1 : 0;
    std::int32_t used = 0;
    for (;;) {
        const LinePiece piece = scan_piece(r);
        const std::int32_t take = piece.len < room - used ? piece.len : room - used;
        if (take > 0) std::memcpy(dst + used, piece.data, static_cast<std::size_t>(take));
        used += take;
        r->in_pos = piece.next_pos;
        if (piece.line_ends) break;
    }
    if (copy) dst[used] = '\0';
}

std::int32_t _readbytes(bio_parser_t *r, std::uint8_t *dst, std::int32_t cap) {
    std::int32_t used = 0;
    if (cap < 0) cap = 0;
    for (;;) {
        const LinePiece piece = scan_piece(r);
        const std::int32_t room = cap - used;
        if (piece.len > room) {
            std::memcpy(dst + used, piece.data, static_cast<std::size_t>(room));
            r->in_pos = static_cast<std::int32_t>(piece.data - r->in_buf) + room;
            return -1;
        }
        std::memcpy(dst + used, piece.data, static_cast<std::size_t>(piece.len));
        used += piece.len;
        r->in_pos = piece.next_pos;
        if (piece.line_ends) return used;
    }
}

std::int32_t _parse_one(bio_parser_t *r, char *name, std::int32_t name_cap, std::uint8_t *seq,
                        std::int32_t seq_cap, std::int32_t *seq_len, std::int32_t protein,
                        std::int32_t *is_protein, std::uint8_t *qual, std::int32_t *qual_len) {
    if (r->format == FMT_FASTQ)
        return parse_fastq(r, name, name_cap, seq, seq_cap, seq_len, protein, is_protein, qual,
                           qual_len);
    return parse_fasta(r, name, name_cap, seq, seq_cap, seq_len, protein, is_protein);
}

}  // namespace engine

ENGINE_EXPORT bio_parser_t *bio_parser_open(const char *filename) {
    if (!filename) return nullptr;
    engine::Buffer<bio_parser_t> handle;
    if (!handle.allocate_zeroed(1)) return nullptr;
    bio_parser_t *r = handle.data();
    r->fp = std::fopen(filename, "rb");
    if (!r->fp) return nullptr;
    r->map_nt = engine::_MAP_NT;
    r->map_aa = engine::_MAP_AA;
    r->map_aa_only = engine::_MAP_AA_ONLY;
    engine::build_converters(r);
    r->need_sync = 1;
    engine::_refill_buf(r);
    if (engine::is_gzip(r)) {  // compressed input is reported, never parsed as text
        std::fclose(r->fp);
        return nullptr;
    }
    r->format = engine::detect_format(r);
    return handle.release();
}

ENGINE_EXPORT std::int32_t bio_parser_next(bio_parser_t *reader, char *name, std::int32_t name_cap,
                                           std::uint8_t *seq, std::int32_t seq_cap,
                                           std::int32_t *seq_len, std::int32_t protein,
                                           std::int32_t *is_protein, std::uint8_t *qual,
                                           std::int32_t *qual_len) {
    if (!reader) return -1;
    *seq_len = 0;
    if (is_protein) *is_protein = 0;
    if (qual_len) *qual_len = 0;
    return engine::_parse_one(reader, name, name_cap, seq, seq_cap, seq_len, protein, is_protein,
                              qual, qual_len);
}

ENGINE_EXPORT void bio_parser_close(bio_parser_t *reader) {
    if (!reader) return;
    if (reader->fp) std::fclose(reader->fp);
    engine::mem_free(reader->batch_seq);
    engine::mem_free(reader->batch_qual);
    engine::mem_free(reader);
}
