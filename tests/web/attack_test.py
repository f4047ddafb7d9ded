#!/usr/bin/python3
"""Cheap attacks on the web stack as scripts/serve.sh starts it, on loopback
only, each bounded in count and time: slow headers while a normal client's
GET / must keep answering within 1 s, oversized headers, thousands of ranges
and compressed bodies that must be refused without any process of the stack
growing past 50 MB, one client's abandoned runs that must not lock out
another's, a classroom behind one address served in full, a flood of the
most expensive runs from a few addresses that locks out neither newcomers nor
a class, nor does one of runs that look cheap but draw many classes, from 59
addresses or a fresh address per request, the charts of a flood kept within
the disk cap, queued runs whose clients hang up, no process of the stack running
as root, a stop within 2 s under attack, and serve.sh's own death, or that of
a server while it starts; and whom nginx's per-address limits count for.

Run through tests/web/attack_test.sh; --long is the version run by hand.
"""

import argparse
import asyncio
import concurrent.futures
import gzip
import http.client
import ipaddress
import os
import random
import re
import resource
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import web_stack

SKIP = 77
MEMORY_LIMIT_KIB = 50 * 1024
PROBE_INTERVAL = 0.5
PROBE_LIMIT = 1.0
TIME_LIMIT = 10  # of a run, so that abandoned runs end soon whatever happens

# One role per loopback address, as the stack tells clients apart by address.
PROBER = "127.0.0.1"
ATTACKER = "127.0.0.2"
VICTIM = "127.0.0.3"
FLOODER = "127.0.0.4"
CLASSROOM = "127.0.0.5"
BLOCKERS = "127.0.6."  # and a number: as many addresses as the test needs
HANGER = "127.0.0.8"
ROOT_CHECK = "127.0.0.9"
CHEAP_RUN = "/api/run?sides=3&radius=1&trials=1e5&seed=1&classes=0"
HELD_SEED = 4242  # a run of this seed waits until it is released (held_runs_build)
FORM_RUN = "sides=3&radius=1&trials=1e6&seed=%d&classes=0"


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        print(("ok:   " if condition else "FAIL: ") + message, flush=True)
        if not condition:
            self.failures.append(message)


def request(port, path, source=PROBER, method="GET", body=None, headers=None, timeout=10):
    """(status, headers, body) of one request on a fresh connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                            source_address=(source, 0))
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


# --- slow clients ---------------------------------------------------------

async def trickle_headers(port, deadline, interval, counts):
    """One slow client: a header line every `interval` seconds, never the end
    of the header; connects again whenever the server drops it."""
    while time.monotonic() < deadline:
        try:
            reader, writer = await asyncio.open_connection(
                "127.0.0.1", port, local_addr=(ATTACKER, 0))
        except OSError:
            counts["refused"] += 1
            await asyncio.sleep(0.1)
            continue
        counts["connections"] += 1
        try:
            writer.write(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
            line = 0
            while time.monotonic() < deadline:
                try:
                    await asyncio.wait_for(reader.read(4096), timeout=interval)
                    counts["dropped"] += 1
                    break
                except asyncio.TimeoutError:
                    writer.write(b"X-Slow-%d: %d\r\n" % (line, line))
                    line += 1
                    await writer.drain()
        except OSError:
            counts["dropped"] += 1
        finally:
            writer.close()


async def slow_clients(port, connections, seconds, interval=1.0):
    deadline = time.monotonic() + seconds
    counts = {"connections": 0, "dropped": 0, "refused": 0}
    await asyncio.gather(*(trickle_headers(port, deadline, interval, counts)
                           for _ in range(connections)))
    return counts


def probe_page(port, seconds, samples):
    """GET / every half second for `seconds`: (seconds taken or None, status)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        started = time.monotonic()
        try:
            status, _, _ = request(port, "/", timeout=5)
            samples.append((time.monotonic() - started, status))
        except OSError as error:
            samples.append((None, str(error)))
        time.sleep(max(0.0, PROBE_INTERVAL - (time.monotonic() - started)))


def run_wrk(url, seconds):
    if not shutil.which("wrk"):
        return "wrk is not installed"
    ran = subprocess.run(["wrk", "-t", "2", "-c", "32", "-d", f"{seconds}s", "--timeout", "5s",
                          "--latency", url], capture_output=True, text=True)
    return ran.stdout + ran.stderr


