// Line scanning over text held in memory. A line ends at a line feed; a
// carriage return directly before the line feed, or as the very last byte of
// the text, is not part of the line.
#pragma once

#include <cstring>

namespace engine {

// First occurrence of byte c in [p, end), or end.
inline const char *find_byte(const char *p, const char *end, char c) {
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

}  // namespace engine
