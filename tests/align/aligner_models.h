// Test support for the row-by-row aligners: a caller that captures every
// output (and checks nothing is written past the strings), random inputs,
// and straightforward models of each aligner over a full (n+1) x (m+1) grid
// with 64-bit scores, written for clarity rather than speed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "support/allocation_failure.h"

namespace align_test {

using Codes = std::vector<std::uint8_t>;

constexpr std::int64_t kNegInf = -1073741824;

// One distinct letter per code, so a code mix-up shows in the strings.
inline constexpr char kDistinct[33] = "ACGTBDEFHIJKLMNOPQRSUVWXYZabcdef";

struct Scores {
    std::int32_t match, mismatch, gap;
};

struct Alignment {
    std::int32_t result = 0;
    std::string a, b;
    std::int32_t score = 0, n_match = 0, n_mismatch = 0, n_gap = 0;
    bool operator==(const Alignment &) const = default;
};

inline void PrintTo(const Alignment &x, std::ostream *os) {
    *os << "{result " << x.result << ", \"" << x.a << "\" / \"" << x.b << "\", score " << x.score
        << ", match " << x.n_match << ", mismatch " << x.n_mismatch << ", gap " << x.n_gap
        << "}";
}

using PlainAligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                      std::int32_t, const char *, std::int32_t, std::int32_t,
                                      std::int32_t, char *, char *, std::int32_t *,
                                      std::int32_t *, std::int32_t *, std::int32_t *);
using BandedAligner = std::int32_t (*)(const std::uint8_t *, std::int32_t, const std::uint8_t *,
                                       std::int32_t, const char *, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t, char *, char *,
                                       std::int32_t *, std::int32_t *, std::int32_t *,
                                       std::int32_t *);

constexpr char kUnwritten = '\x7f';
constexpr std::int32_t kUnset = 0x5eed;

// Output buffers of exactly len_a + len_b + 1 bytes plus a guard zone, and
// out-parameters preset to a marker, so a test sees exactly what was written.
struct Outputs {
    std::vector<char> a, b;
    std::int32_t score = kUnset, n_match = kUnset, n_mismatch = kUnset, n_gap = kUnset;
    std::size_t capacity;

    Outputs(std::size_t len_a, std::size_t len_b)
        : a(len_a + len_b + 1 + 16, kUnwritten),
          b(len_a + len_b + 1 + 16, kUnwritten),
          capacity(len_a + len_b + 1) {}

    bool strings_untouched() const {
        for (std::size_t k = 0; k < a.size(); ++k)
            if (a[k] != kUnwritten || b[k] != kUnwritten) return false;
        return true;
    }
    bool counters_untouched() const {
        return n_match == kUnset && n_mismatch == kUnset && n_gap == kUnset;
    }

    // The captured alignment; flags any byte written beyond the zero bytes.
    Alignment collect(std::int32_t result) const {
        Alignment x;
        x.result = result;
        x.score = score;
        if (result < 0) return x;
        x.a.assign(a.data(), static_cast<std::size_t>(result));
        x.b.assign(b.data(), static_cast<std::size_t>(result));
        EXPECT_EQ(a[result], '\0');
        EXPECT_EQ(b[result], '\0');
        for (std::size_t k = result + 1; k < a.size(); ++k) {
            EXPECT_EQ(a[k], kUnwritten) << "out_a written at " << k;
            EXPECT_EQ(b[k], kUnwritten) << "out_b written at " << k;
        }
        x.n_match = n_match;
        x.n_mismatch = n_mismatch;
        x.n_gap = n_gap;
        return x;
    }
};

inline std::int32_t call(PlainAligner f, const Codes &A, const Codes &B, const char *decode,
                         Scores s, Outputs &o) {
    return f(A.data(), static_cast<std::int32_t>(A.size()), B.data(),
             static_cast<std::int32_t>(B.size()), decode, s.match, s.mismatch, s.gap, o.a.data(),
             o.b.data(), &o.score, &o.n_match, &o.n_mismatch, &o.n_gap);
}