def check_slow_headers(stack, checks, connections, seconds, wrk_seconds):
    samples = []
    prober = threading.Thread(target=probe_page, args=(stack.port, seconds, samples))
    wrk_output = []
    wrk = threading.Thread(target=lambda: wrk_output.append(run_wrk(stack.url, wrk_seconds)))
    peak = {}
    watcher = threading.Thread(target=watch_memory, args=(stack, seconds, peak))
    prober.start()
    watcher.start()
    if wrk_seconds:
        wrk.start()
    counts = asyncio.run(slow_clients(stack.port, connections, seconds))
    prober.join()
    watcher.join()
    if wrk_seconds:
        wrk.join()
        print("wrk on GET / during the attack:\n" + wrk_output[0])
    times = [taken for taken, _ in samples if taken is not None]
    print(f"slow headers: {connections} clients for {seconds} s: {counts['connections']} "
          f"connections, {counts['dropped']} dropped by the server, {counts['refused']} refused; "
          f"GET / answered {len(times)} of {len(samples)} probes, median "
          f"{statistics.median(times) if times else 0:.3f} s, max {max(times, default=0):.3f} s; "
          f"peak resident memory {peak_text(peak)}")
    late = [(taken, status) for taken, status in samples
            if taken is None or taken > PROBE_LIMIT or status != 200]
    checks.expect(not late, f"GET / answers 200 within {PROBE_LIMIT} s throughout "
                  f"{connections} slow clients (late or failed: {late[:5]})")
    checks.expect(counts["dropped"] >= connections,
                  "the server drops clients that never finish their header")


# --- memory ---------------------------------------------------------------

def watch_memory(stack, seconds, peak):
    """Samples the resident memory of nginx's processes and polygons-web."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for pid, name in stack.servers().items():
            memory = web_stack.memory_kib(pid)
            if memory:
                peak[(pid, name)] = max(peak.get((pid, name), 0), memory[0])
        time.sleep(0.2)


def peak_text(peak):
    return ", ".join(f"{name} {pid} {kib / 1024:.1f} MB" for (pid, name), kib in sorted(peak.items()))


def check_peak_memory(stack, checks, after):
    peaks = {}
    for pid, name in stack.servers().items():
        memory = web_stack.memory_kib(pid)
        if memory:
            peaks[(pid, name)] = memory[1]
    print(f"peak resident memory after {after}: {peak_text(peaks)}")
    checks.expect(peaks and max(peaks.values()) < MEMORY_LIMIT_KIB,
                  f"no process of the stack grew past {MEMORY_LIMIT_KIB // 1024} MB ({after})")


# --- oversized and crafted requests ---------------------------------------

def many_header_lines():
    return b"".join(b"X-Fill-%06d: %s\r\n" % (i, b"a" * 1000) for i in range(64))


def one_long_header_line():
    return b"a" * 65536


def send_until_refused(port, head, chunk, max_bytes=64 << 20, seconds=10):
    """Sends `head`, then `chunk` again and again until the server answers:
    (bytes sent, status or None)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(ATTACKER, 0))
    sent = 0
    deadline = time.monotonic() + seconds
    try:
        sock.sendall(head)
        while sent < max_bytes and time.monotonic() < deadline:
            sock.sendall(chunk)
            sent += len(chunk)
            if select.select([sock], [], [], 0)[0]:
                break
    except OSError:
        pass
    try:
        reply = sock.recv(200)
        found = re.match(rb"HTTP/1\.[01] (\d{3})", reply)
        return sent, int(found.group(1)) if found else None
    except OSError:
        return sent, None
    finally:
        sock.close()


