// Helpers of the anti-diagonal banded tests: calling any aligner of the
// banded calling form into exactly sized buffers, comparing whole results,
// and random sequence pairs with fixed seeds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace banded_test {

using Codes = std::vector<std::uint8_t>;

using BandedAligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                       std::int32_t, const char *, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t, char *, char *, std::int32_t *,
                                       std::int32_t *, std::int32_t *, std::int32_t *);

// One letter per code, all distinct, so the strings show which code went where.
inline const char kDecode[] = "ACGTDEFHIKLMNPQRSVWYBJOUXZ*-0123";

struct Scores {
    std::int32_t match, mismatch, gap;
};

// Everything an aligner reports. Out-parameters start at a value no aligner
// writes, so a test sees what was left untouched.
struct Result {
    static constexpr std::int32_t kUntouched = 0x5A5A5A5A;
    std::int32_t columns = kUntouched;
    std::int32_t score = kUntouched;
    std::int32_t n_match = kUntouched;
    std::int32_t n_mismatch = kUntouched;
    std::int32_t n_gap = kUntouched;
    std::string a, b;
    bool strings_untouched = true;

    bool operator==(const Result &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Result &r) {
    return os << "{columns " << r.columns << ", score " << r.score << ", " << r.n_match << "/"
              << r.n_mismatch << "/" << r.n_gap << ", a " << r.a << ", b " << r.b << "}";
}

// Sequences and outputs live in exactly sized vectors so that AddressSanitizer
// reports any read or write past them.
inline Result run(BandedAligner align, const Codes &a, const Codes &b, Scores s, std::int32_t band) {
    const std::size_t cap = a.size() + b.size() + 1;
    std::vector<char> out_a(cap, '\x7f'), out_b(cap, '\x7f');
    const std::vector<std::uint8_t> seq_a(a), seq_b(b);
    Result r;
    r.columns = align(seq_a.data(), static_cast<std::int32_t>(a.size()), seq_b.data(),
                      static_cast<std::int32_t>(b.size()), kDecode, s.match, s.mismatch, s.gap,
                      band, out_a.data(), out_b.data(), &r.score, &r.n_match, &r.n_mismatch,
                      &r.n_gap);
    r.strings_untouched = std::all_of(out_a.begin(), out_a.end(), [](char c) { return c == '\x7f'; }) &&
                          std::all_of(out_b.begin(), out_b.end(), [](char c) { return c == '\x7f'; });
    if (r.columns >= 0) {
        r.a.assign(out_a.data(), std::find(out_a.begin(), out_a.end(), '\0') - out_a.begin());
        r.b.assign(out_b.data(), std::find(out_b.begin(), out_b.end(), '\0') - out_b.begin());
    }
    return r;
}

// Codes from the letters of kDecode.
inline Codes codes_of(const std::string &letters) {
    Codes c;
    for (char ch : letters) c.push_back(static_cast<std::uint8_t>(std::string(kDecode).find(ch)));
    return c;
}

// Mostly nucleotides, with the unknown code 31 and a few others mixed in.
inline Codes random_codes(std::mt19937 &rng, std::size_t n) {
    Codes c(n);
    for (auto &x : c) {
        const unsigned r = rng() % 20;
        x = r < 16 ? static_cast<std::uint8_t>(r % 4) : r < 18 ? 31 : static_cast<std::uint8_t>(rng() % 32);
    }
    return c;
}

// A copy of `src` with about `rate` of its positions substituted, deleted or
// followed by an insertion, as a diverged sequencing of the same region.
inline Codes mutate(std::mt19937 &rng, const Codes &src, double rate) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Codes out;
    for (std::uint8_t c : src) {
        if (u(rng) >= rate) {
            out.push_back(c);
            continue;
        }
        switch (rng() % 3) {
            case 0: out.push_back(static_cast<std::uint8_t>((c + 1 + rng() % 3) % 4)); break;
            case 1: break;
            default: out.push_back(c); out.push_back(static_cast<std::uint8_t>(rng() % 4));
        }
    }
    return out;
}

inline Scores random_small_scores(std::mt19937 &rng) {
    return {static_cast<std::int32_t>(rng() % 6) - 1, -static_cast<std::int32_t>(rng() % 6),
            -static_cast<std::int32_t>(rng() % 6)};
}

}  // namespace banded_test
