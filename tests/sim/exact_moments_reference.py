#!/usr/bin/env python3
"""Mean and standard deviation of the perimeter of the polygon through n
points uniform on a circle of radius R, to 50 digits, by numerical
integration over the gap densities (python3-mpmath).
Usage: exact_moments_reference.py n:R ..."""
import sys
from mpmath import mp, mpf, quad, sin, cos, pi, sqrt

mp.dps = 50


def moments(n, radius):
    if n == 1:
        return mpf(0), mpf(0)
    # One gap has density (n-1)(1-g)^(n-2); the gaps crowd near 0 for large n.
    points = [0] + [mpf(10) ** -k for k in range(6, 0, -1)] + [1]
    integral = lambda f: quad(f, points, maxdegree=10)
    one_gap = lambda f: integral(lambda g: (n - 1) * (1 - g) ** (n - 2) * f(g))
    mean_sin = one_gap(lambda g: sin(pi * g))
    mean_sin2 = one_gap(lambda g: sin(pi * g) ** 2)
    if n == 2:  # the two gaps are g and 1 - g: the same sine
        mean_sin_sin = mean_sin2
    else:  # two gaps g1, g2 with g1 + g2 = s, integrated over g1 in closed form
        mean_sin_sin = integral(lambda s: (n - 1) * (n - 2) * (1 - s) ** (n - 3)
                                * (sin(pi * s) / pi - s * cos(pi * s)) / 2)
    mean = 2 * n * mean_sin
    second = 4 * (n * mean_sin2 + n * (n - 1) * mean_sin_sin)
    r = mpf(radius)
    return r * mean, abs(r) * sqrt(second - mean ** 2)


for arg in sys.argv[1:]:
    n, radius = arg.split(":")
    mean, stdev = moments(int(n), radius)
    print(f"{{{n}, {radius}, {mp.nstr(mean, 20)}, {mp.nstr(stdev, 20)}}},")