def check_oversized_headers(stack, checks):
    cases = [
        ("64 MB of 1 KB header lines", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", many_header_lines()),
        ("one header line of 64 MB", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: ",
         one_long_header_line()),
        ("a request line of 64 MB", b"GET /?", one_long_header_line()),
    ]
    for name, head, chunk in cases:
        sent, status = send_until_refused(stack.port, head, chunk)
        checks.expect(status in (None, 400, 414, 431, 494),
                      f"{name}: refused (status {status}, {sent >> 10} KB sent before the refusal)")


def chart_of_cheap_run(port):
    status, headers, body = request(
        port, "/api/run?sides=3&radius=1&trials=1000&seed=1&classes=0", source=VICTIM, timeout=30)
    found = re.search(rb"^chart: (/runs/\S+)$", body, re.M)
    return status, found.group(1).decode() if found else None


def check_ranges(stack, checks):
    ranges = {"Range": "bytes=" + ",".join(["0-0"] * 2000)}
    status, chart = chart_of_cheap_run(stack.port)
    checks.expect(status == 200 and chart, f"a cheap run answers 200 with a chart ({status})")
    paths = ["/"] + ([chart] if chart else [])
    for path in paths:
        full = request(stack.port, path)[2]
        status, _, body = request(stack.port, path, headers=ranges)
        checks.expect(status != 206 and len(body) <= len(full),
                      f"GET {path} with 2,000 ranges: no multipart answer "
                      f"(status {status}, {len(body)} bytes, the file is {len(full)})")


def check_refused_requests(stack, checks):
    bomb = gzip.compress(b"sides=3&radius=1&trials=1000&seed=1&classes=0&pad=" + b"0" * (1 << 20))
    cases = [
        # (what, path, method, body, headers, statuses expected)
        ("a gzip body to /api/run", "/api/run", "POST", bomb,
         {"Content-Encoding": "gzip", "Content-Type": "application/x-www-form-urlencoded"}, {415}),
        ("a gzip body to /run", "/run", "POST", bomb,
         {"Content-Encoding": "gzip", "Content-Type": "application/x-www-form-urlencoded"}, {415}),
        ("a 64 KB body", "/run", "POST", b"sides=3&pad=" + b"0" * 65536,
         {"Content-Type": "application/x-www-form-urlencoded"}, {413}),
        ("another site's Host", "/", "GET", None, {"Host": "attacker.example"}, {421}),
        ("a run directory listing", "/runs/", "GET", None, {}, {404}),
        ("a path out of the run directories", "/runs/../../../etc/passwd", "GET", None, {}, {400, 404}),
        ("a chart of a run id in upper case", "/runs/" + "A" * 32 + "/gnu.png", "GET", None, {},
         {404}),
    ]
    for what, path, method, body, headers, expected in cases:
        try:
            status = request(stack.port, path, source=FLOODER, method=method, body=body,
                             headers=headers)[0]
        except OSError as error:
            status = str(error)
        checks.expect(status in expected, f"{what}: {sorted(expected)} ({status})")


def check_rate_limit(stack, checks):
    answers = [request(stack.port, "/api/run?sides=x", source=FLOODER)[:2] for _ in range(60)]
    limited = [headers for status, headers in answers if status == 429]
    checks.expect(limited and all("Retry-After" in headers for headers in limited),
                  f"60 quick runs from one client: {len(limited)} answered 429 with Retry-After")


# --- abandoned runs -------------------------------------------------------

def numbers_in(text):
    return [float(n.replace(",", "")) for n in re.findall(r"\d[\d,]*(?:\.\d+)?(?:[eE][+-]?\d+)?",
                                                          text)]


def expensive_trials(port, share=0.8, sides=1000, source=ATTACKER, timeout=1):
    """`share` of the largest trial count for `sides` sides that the service
    still accepts (it names it when refusing more), or 1e8 when it refuses
    nothing."""
    try:
        status, _, body = request(port, f"/api/run?sides={sides}&radius=1&trials=1e8&seed=1&classes=0",
                                  source=source, timeout=timeout)
    except OSError:
        return 10**8
    if status != 400:
        return 10**8
    allowed = [n for n in numbers_in(body.decode(errors="replace")) if 1000 < n < 1e8]
    return int(share * max(allowed)) if allowed else None


def abandon_run(port, trials, after=0.5, posing_as=9):
    """An expensive run whose client hangs up; it claims to forward for another
    address each time, which the front server must not pass on."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(ATTACKER, 0))
    sock.sendall(b"GET /api/run?sides=1000&radius=1&trials=%d&seed=1&classes=0 HTTP/1.1\r\n"
                 b"Host: 127.0.0.1\r\nX-Forwarded-For: 10.9.9.%d\r\nX-Real-IP: 10.9.9.%d\r\n\r\n"
                 % (trials, posing_as, posing_as))
    time.sleep(after)
    sock.close()


def check_abandoned_runs(stack, checks):
    trials = expensive_trials(stack.port)
    checks.expect(trials is not None, "the service names the largest trial count it accepts")
    if trials is None:
        return
    for client in range(6):
        abandon_run(stack.port, trials, posing_as=client)
        time.sleep(0.05)
    started = time.monotonic()
    try:
        status = request(stack.port, "/api/run?sides=3&radius=1&trials=1000&seed=2&classes=0",
                         source=VICTIM, timeout=30)[0]
    except OSError as error:
        status = str(error)
    taken = time.monotonic() - started
    checks.expect(status == 200 and taken < 3,
                  f"after six abandoned runs of {trials} trials from one client, another client's "
                  f"cheap run answers 200 at once ({status} in {taken:.2f} s)")


# --- fair share -------------------------------------------------------------

# The program as the stack runs it, but for a run of HELD_SEED: that one reads
# its input and waits until the file `release` beside the real program
# exists (at most a minute), whatever the speed of the machine.
HELD_RUNS_PROGRAM = """#!/bin/bash
here=@HERE@
IFS= read -r sides; IFS= read -r radius; IFS= read -r trials_seed
read -r _ seed _ <<<"$trials_seed"
if [ "$seed" = @SEED@ ]; then
  cat >/dev/null
  for _ in $(seq 1200); do [ -e "$here/release" ] && break; sleep 0.05; done
  echo held
  exit 0
fi
exec "$here/polygons" "$@" < <(printf '%s\\n' "$sides" "$radius" "$trials_seed"; cat)
"""


def held_runs_build(build, folder):
    """A build folder in `folder` (readable by all, as the servers may run as
    another user) whose polygons is HELD_RUNS_PROGRAM in front of the real
    one (in the subfolder real, with release), and whose polygons-web is the
    real one: the folder of the release file."""
    real = os.path.join(folder, "real")
    os.makedirs(real)
    shutil.copy(os.path.join(build, "polygons"), real)
    shutil.copy(os.path.join(build, "polygons-web"), folder)
    with open(os.path.join(folder, "polygons"), "w") as program:
        program.write(HELD_RUNS_PROGRAM.replace("@HERE@", real).replace("@SEED@", str(HELD_SEED)))
    for path in (folder, real, os.path.join(folder, "polygons")):
        os.chmod(path, 0o755)
    return real

def timed_request(port, path, source, method="GET", body=None, timeout=150):
    """(status or the error, seconds taken) of one request."""
    started = time.monotonic()
    headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else None
    try:
        status = request(port, path, source=source, method=method, body=body, headers=headers,
                         timeout=timeout)[0]
    except OSError as error:
        status = type(error).__name__
    return status, time.monotonic() - started


def form_runs_at_once(port, source, count):
    """`count` form runs of 1e6 triangles posted at once from one address:
    [(status, seconds)]."""
    with concurrent.futures.ThreadPoolExecutor(count) as pool:
        return list(pool.map(
            lambda seed: timed_request(port, "/run", source, "POST", FORM_RUN % seed),
            range(1, count + 1)))


def answers_text(answers):
    statuses = sorted({str(status) for status, _ in answers})
    counts = {status: sum(1 for s, _ in answers if str(s) == status) for status in statuses}
    slowest = max((taken for _, taken in answers), default=0)
    return f"{counts}, slowest {slowest:.1f} s"


def check_classroom(stack, checks, count=30, limit=30):
    answers = form_runs_at_once(stack.port, CLASSROOM, count)
    checks.expect(all(status == 200 for status, _ in answers) and
                  max(taken for _, taken in answers) <= limit,
                  f"a classroom of {count} behind one address runs 1e6 triangles each at once: "
                  f"all 200 within {limit} s ({answers_text(answers)})")


def keep_runs_in_flight(port, source, path, deadline, answers):
    """One expensive run after another from `source` until the deadline (a
    moment's pause after a refusal)."""
    while time.monotonic() < deadline:
        answers.append(timed_request(port, path, source))
        if answers[-1][0] != 200:
            time.sleep(0.2)


def newcomers_and_a_class(port, until, every, class_with, newcomer_network, class_source):
    """A newcomer's cheap run every `every` s until `until`, each from an
    address of its own in `newcomer_network`, and with the `class_with`-th of
    them a class of 10 behind `class_source`: their answers, once all came."""
    newcomers, class_answers, threads = [], [], []
    n = 0
    while time.monotonic() < until:
        n += 1
        newcomer = threading.Thread(target=lambda source: newcomers.append(
            timed_request(port, CHEAP_RUN, source)), args=(f"{newcomer_network}.{n}",))
        newcomer.start()
        threads.append(newcomer)
        if n == class_with:
            group = threading.Thread(target=lambda: class_answers.extend(
                form_runs_at_once(port, class_source, 10)))
            group.start()
            threads.append(group)
        time.sleep(every)
    for thread in threads:
        thread.join()
    return newcomers, class_answers


def check_flood(stack, checks, addresses, seconds, newcomer_limit=10):
    """`addresses` flooders each keep one run of the largest cost in flight
    for `seconds`; a newcomer's cheap run every 2 s and, a third of the way
    in, a class of 10 behind one address must be served meanwhile."""
    trials = expensive_trials(stack.port, share=1.0)
    if trials is None:
        checks.expect(False, "the service names the largest trial count it accepts")
        return
    expensive = f"/api/run?sides=1000&radius=1&trials={trials}&seed=1&classes=0"
    started = time.monotonic()
    deadline = started + seconds
    flood_answers = []
    threads = [threading.Thread(target=keep_runs_in_flight,
                                args=(stack.port, f"127.0.1.{n + 1}", expensive, deadline,
                                      flood_answers))
               for n in range(addresses)]
    for thread in threads:
        thread.start()
    time.sleep(2.0)
    newcomers, class_answers = newcomers_and_a_class(
        stack.port, until=deadline - newcomer_limit / 2, every=2.0, class_with=1 + seconds // 6,
        newcomer_network="127.0.2", class_source="127.0.3.1")
    for thread in threads:
        thread.join()
    what = (f"a flood of {trials} trials of 1000 sides from {addresses} addresses for "
            f"{seconds} s (flood: {answers_text(flood_answers)})")
    checks.expect(newcomers and all(status == 200 and taken <= newcomer_limit
                                    for status, taken in newcomers),
                  f"{what}: every newcomer's cheap run answers 200 within {newcomer_limit} s "
                  f"({answers_text(newcomers)})")
    checks.expect(len(class_answers) == 10 and all(status == 200 for status, _ in class_answers),
                  f"{what}: a class of 10 behind one address is served in full "
                  f"({answers_text(class_answers)})")


CHEAP_LOOKING_RUN = "/api/run?sides=3&radius=1&trials=1000&seed=1&classes=10000"


def check_cheap_looking_flood(stack, checks, fresh, seconds=24, in_flight=70, fixed=59,
                              newcomer_limit=3, class_limit=15):
    """`in_flight` runs kept in flight of few trials and many classes (their
    chart is most of their cost), from `fixed` addresses or from a fresh
    address per request, all of one /24 (a network shares as one); newcomers'
    cheap runs every 1.5 s and a class of 10 behind one address must be
    served meanwhile."""
    started = time.monotonic()
    deadline = started + seconds
    flood_answers = []
    counter = iter(range(10**6))

    def flooder(n):
        while time.monotonic() < deadline:
            source = (f"127.0.5.{next(counter) % 254 + 1}" if fresh
                      else f"127.0.4.{n % fixed + 1}")
            flood_answers.append(timed_request(stack.port, CHEAP_LOOKING_RUN, source))
            if flood_answers[-1][0] != 200:
                time.sleep(0.2)

    threads = [threading.Thread(target=flooder, args=(n,)) for n in range(in_flight)]
    for thread in threads:
        thread.start()
    time.sleep(2.0)
    newcomers, class_answers = newcomers_and_a_class(
        stack.port, until=deadline - newcomer_limit, every=1.5, class_with=4,
        newcomer_network="127.0.7", class_source="127.0.8.1")
    for thread in threads:
        thread.join()
    what = (f"{in_flight} runs of 1000 trials and 10000 classes in flight from "
            f"{'a fresh address of one /24 per request' if fresh else f'{fixed} addresses'} "
            f"for {seconds} s (flood: {answers_text(flood_answers)})")
    checks.expect(len(newcomers) >= 12 and all(status == 200 and taken <= newcomer_limit
                                               for status, taken in newcomers),
                  f"{what}: every newcomer's cheap run answers 200 within {newcomer_limit} s "
                  f"({answers_text(newcomers)})")
    checks.expect(len(class_answers) == 10 and all(status == 200 and taken <= class_limit
                                                   for status, taken in class_answers),
                  f"{what}: a class of 10 behind one address is served in full within "
                  f"{class_limit} s ({answers_text(class_answers)})")


def abandoned_in_queue(log_text, source):
    return len(re.findall(r"run - status 499 .* for %s " % re.escape(source), log_text))


def check_hang_up_while_queued(stack, checks, release, hangers=4):
    # Held runs of the largest cost, one in every run slot (one per core) and
    # as many again queued behind them, go on until they are released. The
    # cost asked by an address of their own, which no earlier check has used.
    trials = expensive_trials(stack.port, share=1.0, sides=10000, source=f"{BLOCKERS}254",
                              timeout=10)
    if trials is None or trials >= 10**8:
        checks.expect(False, f"the service names the largest trial count it accepts ({trials})")
        return
    expensive = f"/api/run?sides=10000&radius=1&trials={trials}&seed={HELD_SEED}&classes=0"
    sources = [f"{BLOCKERS}{k}" for k in range(1, 2 * (os.cpu_count() or 1) + 1)]
    blockers = [threading.Thread(target=timed_request, args=(stack.port, expensive, source))
                for source in sources]
    for blocker in blockers:
        blocker.start()
    time.sleep(0.3)
    sockets = []
    for _ in range(hangers):
        sock = socket.create_connection(("127.0.0.1", stack.port), timeout=5,
                                        source_address=(HANGER, 0))
        sock.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % expensive.encode())
        sockets.append(sock)
    time.sleep(0.3)
    hung_up = time.monotonic()
    for sock in sockets:
        sock.close()
    while (abandoned_in_queue(stack.log_text(), HANGER) < hangers and
           time.monotonic() - hung_up < 5):
        time.sleep(0.02)
    taken = time.monotonic() - hung_up
    running = any(blocker.is_alive() for blocker in blockers)
    with open(release, "w"):
        pass
    for blocker in blockers:
        blocker.join()
    os.remove(release)
    checks.expect(abandoned_in_queue(stack.log_text(), HANGER) == hangers and taken < 1 and running,
                  f"{hangers} queued runs whose client hangs up leave the queue at once, while "
                  f"the runs ahead of them go on ({taken:.2f} s)")


def check_nothing_runs_as_root(stack, checks):
    trials = expensive_trials(stack.port) or 10**6
    run = threading.Thread(target=timed_request, args=(
        stack.port, f"/api/run?sides=1000&radius=1&trials={trials}&seed=1&classes=0", ROOT_CHECK))
    run.start()
    members = {}
    for _ in range(200):
        members = {pid: name for pid, (_, session, state, name) in
                   web_stack.process_table().items() if session in stack.sessions and state != "Z"}
        if "polygons" in members.values():
            break
        time.sleep(0.02)
    owners = {f"{name} {pid}": web_stack.uid_of(pid) for pid, name in members.items()}
    run.join()
    # A process that ended meanwhile (None) ran as no one.
    checks.expect("polygons" in members.values() and 0 not in owners.values(),
                  f"no process of the stack runs as root, a run included (serve.sh started by "
                  f"uid {os.getuid()}: {owners})")


# --- the disk the charts take -----------------------------------------------

def disk_kib(root):
    """The disk that the files and directories under `root` take, in KiB."""
    total = 0
    for path, dirs, files in os.walk(root):
        for name in dirs + files:
            try:
                total += os.lstat(os.path.join(path, name)).st_blocks * 512
            except OSError:
                pass
    return total // 1024


def check_disk_cap(build, checks, limit_mb=4, runs=120, clients=4):
    """A flood of the largest charts (10000 classes, about 48 KB each)
    against a stack whose charts may take `limit_mb` MB: every run answers
    200, and the charts stay within the cap (at the peak, with the files of
    the runs in progress, within the cap and 2 MB for each run at once)."""
    stack = web_stack.start(build, ["--time-limit", str(TIME_LIMIT), "--disk-limit",
                                    str(limit_mb)])
    try:
        root = os.path.join(stack.runtime, "work", "tmp")
        path = "/api/run?sides=3&radius=1&trials=1e5&seed=%d&classes=10000"
        peak, done = [0], threading.Event()

        def watch():
            while not done.is_set():
                peak[0] = max(peak[0], disk_kib(root))
                time.sleep(0.05)

        watcher = threading.Thread(target=watch)
        watcher.start()
        with concurrent.futures.ThreadPoolExecutor(clients) as pool:
            answers = list(pool.map(lambda n: timed_request(
                stack.port, path % n, f"127.0.9.{n % clients + 1}"), range(1, runs + 1)))
        done.set()
        watcher.join()
        final = disk_kib(root)
        cap = limit_mb * 1024
        in_progress = ((os.cpu_count() or 1) + 1) * 2048  # the run slots and the quick lane
        checks.expect(all(status == 200 for status, _ in answers) and final <= cap and
                      peak[0] <= cap + in_progress,
                      f"{runs} runs of the largest charts under a cap of {limit_mb} MB: all 200 "
                      f"({answers_text(answers)}), the charts take {final} KiB after, "
                      f"{peak[0]} KiB at most")
    finally:
        stack.kill_leftovers()


# --- who nginx's limits count for -------------------------------------------

CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "deploy",
                      "nginx.conf.in")


