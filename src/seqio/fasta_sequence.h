// The sequence lines of one FASTA record in text held in memory, walked
// 64 bytes at a time: line feeds, carriage returns and '>' are found with
// vector compares, so lines of any length cost no per-line search.
#pragma once

#include <cstdint>

namespace engine {

struct FastaSequence {
    const char *end;         // the next line beginning with '>', or the text end
    std::int64_t residues;   // bytes of the lines, line ends excluded
};

// Extra bytes gather_fasta_sequence may write past the residues it copies.
inline constexpr std::int64_t GATHER_SLACK = 64;

// The sequence lines starting at the line start p, up to the first line
// that begins with '>' or the end of the text at `end`. Line ends follow
// line_at: a line feed, with a carriage return before it, and a carriage
// return as the last byte of the text, are not part of a line.
FastaSequence measure_fasta_sequence(const char *p, const char *end);

// The same walk, also copying the residues back to back to dst, which must
// hold residues + GATHER_SLACK bytes.
FastaSequence gather_fasta_sequence(const char *p, const char *end, std::uint8_t *dst);

}  // namespace engine
