"""How the module behaves as a Python library: refusals as exceptions with
the program's messages, Ctrl-C, threads, the version, the exact figures."""

import json
import math
import os
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import time

import numpy as np
import pytest

import polygons

PROGRAM = os.environ["POLYGONS_BINARY"]


def program_refusal(stdin):
    """The message of the program's refusal of an input."""
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(os.path.join(scratch, "tmp"))
        done = subprocess.run([PROGRAM], input=stdin, capture_output=True, text=True, cwd=scratch)
    assert done.returncode == 2, done.stderr
    return done.stderr.strip().removeprefix("polygons: ")


class RaisingIndex:
    def __index__(self):
        raise ArithmeticError("raised by __index__")


# The call, the exception, and the program's input that it refuses the same
# way (None: the program cannot be asked this, or words its message for text).
REFUSALS = [
    (dict(sides=0), ValueError, "0\n1\n1000 1\n0\n0\n"),
    (dict(sides=-4), ValueError, "-4\n1\n1000 1\n0\n0\n"),
    (dict(sides=3, radius=0.0), ValueError, "3\n0\n1000 1\n0\n0\n"),
    (dict(sides=3, radius=1e-310), ValueError, "3\n1e-310\n1000 1\n0\n0\n"),  # read as 0
    (dict(sides=3, radius=1e308), ValueError, "3\n1e308\n1000 1\n0\n0\n"),
    (dict(sides=3, radius=math.inf), ValueError, None),
    (dict(sides=3, radius=10**400), ValueError, None),
    (dict(sides=3, radius=math.nan), ValueError, None),
    (dict(sides=3, trials=math.nan), ValueError, None),
    (dict(sides=2**31), ValueError, None),
    (dict(sides=3, seed=-2**31 - 1), ValueError, None),
    (dict(sides=3, classes=2**31 - 1), MemoryError, None),
    (dict(sides=3, threads=0), ValueError, None),
    (dict(sides=3, threads=2**70), ValueError, None),
    (dict(sides=3, isa="sse9"), ValueError, None),
    (dict(sides=3.0), TypeError, None),
    (dict(sides=True), TypeError, None),
    (dict(sides="3"), TypeError, None),
    (dict(sides=3, radius="1"), TypeError, None),
    (dict(sides=3, trials="1e6"), TypeError, None),
    (dict(sides=3, seed=1.5), TypeError, None),
    (dict(sides=3, classes=None), TypeError, None),
    (dict(sides=3, threads=2.0), TypeError, None),
    (dict(sides=3, isa=3), TypeError, None),
    (dict(sides=3, isa="\udcff"), ValueError, None),
    (dict(sides=np.bool_(True)), TypeError, None),
    (dict(sides=3, seed=RaisingIndex()), ArithmeticError, None),
]


@pytest.mark.parametrize("call, error, stdin", REFUSALS, ids=[repr(c[0]) for c in REFUSALS])
def test_refusals_raise_with_the_programs_message(call, error, stdin):
    with pytest.raises(error) as raised:
        polygons.simulate(**call)
    if stdin is not None:
        assert str(raised.value) == program_refusal(stdin)
    if "classes" not in call and "trials" not in call:
        with pytest.raises(error):
            polygons.perimeters(**call)


def test_perimeters_refuse_what_memory_cannot_hold_before_allocating():
    for trials in (0, -1, 2**62):
        with pytest.raises(ValueError, match="trials"):
            polygons.perimeters(3, trials=trials)
    with pytest.raises(ValueError, match="between 1 and 10000"):
        polygons.exact_moments(0)
    with pytest.raises(ValueError):
        polygons.exact_moments(10001)


def test_limits_warn_and_are_reported():
    with pytest.warns(UserWarning, match="Augmenting N to 1.000E\\+03"):
        run = polygons.simulate(4, trials=10)
    assert run.trials == 1000 and run.warnings == ["%Wrn Augmenting N to 1.000E+03"]
    assert run.classes == 11  # ceil(log2 1000) + 1