def client_keys(addresses):
    """The client nginx's limits count each address for, by the map of
    deploy/nginx.conf.in in an nginx of its own that takes the address from a
    header."""
    with open(CONFIG) as config:
        block = re.search(r"^    map \$remote_addr \$client \{.*?^    \}$", config.read(),
                          re.M | re.S).group(0)
    port = web_stack.free_port()
    with tempfile.TemporaryDirectory() as runtime:
        temp = " ".join(f"{kind}_temp_path {runtime}/{kind};"
                        for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(f"{runtime}/nginx.conf", "w") as conf:
            conf.write(f"daemon off; pid {runtime}/nginx.pid; error_log stderr error; events {{}}\n"
                       f"http {{ {temp} access_log off;\n{block}\n"
                       f"server {{ listen 127.0.0.1:{port}; set_real_ip_from 127.0.0.1; "
                       f"real_ip_header X-Address; location / {{ return 200 $client; }} }} }}\n")
        nginx = subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-p", runtime + "/",
                                  "-c", f"{runtime}/nginx.conf", "-e", "stderr"])
        try:
            for _ in range(100):
                if os.path.exists(f"{runtime}/nginx.pid"):
                    break
                time.sleep(0.05)
            return [request(port, "/", headers={"X-Address": address})[2].decode()
                    for address in addresses]
        finally:
            nginx.terminate()
            nginx.wait()


