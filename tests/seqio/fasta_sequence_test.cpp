// The block-wise walk over a FASTA record's sequence lines against the
// line-by-line walk it replaces, on texts dense in line feeds, carriage
// returns and '>' so that every arrangement meets the 64-byte block edges.
#include "seqio/fasta_sequence.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "seqio/lines.h"

namespace {

struct Walked {
    std::ptrdiff_t end;  // offset from the text start
    std::string residues;
};

// Line by line: lines up to the next one beginning with '>', line ends
// dropped as line_at drops them.
Walked walk_lines(const char *text, const char *p, const char *end) {
    Walked w{0, {}};
    while (p < end && *p != '>') {
        const engine::Line line = engine::line_at(p, end);
        w.residues.append(line.begin, line.end);
        p = line.next;
    }
    w.end = p - text;
    return w;
}

std::string random_text(std::mt19937 &rng, std::size_t n) {
    // Mostly residues, with every separator frequent enough to meet the
    // block edges in all combinations.
    static const char alphabet[] = "ACGTACGTacgtN;\n\n\n\r\r>>";
    std::string s(n, 'A');
    for (auto &c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
}

TEST(FastaSequence, MeasureAndGatherMatchTheLineWalk) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 20000; ++trial) {
        const std::size_t n = trial < 300 ? static_cast<std::size_t>(trial) : rng() % 700;
        const std::string s = random_text(rng, n);
        // An exact-size copy, so that a read past the end is caught by the
        // address sanitizer.
        std::vector<char> text(s.begin(), s.end());
        const char *begin = text.data(), *end = begin + text.size();
        // Start at a line start: the text start or just after a line feed.
        std::vector<std::size_t> starts = {0};
        for (std::size_t i = 0; i < n; ++i)
            if (s[i] == '\n') starts.push_back(i + 1);
        const std::size_t from = starts[rng() % starts.size()];

        const Walked want = walk_lines(begin, begin + from, end);
        const engine::FastaSequence measured = engine::measure_fasta_sequence(begin + from, end);
        ASSERT_EQ(measured.end - begin, want.end) << "trial " << trial;
        ASSERT_EQ(measured.residues, static_cast<std::int64_t>(want.residues.size()));

        std::vector<std::uint8_t> dst(want.residues.size() + engine::GATHER_SLACK);
        const engine::FastaSequence gathered = engine::gather_fasta_sequence(begin + from, end, dst.data());
        ASSERT_EQ(gathered.end, measured.end);
        ASSERT_EQ(gathered.residues, measured.residues);
        ASSERT_EQ(std::string(dst.begin(), dst.begin() + static_cast<long>(want.residues.size())),
                  want.residues)
            << "trial " << trial;
    }
}

TEST(FastaSequence, LongLinesAndLongRecords) {
    std::mt19937 rng(4);
    for (int trial = 0; trial < 300; ++trial) {
        const int width = 1 + static_cast<int>(rng() % 200);
        const bool crlf = rng() % 2;
        std::string s;
        const std::size_t residues = rng() % 5000;
        for (std::size_t i = 0; i < residues; ++i) {
            s += "ACGT"[rng() % 4];
            if ((i + 1) % static_cast<std::size_t>(width) == 0) s += crlf ? "\r\n" : "\n";
        }
        if (rng() % 2) s += crlf ? "\r\n>next\nAC\n" : "\n>next\nAC\n";
        std::vector<char> text(s.begin(), s.end());
        const char *begin = text.data(), *end = begin + text.size();
        const Walked want = walk_lines(begin, begin, end);
        std::vector<std::uint8_t> dst(want.residues.size() + engine::GATHER_SLACK);
        const engine::FastaSequence got = engine::gather_fasta_sequence(begin, end, dst.data());
        ASSERT_EQ(got.end - begin, want.end);
        ASSERT_EQ(std::string(dst.begin(), dst.begin() + got.residues), want.residues);
    }
}

}  // namespace