inline std::int32_t call(BandedAligner f, const Codes &A, const Codes &B, const char *decode,
                         Scores s, std::int32_t band, Outputs &o) {
    return f(A.data(), static_cast<std::int32_t>(A.size()), B.data(),
             static_cast<std::int32_t>(B.size()), decode, s.match, s.mismatch, s.gap, band,
             o.a.data(), o.b.data(), &o.score, &o.n_match, &o.n_mismatch, &o.n_gap);
}

inline Alignment run(PlainAligner f, const Codes &A, const Codes &B, Scores s,
                     const char *decode = kDistinct) {
    Outputs o(A.size(), B.size());
    return o.collect(call(f, A, B, decode, s, o));
}

inline Alignment run(BandedAligner f, const Codes &A, const Codes &B, Scores s,
                     std::int32_t band, const char *decode = kDistinct) {
    Outputs o(A.size(), B.size());
    return o.collect(call(f, A, B, decode, s, band, o));
}

// Codes of a nucleotide string: A C G T, and 31 for N.
inline Codes nt(const std::string &letters) {
    Codes out;
    for (char c : letters) {
        switch (c) {
        case 'A': out.push_back(0); break;
        case 'C': out.push_back(1); break;
        case 'G': out.push_back(2); break;
        case 'T': out.push_back(3); break;
        default: out.push_back(31); break;
        }
    }
    return out;
}

// Mostly nucleotides (so matches are common), some code 31, now and then
// any code 0..31.
inline Codes random_codes(std::mt19937 &rng, int len) {
    Codes out(len);
    for (auto &c : out) {
        const int roll = static_cast<int>(rng() % 20);
        if (roll < 16)
            c = static_cast<std::uint8_t>(rng() % 4);
        else if (roll < 18)
            c = 31;
        else
            c = static_cast<std::uint8_t>(rng() % 32);
    }
    return out;
}

// B derived from A by random substitutions and indels, so good alignments
// have structure; `rate` in percent.
inline Codes mutate(std::mt19937 &rng, const Codes &A, int rate) {
    Codes out;
    for (std::uint8_t c : A) {
        const int roll = static_cast<int>(rng() % 100);
        if (roll < rate / 3) continue;
        if (roll < 2 * rate / 3) out.push_back(static_cast<std::uint8_t>(rng() % 4));
        if (roll < rate && roll >= 2 * rate / 3) out.push_back(static_cast<std::uint8_t>(rng() % 4));
        out.push_back(c);
    }
    return out;
}

inline int random_length(std::mt19937 &rng, int max_len) {
    // Favour short sequences, with some long ones.
    const int roll = static_cast<int>(rng() % 10);
    if (roll < 6) return static_cast<int>(rng() % 12);
    if (roll < 9) return static_cast<int>(rng() % 60);
    return static_cast<int>(rng() % (max_len + 1));
}

// Small scores of either sign (the aligners' arithmetic does not care).
inline Scores random_scores(std::mt19937 &rng) {
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    return {pick(-2, 5), pick(-5, 2), pick(-5, 1)};
}

// Match positive, mismatch and gap not, gap strictly negative.
inline Scores usual_scores(std::mt19937 &rng) {
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    return {pick(1, 4), pick(-4, 0), pick(-4, -1)};
}

// ---------------------------------------------------------------------------
// Models.

enum : int { DIAG = 0, UP = 1, LEFT = 2 };

struct Grid {
    std::vector<std::vector<std::int64_t>> H;
    std::vector<std::vector<int>> T;
    Grid(std::size_t n, std::size_t m, std::int64_t init)
        : H(n + 1, std::vector<std::int64_t>(m + 1, init)), T(n + 1, std::vector<int>(m + 1, 0)) {}
};

// Builds the alignment from columns met last-first.
struct Columns {
    const Codes &A;
    const Codes &B;
    const char *decode;
    std::string a, b;
    int n_match = 0, n_mismatch = 0, n_gap = 0;

    Columns(const Codes &a_codes, const Codes &b_codes, const char *letters)
        : A(a_codes), B(b_codes), decode(letters) {}

