"""Plain dynamic-programming models of the aligners, cell by cell, with the
library's tie order (diagonal, then up = gap in B, then left = gap in A)."""

from typing import Dict, List, Tuple

NEG = -1073741824
DIAG, UP, LEFT = 0, 1, 2
DECODE = "ACGT" + "N" * 28

Result = Tuple[str, str, int, int, int, int]


class _Emitter:
    def __init__(self, a: bytes, b: bytes) -> None:
        self.a, self.b = a, b
        self.cols: List[Tuple[str, str]] = []
        self.match = self.mismatch = self.gap = 0

    def diag(self, i: int, j: int) -> None:
        self.cols.append((DECODE[self.a[i - 1]], DECODE[self.b[j - 1]]))
        if self.a[i - 1] == self.b[j - 1]:
            self.match += 1
        else:
            self.mismatch += 1

    def up(self, i: int) -> None:
        self.cols.append((DECODE[self.a[i - 1]], "-"))
        self.gap += 1

    def left(self, j: int) -> None:
        self.cols.append(("-", DECODE[self.b[j - 1]]))
        self.gap += 1

    def result(self, score: int) -> Result:
        cols = self.cols[::-1]
        return ("".join(c[0] for c in cols), "".join(c[1] for c in cols), score, self.match,
                self.mismatch, self.gap)


def _full(a: bytes, b: bytes, ma: int, mi: int, gap: int, row0_free: bool, local: bool):
    n, m = len(a), len(b)
    H = [[0] * (m + 1) for _ in range(n + 1)]
    T = [[DIAG] * (m + 1) for _ in range(n + 1)]
    if not local:
        for i in range(1, n + 1):
            H[i][0], T[i][0] = i * gap, UP
        for j in range(1, m + 1):
            H[0][j], T[0][j] = (0 if row0_free else j * gap), LEFT
    best = (0, 0, 0)
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            d = H[i - 1][j - 1] + (ma if a[i - 1] == b[j - 1] else mi)
            u = H[i - 1][j] + gap
            l = H[i][j - 1] + gap
            if local:
                d = max(d, 0)
                value, code = (d, DIAG) if d >= u else (u, UP)
                if l > value:
                    value, code = l, LEFT
                if value > best[0]:
                    best = (value, i, j)
            elif d >= max(u, l):
                value, code = d, DIAG
            elif u >= l:
                value, code = u, UP
            else:
                value, code = l, LEFT
            H[i][j], T[i][j] = value, code
    return H, T, best


def _trace(e: _Emitter, T, i: int, j: int, H=None) -> None:
    while i > 0 or j > 0:
        if H is not None and H[i][j] <= 0:
            return
        code = T[i][j]
        if code == DIAG:
            e.diag(i, j)
            i, j = i - 1, j - 1
        elif code == UP:
            e.up(i)
            i -= 1
        else:
            e.left(j)
            j -= 1
        if H is not None and (i == 0 or j == 0):
            return


def nw_global(a: bytes, b: bytes, ma: int, mi: int, gap: int) -> Result:
    H, T, _ = _full(a, b, ma, mi, gap, False, False)
    e = _Emitter(a, b)
    _trace(e, T, len(a), len(b))
    return e.result(H[len(a)][len(b)])


def nw_semiglobal(a: bytes, b: bytes, ma: int, mi: int, gap: int) -> Result:
    n, m = len(a), len(b)
    H, T, _ = _full(a, b, ma, mi, gap, True, False)
    best, ei, ej = -(2**31), n, m
    for j in range(m + 1):
        if H[n][j] > best:
            best, ei, ej = H[n][j], n, j
    for i in range(n + 1):
        if H[i][m] > best:
            best, ei, ej = H[i][m], i, m
    e = _Emitter(a, b)
    for i in range(n, ei, -1):
        e.up(i)
    for j in range(m, ej, -1):
        e.left(j)
    _trace(e, T, ei, ej)
    return e.result(best)


def sw_align(a: bytes, b: bytes, ma: int, mi: int, gap: int) -> Result:
    H, T, (best, bi, bj) = _full(a, b, ma, mi, gap, False, True)
    e = _Emitter(a, b)
    if bi > 0 and bj > 0:
        _trace(e, T, bi, bj, H)
    return e.result(best)


def banded(a: bytes, b: bytes, ma: int, mi: int, gap: int, w: int, semiglobal: bool) -> Result:
    n, m = len(a), len(b)
    S: Dict[Tuple[int, int], int] = {(0, 0): 0}
    T: Dict[Tuple[int, int], int] = {}
    for j in range(1, min(m, w) + 1):
        S[0, j], T[0, j] = (0 if semiglobal else j * gap), LEFT
    for i in range(1, min(n, w) + 1):
        S[i, 0], T[i, 0] = i * gap, UP
    for i in range(1, n + 1):
        for j in range(max(1, i - w), min(m, i + w) + 1):
            k = j - i + w
            pd = S.get((i - 1, j - 1), NEG)
            sd = NEG if pd == NEG else pd + (ma if a[i - 1] == b[j - 1] else mi)
            pu = S.get((i - 1, j), NEG) if k < 2 * w else NEG
            su = NEG if pu == NEG else pu + gap
            pl = S.get((i, j - 1), NEG) if k > 0 else NEG
            sl = NEG if pl == NEG else pl + gap
            if sd != NEG and sd >= max(su, sl):
                S[i, j], T[i, j] = sd, DIAG
            elif su != NEG and su >= sl:
                S[i, j], T[i, j] = su, UP
            else:
                S[i, j], T[i, j] = sl, (LEFT if sl != NEG else DIAG)
    ei = n
    if semiglobal:
        score = NEG
        for i in range(max(0, m - w), min(n, m + w) + 1):
            value = S.get((i, m), NEG)
            if value > score:
                score, ei = value, i
    else:
        score = S.get((n, m), NEG) if 0 <= m - n + w <= 2 * w else NEG
    e = _Emitter(a, b)
    for i in range(n, ei, -1):
        e.up(i)
    i, j = ei, m
    while i > 0 or j > 0:
        k = j - i + w
        if not 0 <= k <= 2 * w:
            step = "d" if i > 0 and j > 0 else ("u" if j == 0 else "l")
        else:
            code = T.get((i, j), DIAG)
            if code == DIAG and i > 0 and j > 0:
                step = "d"
            elif j == 0 or (code == UP and i > 0):
                step = "u"
            else:
                step = "l"
        if step == "d":
            e.diag(i, j)
            i, j = i - 1, j - 1
        elif step == "u":
            e.up(i)
            i -= 1
        else:
            e.left(j)
            j -= 1
    return e.result(score)