def check_client_keys(checks):
    """An IPv6 address counts by its /64 whatever zeros its text leaves out."""
    rng = random.Random(1)
    prefixes = ["2001:db8:1:2", "2001:db8:1:0", "2001:db8:0:0", "2001:0:0:5", "2001:0:0:0",
                "0:0:5:6", "0:0:0:6", "0:0:0:0", "fe80:0:0:0"]
    hosts = ["0:0:0:0", "0:0:0:1", "1:0:0:0", "1:2:3:4", "0:0:1:2"] + [
        ":".join(rng.choice(["0", "0", "%x" % rng.randrange(1 << 16)]) for _ in range(4))
        for _ in range(6)]
    addresses = [str(ipaddress.ip_address(f"{prefix}:{host}")) for prefix in prefixes
                 for host in hosts] + ["127.0.0.5", "::ffff:1.2.3.4"]
    expected = [":".join("%x" % int(group, 16) for group in
                         ipaddress.ip_address(address).exploded.split(":")[:4])
                if ":" in address and "." not in address else address for address in addresses]
    got = client_keys(addresses)
    wrong = [(a, g, e) for a, g, e in zip(addresses, got, expected) if g != e]
    with open(CONFIG) as config:
        zones = re.findall(r"^\s*limit_\w+_zone (\S+)", config.read(), re.M)
    checks.expect(zones and set(zones) == {"$client"} and not wrong, f"nginx's limits ({zones}) count an IPv4 address as itself and an IPv6 address "
                  f"by its /64, {len(addresses)} addresses (wrong: {wrong[:5]})")


