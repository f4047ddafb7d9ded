#!/usr/bin/python3
"""Cheap attacks on the web stack as scripts/serve.sh starts it, on loopback
only, each bounded in count and time: slow headers while a normal client's
GET / must keep answering within 1 s, oversized headers, thousands of ranges
and compressed bodies that must be refused without any process of the stack
growing past 50 MB, one client's abandoned runs that must not lock out
another's, and a stop within 2 s under attack.

Run through tests/web/attack_test.sh; --long is the version run by hand.
"""

import argparse
import asyncio
import gzip
import http.client
import re
import resource
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
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
    answers = [request(stack.port, "/api/run?sides=x", source=FLOODER)[:2] for _ in range(20)]
    limited = [headers for status, headers in answers if status == 429]
    checks.expect(limited and all("Retry-After" in headers for headers in limited),
                  f"20 quick runs from one client: {len(limited)} answered 429 with Retry-After")


# --- abandoned runs -------------------------------------------------------

def numbers_in(text):
    return [float(n.replace(",", "")) for n in re.findall(r"\d[\d,]*(?:\.\d+)?(?:[eE][+-]?\d+)?",
                                                          text)]


def expensive_trials(port):
    """The largest trial count for 1000 sides that the service still accepts
    (it names it when refusing more), or 1e8 when it refuses nothing."""
    try:
        status, _, body = request(port, "/api/run?sides=1000&radius=1&trials=1e8&seed=1&classes=0",
                                  source=ATTACKER, timeout=1)
    except OSError:
        return 10**8
    if status != 400:
        return 10**8
    allowed = [n for n in numbers_in(body.decode(errors="replace")) if 1000 < n < 1e8]
    return int(0.8 * max(allowed)) if allowed else None


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


# --- stopping -------------------------------------------------------------

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
    stack = web_stack.start(args.build, ["--time-limit", str(TIME_LIMIT)])
    try:
        check_slow_headers(stack, checks, connections, seconds, wrk_seconds)
        check_oversized_headers(stack, checks)
        check_ranges(stack, checks)
        check_refused_requests(stack, checks)
        check_peak_memory(stack, checks, "the header, range and body attacks")
        check_rate_limit(stack, checks)
        check_abandoned_runs(stack, checks)
        check_stop_under_attack(stack, checks, signal.SIGINT)
        if checks.failures:
            print("serve.sh said:\n" + stack.log_text())
    finally:
        stack.kill_leftovers()
    stack = web_stack.start(args.build, ["--time-limit", str(TIME_LIMIT)])
    try:
        check_stop_under_attack(stack, checks, signal.SIGTERM)
    finally:
        stack.kill_leftovers()

    print(f"attack test: {'passed' if not checks.failures else f'{len(checks.failures)} failures'}"
          f" in {time.monotonic() - started:.0f} s")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