    void diag(std::size_t i, std::size_t j) {
        a += decode[A[i - 1]];
        b += decode[B[j - 1]];
        (A[i - 1] == B[j - 1] ? n_match : n_mismatch) += 1;
    }
    void up(std::size_t i) {
        a += decode[A[i - 1]];
        b += '-';
        ++n_gap;
    }
    void left(std::size_t j) {
        a += '-';
        b += decode[B[j - 1]];
        ++n_gap;
    }
    Alignment done(std::int64_t score) const {
        Alignment x;
        x.a.assign(a.rbegin(), a.rend());
        x.b.assign(b.rbegin(), b.rend());
        x.result = static_cast<std::int32_t>(a.size());
        x.score = static_cast<std::int32_t>(score);
        x.n_match = n_match;
        x.n_mismatch = n_mismatch;
        x.n_gap = n_gap;
        return x;
    }
};

// The shared cell rule: diagonal if at least both others, else up if at
// least left, else left.
inline void choose(std::int64_t d, std::int64_t u, std::int64_t l, std::int64_t &h, int &t) {
    if (d >= u && d >= l) {
        h = d;
        t = DIAG;
    } else if (u >= l) {
        h = u;
        t = UP;
    } else {
        h = l;
        t = LEFT;
    }
}

inline Grid full_fill(const Codes &A, const Codes &B, Scores s, std::int64_t row0_gap) {
    const std::size_t n = A.size(), m = B.size();
    Grid g(n, m, 0);
    for (std::size_t i = 1; i <= n; ++i) g.H[i][0] = std::int64_t(i) * s.gap, g.T[i][0] = UP;
    for (std::size_t j = 1; j <= m; ++j) g.H[0][j] = std::int64_t(j) * row0_gap, g.T[0][j] = LEFT;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j)
            choose(g.H[i - 1][j - 1] + (A[i - 1] == B[j - 1] ? s.match : s.mismatch),
                   g.H[i - 1][j] + s.gap, g.H[i][j - 1] + s.gap, g.H[i][j], g.T[i][j]);
    return g;
}

inline void full_walk(const Grid &g, std::size_t i, std::size_t j, Columns &c) {
    while (i > 0 || j > 0) {
        if (g.T[i][j] == DIAG)
            c.diag(i--, j--);
        else if (g.T[i][j] == UP)
            c.up(i--);
        else
            c.left(j--);
    }
}

inline Alignment model_global(const Codes &A, const Codes &B, Scores s,
                              const char *decode = kDistinct) {
    const Grid g = full_fill(A, B, s, s.gap);
    Columns c(A, B, decode);
    full_walk(g, A.size(), B.size(), c);
    return c.done(g.H[A.size()][B.size()]);
}

struct Cell {
    std::size_t i, j;
};

// End cell of the semiglobal alignment: the last row's leftmost maximum, or
// the last column's topmost one when strictly greater.
inline Cell semiglobal_end(const Grid &g, std::size_t n, std::size_t m) {
    std::int64_t best = INT32_MIN;
    Cell end{n, m};
    for (std::size_t j = 0; j <= m; ++j)
        if (g.H[n][j] > best) best = g.H[n][j], end = {n, j};
    for (std::size_t i = 0; i <= n; ++i)
        if (g.H[i][m] > best) best = g.H[i][m], end = {i, m};
    return end;
}

inline Alignment model_semiglobal(const Codes &A, const Codes &B, Scores s,
                                  const char *decode = kDistinct) {
    const std::size_t n = A.size(), m = B.size();
    const Grid g = full_fill(A, B, s, 0);
    const Cell end = semiglobal_end(g, n, m);
    Columns c(A, B, decode);
    for (std::size_t i = n; i > end.i; --i) c.up(i);
    for (std::size_t j = m; j > end.j; --j) c.left(j);
    full_walk(g, end.i, end.j, c);
    return c.done(g.H[end.i][end.j]);
}

