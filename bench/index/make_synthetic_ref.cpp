// A synthetic genome for index and mapping benchmarks at human scale: random
// sequence split into chromosomes, with repeat families planted at copy
// numbers from 2 to a few thousand (each copy diverged by a few per cent),
// some runs of N, about 45% of the bases in repeats. Also samples reads from
// it: short (150 bases, 1% substitutions) and long (5 to 20 kb, 3%
// substitutions and 1% indels), named by their origin.
//
//   make_synthetic_ref OUT.fa BASES SHORT.fq N_SHORT LONG.fq N_LONG [SEED]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr char BASES[] = "ACGT";
constexpr int CHROMOSOMES = 24;
constexpr double REPEAT_FRACTION = 0.45;

struct Genome {
    std::string seq;
    std::vector<std::int64_t> starts;  // of each chromosome, plus the end
};

char random_base(std::mt19937_64 &rng) { return BASES[rng() & 3]; }

char other_base(std::mt19937_64 &rng, char c) {
    char d;
    do d = random_base(rng); while (d == c);
    return d;
}

// Random bases, then repeat copies written over them until the repeat share
// is reached, then a few runs of N.
Genome make_genome(std::int64_t bases, std::mt19937_64 &rng) {
    Genome g;
    g.seq.resize(static_cast<std::size_t>(bases));
    for (auto &c : g.seq) c = random_base(rng);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::int64_t planted = 0;
    while (planted < REPEAT_FRACTION * static_cast<double>(bases)) {
        const auto len = static_cast<std::int64_t>(50 * std::pow(120.0, unit(rng)));  // 50 .. 6000
        const auto copies = static_cast<std::int64_t>(std::pow(2.0, 1 + 11 * unit(rng)));  // 2 .. 4096
        const double divergence = 0.15 * unit(rng);
        const std::int64_t from = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(bases - len));
        const std::string family = g.seq.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(len));
        for (std::int64_t c = 0; c < copies; ++c) {
            const std::int64_t to = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(bases - len));
            for (std::int64_t i = 0; i < len; ++i)
                g.seq[to + i] = unit(rng) < divergence ? other_base(rng, family[i]) : family[i];
        }
        planted += len * copies;
    }
    for (int gap = 0; gap < 200; ++gap) {
        const std::int64_t len = 1000 + static_cast<std::int64_t>(rng() % 50000);
        const std::int64_t at = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(bases - len));
        std::fill(g.seq.begin() + at, g.seq.begin() + at + len, 'N');
    }
    for (int c = 0; c <= CHROMOSOMES; ++c) g.starts.push_back(bases * c / CHROMOSOMES);
    return g;
}

void write_fasta(const Genome &g, const char *path) {
    FILE *out = std::fopen(path, "w");
    if (!out) std::exit(1);
    for (int c = 0; c < CHROMOSOMES; ++c) {
        std::fprintf(out, ">chr%d\n", c + 1);
        for (std::int64_t at = g.starts[c]; at < g.starts[c + 1]; at += 80) {
            const std::int64_t n = std::min<std::int64_t>(80, g.starts[c + 1] - at);
            std::fwrite(g.seq.data() + at, 1, static_cast<std::size_t>(n), out);
            std::fputc('\n', out);
        }
    }
    std::fclose(out);
}

std::string reverse_complement(const std::string &s) {
    std::string r(s.rbegin(), s.rend());
    for (auto &c : r) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : c;
    return r;
}

std::string mutate(const std::string &s, double sub, double indel, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string out;
    for (char c : s) {
        const double u = unit(rng);
        if (u < indel / 2) continue;  // deletion
        if (u < indel) out.push_back(random_base(rng));  // insertion before c
        out.push_back(unit(rng) < sub ? other_base(rng, c) : c);
    }
    return out;
}

// Reads from within one chromosome, avoiding N runs; named chr:start:strand.
void write_reads(const Genome &g, const char *path, int n, std::int64_t min_len,
                 std::int64_t max_len, double sub, double indel, std::mt19937_64 &rng) {
    FILE *out = std::fopen(path, "w");
    if (!out) std::exit(1);
    for (int r = 0; r < n;) {
        const int c = static_cast<int>(rng() % CHROMOSOMES);
        const std::int64_t len = min_len + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(max_len - min_len + 1));
        const std::int64_t span = g.starts[c + 1] - g.starts[c] - len;
        const std::int64_t start = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(span));
        std::string piece = g.seq.substr(static_cast<std::size_t>(g.starts[c] + start), static_cast<std::size_t>(len));
        if (piece.find('N') != std::string::npos) continue;
        const bool reverse = rng() & 1;
        if (reverse) piece = reverse_complement(piece);
        piece = mutate(piece, sub, indel, rng);
        std::fprintf(out, "@r%d_chr%d_%lld_%c\n%s\n+\n%s\n", r, c + 1, static_cast<long long>(start),
                     reverse ? '-' : '+', piece.c_str(), std::string(piece.size(), 'I').c_str());
        ++r;
    }
    std::fclose(out);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s OUT.fa BASES SHORT.fq N_SHORT LONG.fq N_LONG [SEED]\n", argv[0]);
        return 2;
    }
    std::mt19937_64 rng(argc > 7 ? std::strtoull(argv[7], nullptr, 10) : 20261208);
    const Genome g = make_genome(std::strtoll(argv[2], nullptr, 10), rng);
    write_fasta(g, argv[1]);
    write_reads(g, argv[3], std::atoi(argv[4]), 150, 150, 0.01, 0.0, rng);
    write_reads(g, argv[5], std::atoi(argv[6]), 5000, 20000, 0.03, 0.01, rng);
    return 0;
}
