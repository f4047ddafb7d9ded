#!/usr/bin/python3
"""Figures of the web stack under a classroom, floods and connection floods,
run by hand (a few minutes; loopback only, every loop bounded in count and
time). Prints what each measurement gave; the exit status is 1 when a figure
misses its target:
  - 30 form runs of 1e6 triangles at once from one address: all 200, the
    slowest within 30 s;
  - 6, then 59, addresses each keeping one run of the largest cost in flight
    for 40 s: every newcomer's cheap run 200 within 10 s, a class of 10
    behind one address served in full;
  - nginx's memory (all its processes) under 16,500 slow request bodies (a
    byte every 3 s) and while 17,000 keep-alive connections are held: under
    100 MB.

Usage: tests/web/capacity_figures.py [--build DIR] [--time-limit S]
"""

import argparse
import asyncio
import resource
import sys
import threading
import time

import attack_test
import web_stack

MEMORY_TARGET_KIB = 100 * 1024


def nginx_resident_kib(stack):
    total = 0
    for pid, name in stack.servers().items():
        memory = web_stack.memory_kib(pid) if name == "nginx" else None
        total += memory[0] if memory else 0
    return total


def watch_nginx(stack, stop, peak):
    while not stop.is_set():
        peak["kib"] = max(peak.get("kib", 0), nginx_resident_kib(stack))
        time.sleep(0.2)


def source_address(n):
    """The n-th of many loopback source addresses (127.1.0.0 on)."""
    return f"127.1.{n // 250}.{n % 250 + 1}"


async def connect(port, n, counts):
    """The n-th client's connection, 50 to each source address: (reader,
    writer), or None when it could not connect."""
    try:
        connection = await asyncio.wait_for(asyncio.open_connection(
            "127.0.0.1", port, local_addr=(source_address(n // 50), 0)), timeout=10)
    except (OSError, asyncio.TimeoutError):
        counts["not connected"] += 1
        return None
    counts["connected"] += 1
    return connection


async def slow_body(port, n, deadline, counts):
    """A POST whose body comes a byte every 3 s."""
    connection = await connect(port, n, counts)
    if not connection:
        return
    reader, writer = connection
    try:
        writer.write(b"POST /run HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     b"Content-Type: application/x-www-form-urlencoded\r\n"
                     b"Content-Length: 8000\r\n\r\ns")
        while time.monotonic() < deadline:
            try:
                if await asyncio.wait_for(reader.read(4096), timeout=3):
                    counts["answered"] += 1
                else:
                    counts["dropped"] += 1
                return
            except asyncio.TimeoutError:
                writer.write(b"0")
                await writer.drain()
    except OSError:
        counts["dropped"] += 1
    finally:
        writer.close()


async def keep_alive(port, n, deadline, counts):
    """A connection that asks for the form again every 4 s, keeping it alive."""
    connection = await connect(port, n, counts)
    if not connection:
        return
    reader, writer = connection
    try:
        while time.monotonic() < deadline:
            writer.write(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            await writer.drain()
            if not await asyncio.wait_for(reader.read(65536), timeout=10):
                counts["dropped"] += 1
                return
            await asyncio.sleep(4)
        counts["held to the end"] += 1
    except (OSError, asyncio.TimeoutError):
        counts["dropped"] += 1
    finally:
        writer.close()


def connection_flood(stack, client, connections, seconds):
    """Runs `connections` clients for `seconds`: (counts, peak nginx KiB)."""
    counts = {"connected": 0, "not connected": 0, "answered": 0, "dropped": 0,
              "held to the end": 0}
    peak, stop = {}, threading.Event()
    watcher = threading.Thread(target=watch_nginx, args=(stack, stop, peak))
    watcher.start()

    async def flood():
        deadline = time.monotonic() + seconds
        tasks = []
        for n in range(connections):
            tasks.append(asyncio.ensure_future(client(stack.port, n, deadline, counts)))
            if n % 500 == 499:
                await asyncio.sleep(0.1)
        await asyncio.gather(*tasks)

    asyncio.run(flood())
    stop.set()
    watcher.join()
    return counts, peak.get("kib", 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--time-limit", type=int, default=60)
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 65536), hard))
    checks = attack_test.Checks()
    stack = web_stack.start(args.build, ["--time-limit", str(args.time_limit)])
    try:
        attack_test.check_classroom(stack, checks)
        attack_test.check_flood(stack, checks, 6, 40)
        attack_test.check_flood(stack, checks, 59, 40)
    finally:
        stack.kill_leftovers()
    # Each on a fresh stack: nginx keeps what it once took.
    for what, client, connections in (("slow request bodies", slow_body, 16500),
                                      ("keep-alive connections held", keep_alive, 17000)):
        stack = web_stack.start(args.build, ["--time-limit", str(args.time_limit)])
        try:
            before = nginx_resident_kib(stack)
            counts, peak = connection_flood(stack, client, connections, 40)
            time.sleep(2)
            after = nginx_resident_kib(stack)
        finally:
            stack.kill_leftovers()
        checks.expect(peak < MEMORY_TARGET_KIB,
                      f"{connections} {what} for 40 s: nginx (all processes) peaked at "
                      f"{peak / 1024:.1f} MB ({before / 1024:.1f} MB before, "
                      f"{after / 1024:.1f} MB after; {counts})")
    print(f"capacity figures: {len(checks.failures)} targets missed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
