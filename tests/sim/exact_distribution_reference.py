#!/usr/bin/env python3
"""P(S <= s) for S = sin(pi D_1) + ... + sin(pi D_n), the D_i the arcs between
n points uniform on a circle (in full turns), for n = 2, 3, 4, to 30 digits
by numerical integration (python3-mpmath). The perimeter for radius R is 2 R S.
Usage: exact_distribution_reference.py n:s ..."""
import sys
from mpmath import mp, mpf, quad, sin, cos, acos, asin, pi

mp.dps = 30
MAXDEGREE = 8


def chord(r):
    """Largest sum of the sines of two arcs that add up to r (the equal split)."""
    return 2 * sin(pi * r / 2)


def pair_cdf(z, r):
    """P(sin(pi r U) + sin(pi r (1 - U)) <= z), U uniform: the sum is
    chord(r) cos(pi r (U - 1/2)), from sin(pi r) up to chord(r)."""
    top = chord(r)
    if z >= top:
        return mpf(1)
    if z <= sin(pi * r):
        return mpf(0)
    return 1 - 2 * acos(z / top) / (pi * r)


def roots(f, pieces):
    """The roots of f by bisection, f monotone on each of the pieces."""
    found = []
    for a, b in pieces:
        fa, fb = f(a), f(b)
        if fa * fb > 0 or fa == 0:
            continue
        for _ in range(2 * mp.prec):
            m = (a + b) / 2
            if m in (a, b):
                break
            if f(m) * fa > 0:
                a = m
            else:
                b = m
        found.append((a + b) / 2)
    return found


def integrate(f, lo, hi, cuts):
    points = sorted({lo, hi} | {c for c in cuts if lo < c < hi})
    return quad(f, points, maxdegree=MAXDEGREE)


def cdf3(s):
    # r = D2 + D3 has density 2 r; the pair's CDF switches at 2 sin(pi r) = s
    # (monotone on both sides of 1/2) and sin(pi r) + chord(r) = s (of 2/3).
    pieces = [(mpf(0), mpf(1) / 2), (mpf(1) / 2, mpf(2) / 3), (mpf(2) / 3, mpf(1))]
    cuts = roots(lambda r: 2 * sin(pi * r) - s, pieces) \
        + roots(lambda r: sin(pi * r) + chord(r) - s, pieces) + [p[0] for p in pieces]
    return integrate(lambda r: 2 * r * pair_cdf(s - sin(pi * r), r), 0, 1, cuts)


def pairs_given_split(s, r):
    """P(S <= s) given D3 + D4 = r, integrated over the first pair's split:
    Z1 = chord(1 - r) cos(pi (1 - r) w), w = |U - 1/2| uniform on [0, 1/2],
    decreases in w, so the second pair's CDF at s - Z1 rises from 0 to 1."""
    q, top1 = 1 - r, chord(1 - r)

    def crossing(z):  # the w where s - Z1(w) = z, clipped to [0, 1/2]
        c = (s - z) / top1
        return mpf(0) if c >= 1 else mpf(1) / 2 if c <= cos(pi * q / 2) else acos(c) / (pi * q)

    w_lo, w_hi = crossing(sin(pi * r)), crossing(chord(r))
    between = quad(lambda w: pair_cdf(s - top1 * cos(pi * q * w), r), [w_lo, w_hi],
                   maxdegree=MAXDEGREE) if w_lo < w_hi else 0
    return 2 * (mpf(1) / 2 - w_hi + between)


def cdf4(s):
    # r = D3 + D4 has density 6 r (1 - r), symmetric under r -> 1 - r. The
    # inner breakpoints reach w = 0 (Z1 at its top) or w = 1/2 (its bottom)
    # where these change sign; each is monotone on [0, 1/3] and [1/3, 1/2].
    edges = [lambda r: chord(1 - r) + sin(pi * r), lambda r: chord(1 - r) + chord(r),
             lambda r: 2 * sin(pi * r), lambda r: sin(pi * r) + chord(r)]
    pieces = [(mpf(0), mpf(1) / 3), (mpf(1) / 3, mpf(1) / 2)]
    cuts = [mpf(1) / 3] + [x for e in edges for x in roots(lambda r: e(r) - s, pieces)]
    return 2 * integrate(lambda r: 6 * r * (1 - r) * pairs_given_split(s, r),
                         0, mpf(1) / 2, cuts)


def cdf(n, s):
    if s <= 0:
        return mpf(0)
    if s >= n * sin(pi / n):
        return mpf(1)
    if n == 2:  # S = 2 sin(pi U)
        return 2 * asin(s / 2) / pi
    return {3: cdf3, 4: cdf4}[n](s)


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        n, s = arg.split(":")
        if n not in ("2", "3", "4"):
            sys.exit(f"exact_distribution_reference.py: n must be 2, 3 or 4 in {arg}")
        print(f"{{{n}, {s}, {mp.nstr(cdf(int(n), mpf(s)), 20, strip_zeros=False)}}},", flush=True)
