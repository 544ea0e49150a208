// Loading a reference FASTA/FASTQ into the concatenated form the index takes.
#pragma once

#include "format.h"
#include "input.h"

#include <string>

namespace bioeng {

// Code put between two reference sequences. It is above 3, so every k-mer
// that would span the junction is invalid and never indexed: without it a
// read could seed on a k-mer made of the end of one sequence and the start of
// the next, and chain across sequences that are unrelated. The cost is one
// byte per sequence; the offsets table skips it, and mapping windows are
// clipped to their sequence, so it is never aligned.
constexpr uint8_t REF_SEPARATOR = 31;

// Reads every record of `path` (plain, gzip or BGZF) with the library's
// parser. Throws InputError or std::bad_alloc.
RefTable load_reference(const std::string &path, const ReaderOptions &opt);

// Packs refs.codes into refs.packed and gives the one-byte copy's memory
// back; called once the index, which keeps its own copy, is built. Throws
// std::bad_alloc (refs is then unchanged).
void pack_reference(RefTable &refs);

} // namespace bioeng