def check_nginx_takes_the_service_values(stack, checks, build, service_args):
    """Every value polygons-web names for its front server, for the options
    the stack was started with, stands where the template asks for it in the
    configuration nginx runs with, and no field is left unfilled."""
    limits = subprocess.run([os.path.join(build, "polygons-web"), "--print-limits", *service_args],
                            capture_output=True, text=True).stdout
    values = dict(line.split(" ", 1) for line in limits.splitlines())
    with open(CONFIG) as template, open(os.path.join(stack.runtime, "nginx.conf")) as running:
        template_lines, running_lines = template.read().splitlines(), running.read().splitlines()
    expected = []
    for line in template_lines:
        names = [name for name in values if f"@{name}@" in line]
        for name in names:
            line = line.replace(f"@{name}@", values[name])
        if names:
            expected.append(line.strip())
    missing = [line for line in expected if line not in (l.strip() for l in running_lines)]
    unused = [name for name in values if not any(f"@{name}@" in line for line in template_lines)]
    unfilled = [line for line in running_lines
                if not line.lstrip().startswith("#") and re.search(r"@[A-Z_]+@", line)]
    checks.expect(len(values) >= 5 and not unused and not missing and not unfilled,
                  f"nginx runs with polygons-web's own values for {' '.join(service_args)} "
                  f"({values}; not in the template {unused}, missing {missing}, "
                  f"unfilled {unfilled})")


