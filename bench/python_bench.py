#!/usr/bin/env python3
"""The Python module against the straightforward NumPy script, in one run.

Prints trials per second of polygons.simulate (2 threads unless --threads)
and of a NumPy script that does the same job (uniform points, sorted
angles, chords, histogram, mean and deviation) at 3, 10, 100 and 1000
sides, and their ratio; then the cost of a 1000-trial simulate call against
that of starting the program for the same run.

Usage: PYTHONPATH=build/python python3 bench/python_bench.py
           [--program build/polygons] [--threads 2] [--seconds 1.5]
"""

import argparse
import os
import statistics
import subprocess
import tempfile
import time

import numpy as np

import polygons


def numpy_run(sides, radius, trials, seed, classes):
    """The histogram, mean and deviation of the perimeter, as one writes it
    in NumPy: blocks of trials of about a million draws each."""
    rng = np.random.default_rng(seed)
    width = 2 * sides * radius * np.sin(np.pi / sides) / classes
    counts = np.zeros(classes + 1, dtype=np.int64)
    total = squares = 0.0
    block = max(1, 1_000_000 // sides)
    for start in range(0, trials, block):
        count = min(block, trials - start)
        angles = np.sort(rng.random((count, sides)), axis=1)
        gaps = np.diff(angles, axis=1, append=angles[:, :1] + 1.0)
        perimeters = 2 * radius * np.sin(np.pi * gaps).sum(axis=1)
        counts += np.bincount(np.minimum((perimeters / width).astype(np.int64), classes),
                              minlength=classes + 1)
        total += perimeters.sum()
        squares += (perimeters ** 2).sum()
    mean = total / trials
    return counts, mean, np.sqrt(max(squares / trials - mean * mean, 0.0))


def rate(call, trials, seconds):
    """Trials per second of call(trials), the best of repeats within `seconds`."""
    best = float("inf")
    deadline = time.perf_counter() + seconds
    while True:
        start = time.perf_counter()
        call(trials)
        best = min(best, time.perf_counter() - start)
        if time.perf_counter() > deadline:
            return trials / best


def trials_for(sides, draws):
    return max(1000, draws // sides)


def median_seconds(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default="build/polygons")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--seconds", type=float, default=1.5,
                        help="time spent on each measurement")
    args = parser.parse_args()

    isa = polygons.simulate(3, trials=1000, threads=args.threads).isa
    print(f"polygons {polygons.__version__}, kernel set {isa}, "
          f"{args.threads} threads; NumPy {np.__version__}, one thread")
    print(f"{'sides':>6} {'simulate trials/s':>18} {'NumPy trials/s':>15} {'ratio':>7}")
    for sides in (3, 10, 100, 1000):
        ours = rate(lambda n: polygons.simulate(sides, trials=n, seed=1, classes=50,
                                                threads=args.threads),
                    trials_for(sides, 40_000_000), args.seconds)
        theirs = rate(lambda n: numpy_run(sides, 1.0, n, 1, 50),
                      trials_for(sides, 2_000_000), args.seconds)
        print(f"{sides:>6} {ours:>18.4g} {theirs:>15.4g} {ours / theirs:>7.1f}")

    polygons.simulate(3, trials=1000)  # the first call's one-time costs aside
    in_process = median_seconds(lambda: polygons.simulate(3, trials=1000, seed=1), 500)
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(os.path.join(scratch, "tmp"))
        program = os.path.abspath(args.program)

        def start_program():
            subprocess.run([program], input=b"3\n1\n1000 1\n0\n0\n", cwd=scratch,
                           stdout=subprocess.DEVNULL, check=True)

        started = median_seconds(start_program, 50)
    print(f"a run of 1000 triangles: simulate {in_process * 1e3:.3f} ms, "
          f"starting the program {started * 1e3:.2f} ms (no chart), {started / in_process:.0f} times more")


if __name__ == "__main__":
    main()