inline Alignment model_local(const Codes &A, const Codes &B, Scores s,
                             const char *decode = kDistinct) {
    const std::size_t n = A.size(), m = B.size();
    Grid g(n, m, 0);
    std::int64_t best = 0;
    Cell at{0, 0};
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j) {
            std::int64_t d = g.H[i - 1][j - 1] + (A[i - 1] == B[j - 1] ? s.match : s.mismatch);
            if (d < 0) d = 0;
            choose(d, g.H[i - 1][j] + s.gap, g.H[i][j - 1] + s.gap, g.H[i][j], g.T[i][j]);
            if (g.H[i][j] > best) best = g.H[i][j], at = {i, j};
        }
    Columns c(A, B, decode);
    std::size_t i = at.i, j = at.j;
    while (i > 0 && j > 0 && g.H[i][j] > 0) {
        if (g.T[i][j] == DIAG)
            c.diag(i--, j--);
        else if (g.T[i][j] == UP)
            c.up(i--);
        else
            c.left(j--);
    }
    return c.done(best);
}

inline bool in_band(std::int64_t i, std::int64_t j, std::int64_t w) {
    return j - i >= -w && j - i <= w;
}

// Banded fill on the full grid: cells outside the band stay unreachable.
inline Grid band_fill(const Codes &A, const Codes &B, Scores s, std::int64_t w,
                      std::int64_t row0_gap) {
    const std::int64_t n = A.size(), m = B.size();
    Grid g(n, m, kNegInf);
    g.H[0][0] = 0;
    for (std::int64_t j = 1; j <= m && j <= w; ++j) g.H[0][j] = j * row0_gap, g.T[0][j] = LEFT;
    for (std::int64_t i = 1; i <= n && i <= w; ++i) g.H[i][0] = i * s.gap, g.T[i][0] = UP;
    auto from = [&](std::int64_t i, std::int64_t j, std::int64_t add) {
        return in_band(i, j, w) && g.H[i][j] != kNegInf ? g.H[i][j] + add : kNegInf;
    };
    for (std::int64_t i = 1; i <= n; ++i)
        for (std::int64_t j = 1; j <= m; ++j) {
            if (!in_band(i, j, w)) continue;
            const std::int64_t d = from(i - 1, j - 1, A[i - 1] == B[j - 1] ? s.match : s.mismatch);
            const std::int64_t u = from(i - 1, j, s.gap);
            const std::int64_t l = from(i, j - 1, s.gap);
            if (d != kNegInf && d >= u && d >= l)
                g.H[i][j] = d, g.T[i][j] = DIAG;
            else if (u != kNegInf && u >= l)
                g.H[i][j] = u, g.T[i][j] = UP;
            else
                g.H[i][j] = l, g.T[i][j] = l != kNegInf ? LEFT : DIAG;
        }
    return g;
}

inline void band_walk(const Grid &g, std::int64_t i, std::int64_t j, std::int64_t w,
                      Columns &c) {
    while (i > 0 || j > 0) {
        const bool inside = in_band(i, j, w);
        const int t = inside ? g.T[i][j] : DIAG;
        if (t == DIAG && i > 0 && j > 0)
            c.diag(i--, j--);
        else if (j == 0 || (t == UP && i > 0))
            c.up(i--);
        else
            c.left(j--);
    }
}

inline Alignment model_banded(const Codes &A, const Codes &B, Scores s, std::int64_t w,
                              const char *decode = kDistinct) {
    const std::int64_t n = A.size(), m = B.size();
    const Grid g = band_fill(A, B, s, w, s.gap);
    Columns c(A, B, decode);
    band_walk(g, n, m, w, c);
    return c.done(in_band(n, m, w) ? g.H[n][m] : kNegInf);
}

inline Alignment model_banded_semiglobal(const Codes &A, const Codes &B, Scores s,
                                         std::int64_t w, const char *decode = kDistinct) {
    const std::int64_t n = A.size(), m = B.size();
    const Grid g = band_fill(A, B, s, w, 0);
    std::int64_t best = kNegInf, end = n;
    for (std::int64_t i = 0; i <= n; ++i)
        if (in_band(i, m, w) && g.H[i][m] > best) best = g.H[i][m], end = i;
    Columns c(A, B, decode);
    for (std::int64_t i = n; i > end; --i) c.up(i);
    band_walk(g, end, m, w, c);
    return c.done(best);
}

