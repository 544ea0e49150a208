// Line scanning over text held in memory. A line ends at a line feed; a
// carriage return directly before the line feed, or as the very last byte of
// the text, is not part of the line.
#pragma once

#include <cstdint>
#include <cstring>

#include "seqio/byte_masks.h"

namespace engine {

// First occurrence of byte c in [p, end), or end.
inline const char *find_byte(const char *p, const char *end, char c) {
    if (p >= end) return end;  // p may be null for an empty text
    const void *hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
    return hit ? static_cast<const char *>(hit) : end;
}

struct Line {
    const char *begin;  // first byte of the line
    const char *end;    // one past its last byte, line end excluded
    const char *next;   // start of the following line (== text end at the end)
    bool terminated;    // the line ended with a line feed
};

// The line starting at p in the text that ends at text_end.
inline Line line_at(const char *p, const char *text_end) {
    const char *lf = find_byte(p, text_end, '\n');
    const bool terminated = lf != text_end;
    const char *end = lf;
    if (end > p && end[-1] == '\r') --end;  // before a line feed, or last byte of the text
    return {p, end, terminated ? lf + 1 : text_end, terminated};
}

// The successive lines of a text, from a given position on. Line feeds are
// found a 64-byte block at a time, which is much cheaper than one search
// call per line when lines are short.
class LineCursor {
public:
    LineCursor(const char *p, const char *text_end)
        : p_(p), end_(text_end), block_(p), pending_(p < text_end ? line_feeds(p) : 0) {}

    // Where the next line starts (the text end once all lines are taken).
    const char *position() const { return p_; }

    // The line at position(), as line_at gives it; moves past it.
    Line next() {
        const char *begin = p_;
        const char *lf = next_line_feed();
        const bool terminated = lf != end_;
        const char *end = lf;
        if (end > begin && end[-1] == '\r') --end;
        p_ = terminated ? lf + 1 : end_;
        return {begin, end, p_, terminated};
    }

private:
    // Line feeds of the block at b (bytes past the text end read as zero).
    std::uint64_t line_feeds(const char *b) const {
        const TextBlock block = end_ - b >= MASK_BLOCK ? load_block(b) : load_partial_block(b, end_);
        return byte_mask(block, '\n');
    }

    // The first line feed not yet taken, or the text end.
    const char *next_line_feed() {
        while (pending_ == 0) {
            if (end_ - block_ <= MASK_BLOCK) {
                block_ = end_;
                return end_;
            }
            block_ += MASK_BLOCK;
            pending_ = line_feeds(block_);
        }
        const char *lf = block_ + __builtin_ctzll(pending_);
        pending_ &= pending_ - 1;
        return lf;
    }

    const char *p_;
    const char *end_;
    const char *block_;       // start of the block being taken
    std::uint64_t pending_;   // its line feeds not yet taken
};

}  // namespace engine
