#include "map/window_align.h"

#include <immintrin.h>

#include "align/banded_simd.h"
#include "align/traceback_runs.h"
#include "map/cigar.h"
#include "map/map_one.h"
#include "seqio/codes.h"

namespace engine {

namespace {

// With equal lengths every gapped path has as many up as left moves, so g of
// each leave len - g pairs: it scores at most 2 (len - g) - 2 * 2g =
// 2 len - 6g <= 2 len - 6. The gapless pairing with x mismatches scores
// 2 len - 3x, which is above that for x <= 1: it is then the only best path,
// the main diagonal always lies in the band, and the kernel's traceback,
// which follows best choices, can only walk it.
constexpr std::int32_t UNGAPPED_MAX_MISMATCHES = 1;
static_assert(MAP_MATCH == 2 && MAP_MISMATCH == -1 && MAP_GAP == -2 && MAP_BAND >= 0,
              "the gapless shortcut is proven for these scores only");

// Positions where the codes differ, counted until `limit` is passed.
std::int32_t count_mismatches(const std::uint8_t *a, const std::uint8_t *b, std::int32_t len,
                              std::int32_t limit) {
    std::int32_t count = 0, i = 0;
    for (; i + 32 <= len && count <= limit; i += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i));
        const auto equal = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(va, vb)));
        count += __builtin_popcount(~equal);
    }
    for (; i < len && count <= limit; ++i) count += a[i] != b[i];
    return count;
}

}  // namespace

bool align_window(const std::uint8_t *ref, const std::uint8_t *read, std::int32_t len,
                  std::uint64_t *run_store, std::size_t run_capacity, WindowAlignment &aln) {
    const std::int32_t mismatches = count_mismatches(ref, read, len, UNGAPPED_MAX_MISMATCHES);
    if (mismatches <= UNGAPPED_MAX_MISMATCHES) {
        aln = WindowAlignment{len, len - mismatches, mismatches, 0, true, nullptr, 0};
        return true;
    }
    TracebackRuns moves(ref, read, run_store, run_capacity);
    std::int32_t score = 0;
    aln.ungapped = false;
    aln.n_cols = banded_diag_simd_runs(len > MAP_I16_MAX_LEN, ref, len, read, len, MAP_MATCH,
                                       MAP_MISMATCH, MAP_GAP, MAP_BAND, &score, moves,
                                       &aln.n_match, &aln.n_mismatch, &aln.n_gap);
    aln.runs = moves.runs();
    aln.n_runs = moves.n_runs();
    return aln.n_cols >= 0;
}

std::int32_t append_window_cigar(const WindowAlignment &aln, char *cigar, std::int32_t cigar_cap,
                                 std::int32_t *offset) {
    if (aln.n_cols <= 0) return 0;
    if (aln.ungapped) return append_cigar_run(aln.n_cols, 'M', cigar, cigar_cap, offset);
    return append_cigar_moves(aln.runs, aln.n_runs, cigar, cigar_cap, offset);
}

}  // namespace engine
