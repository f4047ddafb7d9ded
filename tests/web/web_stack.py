"""The whole web stack, nginx in front of polygons-web, as scripts/serve.sh
starts it: on a free loopback port, with its processes found through /proc so
that a test can measure them and prove that none is left after a stop.
"""

import os
import re
import selectors
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SERVE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "serve.sh")


def nginx_installed():
    return bool(shutil.which("nginx") or os.access("/usr/sbin/nginx", os.X_OK))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def process_table():
    """pid -> (ppid, session, state, name) of every process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text[text.rindex(")") + 2:].split()
        table[int(entry)] = (int(fields[1]), int(fields[3]), fields[0], name)
    return table


def uid_of(pid):
    """The real user id of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("Uid:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def memory_kib(pid):
    """(resident, peak resident) of a process in KiB, or None when it is gone."""
    values = {}
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    values[key] = int(rest.split()[0])
    except OSError:
        return None
    return values.get("VmRSS", 0), values.get("VmHWM", 0)


class Stack:
    def __init__(self, process, url, sessions, log):
        self.process = process
        self.url = url
        self.port = int(url.rsplit(":", 1)[1].strip("/"))
        self.sessions = sessions
        self.log = log
        self.runtime = _runtime_of(sessions)

    def members(self):
        """Live processes of the stack: serve.sh and everything in the servers' sessions."""
        table = process_table()
        return sorted(pid for pid, (_, session, state, _) in table.items()
                      if state != "Z" and (session in self.sessions or pid == self.process.pid))

    def servers(self):
        """pid -> name of nginx's processes and polygons-web (not the runs)."""
        table = process_table()
        return {pid: name for pid, (_, session, state, name) in table.items()
                if state != "Z" and session in self.sessions
                and (name == "nginx" or name == "polygons-web")}

    def stop(self, signum=signal.SIGTERM):
        """Sends the signal to serve.sh; returns the seconds until it and every
        process of the stack were gone, or None after 10 s."""
        started = time.monotonic()
        self.process.send_signal(signum)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            return None
        while self.members():
            if time.monotonic() - started > 10:
                return None
            time.sleep(0.01)
        return time.monotonic() - started

    def kill_leftovers(self):
        for pid in self.members():
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        if self.process.poll() is None:
            self.process.wait()
        # What serve.sh, killed, could not remove.
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)

    def log_text(self):
        self.log.seek(0)
        return self.log.read()


def launch(build, extra_args=(), umask=-1):
    """scripts/serve.sh started on a free port (with `umask` when given):
    (process, its log file)."""
    log = tempfile.TemporaryFile(mode="w+")
    process = subprocess.Popen(
        ["bash", SERVE, "--port", str(free_port()), "--build", build, *extra_args],
        stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL, text=True, umask=umask)
    return process, log


def sessions_of(process):
    """The sessions serve.sh started its servers in."""
    return {pid for pid, (ppid, session, *_rest) in process_table().items()
            if ppid == process.pid and session == pid}


def _runtime_of(sessions):
    """The runtime directory of serve.sh, from polygons-web's --workdir."""
    for pid in sessions:
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                args = cmdline.read().decode(errors="replace").split("\0")
        except OSError:
            continue
        if "--workdir" in args:
            return os.path.dirname(args[args.index("--workdir") + 1])
    return None


def start(build, extra_args=(), attempts=3, timeout=30, umask=-1):
    """Starts scripts/serve.sh on a free port (another one when the port was
    taken meanwhile); returns a Stack, or raises RuntimeError with its log."""
    for _ in range(attempts):
        process, log = launch(build, extra_args, umask)
        line = _first_line(process, timeout)
        found = re.search(r"serving (http://\S+/)", line)
        if found:
            return Stack(process, found.group(1), sessions_of(process), log)
        if process.poll() is None:
            process.kill()
        process.wait()
        log.seek(0)
        text = log.read()
        if "did not start on" not in text:
            raise RuntimeError(f"serve.sh did not start:\n{text}")
    raise RuntimeError(f"serve.sh found no free port in {attempts} attempts:\n{text}")


def _first_line(process, timeout):
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        if not selector.select(timeout):
            return ""
        return process.stdout.readline()