def test_seed_0_takes_the_clock_and_says_which_words_it_gave():
    run = polygons.simulate(3, trials=1000, seed=0)
    assert run.seed == 0 and run.seed_state != polygons.simulate(3, trials=1000).seed_state
    assert all(0 < word < 2**31 for word in run.seed_state)


def test_the_result_as_plain_values_and_the_exact_figures():
    run = polygons.simulate(6, 2.0, 20_000, 3)
    exact = polygons.exact_moments(6, 2.0)
    assert (run.exact_mean, run.exact_sd) == (exact.mean, exact.sd)
    assert run.standard_error == run.sd / math.sqrt(run.trials)
    assert run.z == (run.mean - exact.mean) / run.standard_error
    record = json.loads(json.dumps(run.to_dict()))
    assert record["parameters"] == dict(sides=6, radius=2.0, trials=20_000, seed=3, classes=16)
    assert [c["count"] for c in record["classes"]] == run.counts.tolist()
    assert (record["average"], record["theory"]["mean"], record["z"]) == (run.mean, exact.mean, run.z)
    three = polygons.simulate(3, trials=2000, seed=3)
    record = json.loads(json.dumps(three.to_dict()))
    assert [c["exact_probability"] for c in record["classes"]] == three.exact_probabilities.tolist()
    assert record["fit"] == three.fit._asdict() and three.fit.degrees_of_freedom > 0
    with pytest.raises(ValueError):
        run.counts[0] = 1  # the arrays are the run's, read-only
    beyond = polygons.simulate(10_001, trials=1000)
    assert beyond.exact_mean is None and beyond.z is None and beyond.exact_probabilities is None
    assert beyond.to_dict()["fit"]["p_value"] is None and beyond.fit.degrees_of_freedom == 0
    assert "sides=6" in repr(run) and "Result" in polygons.simulate.__doc__


def test_version_is_the_programs():
    shown = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True, check=True)
    assert shown.stdout.strip() == "polygons " + polygons.__version__


def test_threads_run_while_the_trials_do_and_each_call_gets_its_own_result():
    alone = {seed: polygons.simulate(12, trials=1e7, seed=seed, threads=1) for seed in (1, 2)}
    together, ticks = {}, 0

    def simulate(seed):
        together[seed] = polygons.simulate(12, trials=1e7, seed=seed, threads=1)

    workers = [threading.Thread(target=simulate, args=(seed,)) for seed in (1, 2)]
    for worker in workers:
        worker.start()
    while any(worker.is_alive() for worker in workers):
        ticks += 1  # this thread runs Python while both runs go on
        time.sleep(0.001)
    for seed in (1, 2):
        assert together[seed].counts.tolist() == alone[seed].counts.tolist()
        assert (together[seed].mean, together[seed].sd) == (alone[seed].mean, alone[seed].sd)
    assert ticks > 5


CHILD = textwrap.dedent("""
    import signal, sys, polygons
    call, sides = getattr(polygons, sys.argv[1]), int(sys.argv[2])
    # Python code that runs during the trials keeps Python's own arithmetic.
    signal.signal(signal.SIGUSR1, lambda *_: print("subnormal", float("1e-310") > 0, flush=True))
    print("running", flush=True)
    try:
        call(sides, trials=10**6 if sys.argv[1] == "perimeters" else 2e9, progress=True)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    print("usable", polygons.simulate(3, trials=1000).trials, flush=True)
""")


# The largest polygons have chunks of many seconds: Ctrl-C stops them inside.
@pytest.mark.parametrize("call, sides", [("simulate", 2000), ("perimeters", 2000),
                                         ("simulate", 100_000)])
def test_ctrl_c_stops_a_long_run_within_a_second(call, sides):
    child = subprocess.Popen([sys.executable, "-c", CHILD, call, str(sides)],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        assert child.stdout.readline() == "running\n"
        time.sleep(0.5)
        child.send_signal(signal.SIGUSR1)
        assert child.stdout.readline() == "subnormal True\n"
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        assert child.stdout.readline() == "interrupted\n"
        assert time.monotonic() - sent < 1.0
        assert child.stdout.readline() == "usable 1000\n"
        assert child.wait(timeout=10) == 0
    finally:
        child.kill()
        child.wait()
