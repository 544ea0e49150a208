// Residue codes and the tables that convert letters into them and back.
// Codes: A=0 C=1 G=2 T/U=3, amino acids 4..23 (alphabetical one-letter
// codes), stop 24, gap 25, 31 for every other letter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

inline constexpr std::uint8_t RC_STOP = 24;
inline constexpr std::uint8_t RC_GAP = 25;
inline constexpr std::uint8_t RC_UNKNOWN = 31;

inline constexpr int FMT_FASTA = 1;
inline constexpr int FMT_FASTQ = 2;

using ByteTable = std::array<std::uint8_t, 256>;

namespace detail {
constexpr ByteTable make_nt_table() {
    ByteTable t{};
    for (auto &v : t) v = RC_UNKNOWN;
    const char *letters[4] = {"Aa", "Cc", "Gg", "TtUu"};
    for (int code = 0; code < 4; ++code)
        for (const char *p = letters[code]; *p; ++p) t[static_cast<unsigned char>(*p)] = code;
    t['-'] = RC_GAP;
    t['.'] = RC_GAP;
    return t;
}

constexpr ByteTable make_aa_table() {
    ByteTable t{};
    for (auto &v : t) v = RC_UNKNOWN;
    const char *amino = "ACDEFGHIKLMNPQRSTVWY";
    for (int k = 0; amino[k]; ++k) {
        const auto upper = static_cast<unsigned char>(amino[k]);
        t[upper] = static_cast<std::uint8_t>(4 + k);
        t[upper + ('a' - 'A')] = static_cast<std::uint8_t>(4 + k);
    }
    t['*'] = RC_STOP;
    t['-'] = RC_GAP;
    return t;
}

constexpr ByteTable make_aa_only_table() {
    ByteTable t{};
    for (const char *p = "EFILPQefilpq*"; *p; ++p) t[static_cast<unsigned char>(*p)] = 1;
    return t;
}
}  // namespace detail

// Nucleotide letters to codes.
inline constexpr ByteTable _MAP_NT = detail::make_nt_table();
// Protein letters to codes.
inline constexpr ByteTable _MAP_AA = detail::make_aa_table();
// 1 for the letters that occur only in proteins: they mark a FASTA record
// as protein when the reader detects the alphabet.
inline constexpr ByteTable _MAP_AA_ONLY = detail::make_aa_only_table();
// Code to nucleotide letter: "ACGT" then "N" for codes 4..31 (no terminator).
inline constexpr char _MAP_DECODE[32] = {'A', 'C', 'G', 'T', 'N', 'N', 'N', 'N', 'N', 'N', 'N',
                                         'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N',
                                         'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N', 'N'};

// The three letter tables, copied into each reader and each parser call.
struct LetterTables {
    ByteTable nt = _MAP_NT;
    ByteTable aa = _MAP_AA;
    ByteTable aa_only = _MAP_AA_ONLY;
};

// True when any of the n raw bytes is a protein-only letter.
bool looks_like_protein(const ByteTable &aa_only, const std::uint8_t *raw, std::size_t n);

// Converts n raw letters in place through `table`.
void convert_letters(const ByteTable &table, std::uint8_t *bytes, std::size_t n);

// Converts n FASTQ quality characters in place to Phred values
// (character - 33, 0 below '!').
void phred_from_ascii(std::uint8_t *qual, std::size_t n);

}  // namespace engine