# --- stopping -------------------------------------------------------------

def check_sigkill_leaves_nothing(stack, checks):
    trials = expensive_trials(stack.port) or 10**6
    run = threading.Thread(target=abandon_run, args=(stack.port, trials, 2))
    run.start()
    time.sleep(0.5)
    seconds = stack.stop(signal.SIGKILL)
    run.join()
    try:
        request(stack.port, "/", timeout=1)
        serving = True
    except OSError:
        serving = False
    checks.expect(seconds is not None and seconds <= 2.0 and not serving,
                  f"serve.sh SIGKILLed during a run: every process of the stack is gone within "
                  f"2 s and nothing serves ({seconds if seconds is None else round(seconds, 2)} s)")


def check_death_during_start_up(build, checks, server):
    """Kills `server` as soon as it exists, before serve.sh has said it serves."""
    process, log = web_stack.launch(build, ["--time-limit", str(TIME_LIMIT)])
    victim, started = None, time.monotonic()
    while victim is None and time.monotonic() - started < 10 and process.poll() is None:
        table = web_stack.process_table()
        sessions = web_stack.sessions_of(process)
        victim = next((pid for pid, (_, session, state, name) in table.items()
                       if session in sessions and name == server and state != "Z"), None)
    if victim is not None:
        os.kill(victim, signal.SIGKILL)
    killed = time.monotonic()
    try:
        status = process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        status = None
        process.kill()
        process.wait()
    taken = time.monotonic() - killed
    stack = web_stack.Stack(process, "http://127.0.0.1:0/", web_stack.sessions_of(process), log)
    leftovers = stack.members()
    stack.kill_leftovers()
    log.seek(0)
    checks.expect(victim is not None and status == 1 and not leftovers,
                  f"{server} killed while serve.sh starts: serve.sh exits 1 within 5 s, leaving "
                  f"nothing (status {status} in {taken:.2f} s; it said: {log.read().strip()!r})")