// The two failure stages of every aligner: its first two reservations are
// the matrices (nothing written), the last two the working strings (only
// score written, and it already holds `score`). Also checks that no failing
// reservation leaks.
template <class Call>
void expect_two_stage_failure(std::size_t len_a, std::size_t len_b, Call call,
                              std::int32_t score) {
    ASSERT_EQ(engine_test::count_allocations([&] {
                  Outputs o(len_a, len_b);
                  return call(o);
              }),
              4);
    engine_test::expect_each_allocation_failure(
        [&] {
            Outputs o(len_a, len_b);
            return call(o);
        },
        [](std::int32_t result) { EXPECT_EQ(result, -1); });
    for (long nth = 1; nth <= 4; ++nth) {
        SCOPED_TRACE(testing::Message() << "reservation " << nth << " fails");
        Outputs o(len_a, len_b);
        std::int32_t result;
        {
            engine_test::FailNthAllocation guard(nth);
            result = call(o);
        }
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(o.strings_untouched());
        EXPECT_TRUE(o.counters_untouched());
        EXPECT_EQ(o.score, nth <= 2 ? kUnset : score);
    }
}

using PlainModel = Alignment (*)(const Codes &, const Codes &, Scores, const char *);

// A full-matrix aligner against its model on random inputs and scores, with
// both argument orders.
inline void expect_matches_model(PlainAligner f, PlainModel model, unsigned seed) {
    std::mt19937 rng(seed);
    for (int round = 0; round < 400; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 300));
        const Codes B = rng() % 2 ? mutate(rng, A, 20) : random_codes(rng, random_length(rng, 300));
        const Scores s = random_scores(rng);
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(run(f, A, B, s), model(A, B, s, kDistinct));
        ASSERT_EQ(run(f, B, A, s), model(B, A, s, kDistinct));
    }
}

// Both failure stages of a full-matrix aligner.
inline void expect_plain_failure_stages(PlainAligner f, PlainModel model) {
    const Codes A = nt("TTACGTACC"), B = nt("GACGACGG");
    const Scores s{2, -1, -2};
    expect_two_stage_failure(
        A.size(), B.size(), [&](Outputs &o) { return call(f, A, B, kDistinct, s, o); },
        model(A, B, s, kDistinct).score);
}

using BandedModel = Alignment (*)(const Codes &, const Codes &, Scores, std::int64_t, const char *);

// A banded aligner against its model on random inputs, scores and bands
// 0..40, with both argument orders.
inline void expect_matches_model(BandedAligner f, BandedModel model, unsigned seed) {
    std::mt19937 rng(seed);
    for (int round = 0; round < 600; ++round) {
        const Codes A = random_codes(rng, random_length(rng, 300));
        const Codes B = rng() % 3 ? mutate(rng, A, 20) : random_codes(rng, random_length(rng, 300));
        const Scores s = random_scores(rng);
        const auto band = static_cast<std::int32_t>(rng() % 41);
        SCOPED_TRACE(testing::Message() << "round " << round << " band " << band);
        ASSERT_EQ(run(f, A, B, s, band), model(A, B, s, band, kDistinct));
        ASSERT_EQ(run(f, B, A, s, band), model(B, A, s, band, kDistinct));
    }
}

// Both failure stages of a banded aligner, for narrow, middling and huge bands.
inline void expect_banded_failure_stages(BandedAligner f, BandedModel model) {
    const Codes A = nt("GTTGCAGTA"), B = nt("ACGTTGCA");
    const Scores s{2, -1, -2};
    for (std::int32_t band : {0, 3, INT32_MAX}) {
        SCOPED_TRACE(testing::Message() << "band " << band);
        expect_two_stage_failure(
            A.size(), B.size(), [&](Outputs &o) { return call(f, A, B, kDistinct, s, band, o); },
            model(A, B, s, band, kDistinct).score);
    }
}

// A negative band is refused before anything is reserved or written.
inline void expect_negative_band_refused(BandedAligner f) {
    const Codes A = nt("ACGT"), B = nt("ACT");
    for (std::int32_t band : {-1, -2, INT32_MIN}) {
        Outputs o(A.size(), B.size());
        EXPECT_EQ(call(f, A, B, kDistinct, {1, -1, -1}, band, o), -1);
        EXPECT_TRUE(o.strings_untouched());
        EXPECT_TRUE(o.counters_untouched());
        EXPECT_EQ(o.score, kUnset);
    }
}

}  // namespace align_test
