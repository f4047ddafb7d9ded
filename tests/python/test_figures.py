"""The module's figures against the program's: simulate() gives, bit for bit,
what build/polygons writes to results.tsv for the same parameters, on every
kernel set this processor has and at 1 and 2 threads; perimeters() gives the
values those runs count."""

import os
import subprocess
import tempfile

import numpy as np
import pytest

import polygons

PROGRAM = os.environ["POLYGONS_BINARY"]

# sides, radius, trials, seed, classes: lanes and bucket sort, one and many
# chunks, the trial limit, a negative radius and seed, a real trial count.
RUNS = [
    (3, 1.0, 1000, 1, 0),
    (5, 2.5, 500, 7, 0),
    (7, -1.5, 20000, 11, 13),
    (1, 1.0, 2000, 3, 0),
    (2, 1.0, 3000, 5, 20),
    (40, 1.0, 1.5e5, 123, 0),
    (300, 0.5, 4000, 9, 50),
    (2000, 1.0, 1500, 2, 30),
    (17, 3.0, 1234.6, -5, 0),
]


def run_program(sides, radius, trials, seed, classes):
    """The program's report lines and results file for one parameter set."""
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(os.path.join(scratch, "tmp"))
        env = dict(os.environ, POLYGONS_RESULTS="1", USER="tester")
        stdin = f"{sides}\n{radius!r}\n{trials!r} {seed}\n{classes}\n0\n"  # no template: no chart
        done = subprocess.run([PROGRAM], input=stdin, capture_output=True, text=True,
                              cwd=scratch, env=env, check=True)
        with open(os.path.join(scratch, "tmp", "results.tsv")) as results:
            return done.stdout, parse_results(results.read())


def parse_results(text):
    lines = text.splitlines()
    assert lines[0] == "polygons-results\t2"
    header = lines.index("centre\tcount\tdensity\tcumulative\texact_probability")
    named = dict(line.split("\t") for line in lines[1:header])
    rows = [line.split("\t") for line in lines[header + 1:]]
    columns = {name: [row[i] for row in rows] for i, name in enumerate(lines[header].split("\t"))}
    return named, columns


def same(a, b):
    """Equal, or both NaN (a run without a test has NaN figures)."""
    return a == b or (a != a and b != b)


def report_lines(stdout):
    """The parameter and result lines of the program's report."""
    lines = stdout.splitlines()
    first = next(i for i, line in enumerate(lines) if line.startswith(" .Sides,"))
    last = next(i for i, line in enumerate(lines) if line.startswith(" Mode x, y,"))
    return lines[first:last + 1]


@pytest.fixture(scope="module", params=RUNS, ids=lambda run: "-".join(map(str, run)))
def program_run(request):
    return request.param, run_program(*request.param)


@pytest.mark.filterwarnings("ignore::UserWarning")
@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("isa", polygons.kernel_sets())
def test_simulate_gives_the_programs_figures(program_run, isa, threads):
    (sides, radius, trials, seed, classes), (stdout, (named, columns)) = program_run
    run = polygons.simulate(sides, radius, trials, seed, classes, threads=threads, isa=isa)
    assert (run.isa, run.threads) == (isa, threads)
    for name, value in [("sides", run.sides), ("radius", run.radius), ("trials", run.trials),
                        ("seed", run.seed), ("classes", run.classes),
                        ("width", run.class_width), ("min", run.range[0]), ("max", run.range[1]),
                        ("average", run.mean), ("stdev", run.sd),
                        ("mode_x", run.mode.x), ("mode_y", run.mode.y)] + list(run.fit._asdict().items()):
        assert same(type(value)(named[name]), value), name
    for name, array, kind in [("centre", run.centres, float), ("count", run.counts, int),
                              ("density", run.density, float),
                              ("cumulative", run.cumulative, float)]:
        assert array.tolist() == [kind(text) for text in columns[name]], name
    exact = run.exact_probabilities
    exact = exact.tolist() if exact is not None else [float("nan")] * run.classes
    assert all(map(same, exact, map(float, columns["exact_probability"])))
    assert run.counts.dtype == np.int64 and run.counts.sum() == run.trials
    assert run.report().splitlines() == report_lines(stdout)


def test_perimeters_are_the_values_the_run_counts():
    sides, radius, trials, seed, classes = 9, 1.3, 50_000, 4, 25
    run = polygons.simulate(sides, radius, trials, seed, classes)
    values = polygons.perimeters(sides, radius, trials, seed)
    assert values.dtype == np.float64 and values.shape == (trials,)
    # Classed as the run classes them: the slot of 1 + (P - min) / width,
    # the upper end folded into the last class.
    slots = np.clip(np.floor(1.0 + (values - run.range[0]) / run.class_width), 1, classes + 1)
    counts = np.bincount(slots.astype(np.int64) - 1, minlength=classes + 1)
    counts[classes - 1] += counts[classes]
    assert counts[:classes].tolist() == run.counts.tolist()
    assert values.mean() == pytest.approx(run.mean, rel=1e-12)
    # The same values on every kernel set and thread count, and a shorter
    # run's are the first of a longer one's.
    for isa in polygons.kernel_sets():
        for threads in (1, 2):
            again = polygons.perimeters(sides, radius, trials, seed, threads=threads, isa=isa)
            assert np.array_equal(again, values), (isa, threads)
    assert np.array_equal(polygons.perimeters(sides, radius, 777, seed), values[:777])
    large = polygons.perimeters(2000, 1.0, 300, 8)
    assert np.array_equal(polygons.perimeters(2000, 1.0, 299, 8), large[:299])