def check_stop_under_attack(stack, checks, signum):
    trials = expensive_trials(stack.port) or 10**6
    attack = threading.Thread(target=lambda: asyncio.run(slow_clients(stack.port, 300, 4)))
    attack.start()
    run = threading.Thread(target=abandon_run, args=(stack.port, trials, 3))
    run.start()
    time.sleep(1.5)
    seconds = stack.stop(signum)
    attack.join()
    run.join()
    checks.expect(seconds is not None and seconds <= 2.0,
                  f"{signal.Signals(signum).name} under attack stops the whole stack within 2 s, "
                  f"leaving no process ({seconds if seconds is None else round(seconds, 2)} s)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="directory of polygons and polygons-web")
    parser.add_argument("--long", action="store_true",
                        help="1000 slow clients for 60 s with wrk load on GET /")
    args = parser.parse_args()
    if not web_stack.nginx_installed():
        print("skipped: nginx is not installed")
        return SKIP
    connections, seconds, wrk_seconds = (1000, 60, 60) if args.long else (300, 10, 0)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 65536), hard))

    checks = Checks()
    started = time.monotonic()
    check_client_keys(checks)
    # The first stack's program holds the runs of HELD_SEED until released.
    folder = tempfile.mkdtemp(prefix="polygons-attack-")
    try:
        release = os.path.join(held_runs_build(args.build, folder), "release")
        stack = web_stack.start(folder, ["--time-limit", str(TIME_LIMIT)])
        try:
            check_nginx_takes_the_service_values(stack, checks, folder,
                                                 ["--time-limit", str(TIME_LIMIT)])
            check_slow_headers(stack, checks, connections, seconds, wrk_seconds)
            check_oversized_headers(stack, checks)
            check_ranges(stack, checks)
            check_refused_requests(stack, checks)
            check_peak_memory(stack, checks, "the header, range and body attacks")
            check_rate_limit(stack, checks)
            check_abandoned_runs(stack, checks)
            check_nothing_runs_as_root(stack, checks)
            check_hang_up_while_queued(stack, checks, release)
            check_classroom(stack, checks)
            check_flood(stack, checks, 6, 15)
            check_stop_under_attack(stack, checks, signal.SIGINT)
            if checks.failures:
                print("serve.sh said:\n" + stack.log_text())
        finally:
            stack.kill_leftovers()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    stack = web_stack.start(args.build, ["--time-limit", str(TIME_LIMIT)])
    try:
        check_cheap_looking_flood(stack, checks, fresh=False)
        check_cheap_looking_flood(stack, checks, fresh=True)
        check_stop_under_attack(stack, checks, signal.SIGTERM)
        if checks.failures:
            print("serve.sh said:\n" + stack.log_text())
    finally:
        stack.kill_leftovers()
    # Started by a caller whose files no one else may read: the servers, as
    # another user when this is root, still start.
    stack = web_stack.start(args.build, ["--time-limit", str(TIME_LIMIT)], umask=0o077)
    try:
        check_sigkill_leaves_nothing(stack, checks)
    finally:
        stack.kill_leftovers()
    for server in ("polygons-web", "nginx"):
        check_death_during_start_up(args.build, checks, server)
    check_disk_cap(args.build, checks)

    print(f"attack test: {'passed' if not checks.failures else f'{len(checks.failures)} failures'}"
          f" in {time.monotonic() - started:.0f} s")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
