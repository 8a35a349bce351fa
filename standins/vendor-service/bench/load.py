#!/usr/bin/env python3
"""Load on the vendor service as a fleet of machines makes it, on loopback only, bounded in
time and in requests; prints a table.

  python3 bench/load.py [--store sqlite|postgresql] [--workers 4] [--machines 10000]
                        [--seconds 150] [--burst 500] [--max-requests 400000] [--folder DIR]

It starts everything it measures and stops it by its own handles at the end: an SMTP server
(tests/smtp_sink.py, aiosmtpd), on PostgreSQL a private server (tests/pgserver.py, in
DIR/pg), and the service by run.sh with --workers workers and a relay to that SMTP server.
Each machine does what the program does on its timers, each stamped request after a
timestamp.jsp request on the same connection (as WinINet keeps it):
  every 60 s   heartaction.do and getmsgcount.jsp (timer 4)
  every 120 s  user/code.jsp (the remote poll)
  every 600 s  getmailday.jsp and mysoft.jsp (timer 1)
each machine at its own phase; and every 60 s a burst of --burst e-mail alerts (sendemil.do)
from as many machines within 5 s. After the load it waits (at most 120 s) until the outbox is
delivered and counts each accepted alert's arrivals at the SMTP server by its unique text.
Latency: from sending a request to its whole answer, per request; "late" counts actions that
started more than a second after their time (the generator or the service fell behind). A
request on a kept-alive connection that the server closed meanwhile is sent again once on a new
connection, as HTTP clients do, and counted."""
import argparse
import asyncio
import glob
import heapq
import json
import os
import random
import shutil
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)
sys.path.insert(0, os.path.join(ROOT, "tests"))

from vendorsvc.stamp import StampKey  # noqa: E402

KEY = StampKey.load()
PASSWORD = "bench-admin-password"
LOOPBACK = "127.0.0.1"


def escape(value):
    """Query bytes as the program builds them: GBK raw, only delimiters, blanks and controls escaped."""
    out = bytearray()
    for byte in value.encode("gbk"):
        if byte < 0x20 or byte == 0x7F or chr(byte) in "&#%+=? ":
            out += b"%%%02X" % byte
        else:
            out.append(byte)
    return bytes(out)


def query(**params):
    return b"&".join(name.encode() + b"=" + escape(value) for name, value in params.items())


class Stats:
    def __init__(self):
        self.latency = {}  # kind -> [seconds]
        self.failures = {}  # kind -> count
        self.examples = []
        self.late = 0
        self.actions = 0
        self.retried = 0

    def record(self, kind, seconds, ok, detail=""):
        self.latency.setdefault(kind, []).append(seconds)
        if not ok:
            self.failures[kind] = self.failures.get(kind, 0) + 1
            if len(self.examples) < 5:
                self.examples.append("%s: %s" % (kind, detail[:120]))


async def exchange(reader, writer, port, target, last):
    writer.write(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s\r\n"
                 % (port, b"Connection: close\r\n" if last else b""))
    head = await reader.readuntil(b"\r\n\r\n")
    status = int(head.split(b" ", 2)[1])
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    body = await reader.readexactly(length) if length else b""
    closing = b"\r\nconnection: close" in head.lower()
    return status, body, closing


async def action(port, stats, steps, timeout=30.0):
    """steps: [(kind, target or a function of the timestamp's answer), ...] on one connection."""
    writer = None
    try:
        reader, writer = await asyncio.wait_for(asyncio.open_connection(LOOPBACK, port), timeout)
        answer = b""
        closing = False
        for i, (kind, target) in enumerate(steps):
            if callable(target):
                target = target(answer)
            if closing:  # the server said it closes this connection: the next request on a new one
                writer.close()
                writer = None
                reader, writer = await asyncio.wait_for(asyncio.open_connection(LOOPBACK, port), timeout)
            begin = time.perf_counter()
            try:
                try:
                    status, answer, closing = await asyncio.wait_for(
                        exchange(reader, writer, port, target, i == len(steps) - 1), timeout)
                except asyncio.IncompleteReadError as error:
                    # A kept-alive connection the server closed before this request reached it:
                    # sent again on a new one, as HTTP clients do (once; a fresh connection's
                    # close is a failure).
                    if i == 0 or error.partial:
                        raise
                    stats.retried += 1
                    writer.close()
                    writer = None
                    reader, writer = await asyncio.wait_for(asyncio.open_connection(LOOPBACK, port), timeout)
                    begin = time.perf_counter()
                    status, answer, closing = await asyncio.wait_for(
                        exchange(reader, writer, port, target, i == len(steps) - 1), timeout)
            except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError, ValueError) as error:
                stats.record(kind, time.perf_counter() - begin, False, repr(error))
                return None
            ok = status == 200 and not answer.startswith(b"refused")
            stats.record(kind, time.perf_counter() - begin, ok, "%d %r" % (status, answer[:60]))
            if not ok:
                return None
        return answer
    except (OSError, asyncio.TimeoutError) as error:
        stats.record("connect", timeout, False, repr(error))
        return None
    finally:
        if writer is not None:
            writer.close()


def machine_id(i):
    return "BENCH%05d" % i


def stamped(path, **params):
    """The signed request made from the timestamp's answer."""
    def target(answer):
        return path + b"?" + query(stamp=KEY.encode(answer.decode().strip()), **params)
    return target


def timestamp(rad):
    return ("timestamp", b"/tavrick/timestamp.jsp?rad=" + rad.encode())


def schedule(machines, seconds, burst):
    """(time, machine, what) for the whole run, in order."""
    rng = random.Random(45)
    events = []
    for m in range(machines):
        for period, what in ((60, "timer4"), (120, "remote"), (600, "timer1")):
            t = rng.uniform(0, period)
            while t < seconds:
                events.append((t, m, what))
                t += period
    alert = 0
    for start in range(10, int(seconds) - 5, 60):
        for m in rng.sample(range(machines), min(burst, machines)):
            events.append((start + rng.uniform(0, 5), m, "alert:%d" % alert))
            alert += 1
    events.sort()
    return events


async def play(port, machines, seconds, burst, max_requests, stats, accepted, concurrency=2000):
    events = schedule(machines, seconds, burst)
    begin = time.monotonic()
    limit = asyncio.Semaphore(concurrency)
    tasks = set()
    requests = 0
    deadline = begin + seconds

    async def run(steps, alert=None):
        async with limit:
            answer = await action(port, stats, steps)
            if alert is not None and answer == b"ok":
                accepted.append(alert)

    for t, m, what in events:
        if requests >= max_requests or time.monotonic() > deadline + 5:
            break
        delay = begin + t - time.monotonic()
        if delay > 0:
            await asyncio.sleep(delay)
        elif delay < -1:
            stats.late += 1
        mac = machine_id(m)
        rad = str(int(time.time()))
        stats.actions += 1
        if what == "timer4":
            beat = [timestamp(rad), ("heartaction.do", stamped(b"/tavrick/heartaction.do", rad=rad, mac=mac + "\n",
                                                              v="2.30", phone="13800138000",
                                                              mail="ops-%s@example.com" % mac, isdownmsg="1"))]
            poll = [timestamp(rad), ("getmsgcount.jsp", stamped(b"/tavrick/getmsgcount.jsp", mac=mac + "\n"))]
            jobs = [(beat, None), (poll, None)]
        elif what == "remote":
            jobs = [([("user/code.jsp", b"/tavrick/user/code.jsp?" + query(mac=mac + "\n", rad=rad))], None)]
        elif what == "timer1":
            jobs = [([timestamp(rad), ("getmailday.jsp", stamped(b"/tavrick/getmailday.jsp", mac=mac + "\n"))], None),
                    ([("mysoft.jsp", b"/tavrick/mysoft.jsp")], None)]
        else:
            number = what.partition(":")[2]
            text = "bench alert %s: 服务器 CPU 使用率 95%%" % number
            jobs = [([timestamp(rad), ("sendemil.do", stamped(b"/tavrick/sendemil.do", toemil="bench-%s@example.com"
                                                               % number, title="10.0.0.5Tavrick提醒您!",
                                                               message=text, mac=mac + "\n"))], text)]
        for steps, alert in jobs:
            requests += len(steps)
            task = asyncio.ensure_future(run(steps, alert))
            tasks.add(task)
            task.add_done_callback(tasks.discard)
    if tasks:
        await asyncio.wait(tasks, timeout=60)
    return requests, time.monotonic() - begin


def cpu_seconds(pid):
    """CPU seconds used so far by a process and its living children (the service's workers,
    PostgreSQL's backends)."""
    def of(p):
        try:
            with open("/proc/%d/stat" % p) as f:
                fields = f.read().rpartition(")")[2].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, ValueError, IndexError):
            return 0.0
    children = subprocess.run(["ps", "-o", "pid=", "--ppid", str(pid)], capture_output=True, text=True).stdout.split()
    return of(pid) + sum(of(int(c)) for c in children)


def percentile(values, fraction):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def start_sink(folder):
    out = os.path.join(folder, "smtp")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    proc = subprocess.Popen([python, os.path.join(ROOT, "tests", "smtp_sink.py"), out], stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)
    return proc, int(proc.stdout.readline()), out


def outbox(port):
    request = urllib.request.Request("http://127.0.0.1:%d/tavrick/admin/outbox.json" % port,
                                     headers={"Authorization": "Bearer " + PASSWORD})
    with urllib.request.urlopen(request, timeout=60) as answer:
        return json.loads(answer.read())


def arrivals(out):
    """{message text: times received} at the SMTP server."""
    import email
    import email.policy
    seen = {}
    for name in glob.glob(os.path.join(out, "*.eml")):
        with open(name, "rb") as f:
            text = email.message_from_bytes(f.read(), policy=email.policy.default).get_content().strip()
        seen[text] = seen.get(text, 0) + 1
    return seen


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--store", choices=("sqlite", "postgresql"), default="postgresql")
    parser.add_argument("--workers", type=int, default=4)
    parser.add_argument("--threads", type=int, default=4, help="--max-threads of each worker")
    parser.add_argument("--machines", type=int, default=10000)
    parser.add_argument("--seconds", type=float, default=150)
    parser.add_argument("--burst", type=int, default=500)
    parser.add_argument("--max-requests", type=int, default=400000)
    parser.add_argument("--folder", default=os.path.join(ROOT, "..", "..", "build", "vendorsvc-bench"))
    parser.add_argument("--pg-setting", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()
    if args.seconds > 900 or args.machines > 50000:
        parser.error("bounded: at most 900 s and 50,000 machines")
    folder = os.path.abspath(args.folder)
    data = os.path.join(folder, "data-%s" % args.store)
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(data)
    run_sh = os.path.join(ROOT, "run.sh")
    sink = pg = None
    started = False
    try:
        sink, smtp_port, out = start_sink(folder)
        with open(os.path.join(data, "delivery.ini"), "w") as f:
            f.write("[smtp]\nhost = 127.0.0.1\nport = %d\nsecurity = none\nsender = Tavrick <alerts@vendor.example>\n"
                    "timeout = 30\n[retry]\nfirst_delay = 1\nmax_delay = 5\n" % smtp_port)
        store = []
        if args.store == "postgresql":
            from pgserver import PrivateServer
            settings = dict(s.split("=", 1) for s in args.pg_setting)
            pg = PrivateServer(os.path.join(folder, "pg"), settings).start()
            store = ["--store", pg.url()]
        port = int(subprocess.run(["bash", run_sh, "start", data, "0", "--workers", str(args.workers), "--max-threads",
                                   str(args.threads), "--admin-password", PASSWORD] + store,
                                  check=True, capture_output=True, text=True, timeout=60).stdout)
        started = True
        with open(os.path.join(data, "service.pid")) as f:
            master = int(f.read())
        watched = {"service": master, "postgresql": pg.proc.pid if pg else None, "smtp server": sink.pid}
        cpu_before = {name: cpu_seconds(pid) for name, pid in watched.items() if pid}
        own_before = sum(os.times()[:2])
        stats, accepted = Stats(), []
        requests, took = asyncio.run(play(port, args.machines, args.seconds, args.burst, args.max_requests, stats,
                                          accepted))
        cpu = {name: cpu_seconds(watched[name]) - before for name, before in cpu_before.items()}
        cpu["load generator"] = sum(os.times()[:2]) - own_before
        load_average = os.getloadavg()
        # Delivered: every accepted alert's row sent, within a bound.
        end = time.monotonic() + 120
        while time.monotonic() < end:
            # The alerts sent here (offline alerts of machines the overloaded service missed are not).
            rows = [r for r in outbox(port) if r["kind"] == "mail" and r["origin"] == "relay"]
            if all(r["state"] in ("sent", "failed") for r in rows):
                break
            time.sleep(1)
        states = {}
        for r in rows:
            states[r["state"]] = states.get(r["state"], 0) + 1
        time.sleep(1)
        seen = arrivals(out)
        once = sum(1 for text in accepted if seen.get(text) == 1)
        twice = sum(1 for text in accepted if seen.get(text, 0) > 1)
        missing = sum(1 for text in accepted if text not in seen)

        every = [v for values in stats.latency.values() for v in values]
        failures = sum(stats.failures.values())
        print("\nvendor service load: %d machines, %.0f s, store %s, %d gunicorn workers x %d threads"
              % (args.machines, took, args.store, args.workers, args.threads))
        print("| requests | rate/s | failed | p50 ms | p99 ms | max ms | alerts accepted | delivered once | twice | missing |")
        print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        print("| %d | %.0f | %d | %.1f | %.1f | %.0f | %d | %d | %d | %d |"
              % (len(every), len(every) / took, failures, 1000 * percentile(every, 0.5), 1000 * percentile(every, 0.99),
                 1000 * max(every), len(accepted), once, twice, missing))
        print("\n| request | count | failed | p50 ms | p99 ms |")
        print("|---|---:|---:|---:|---:|")
        for kind in sorted(stats.latency):
            values = stats.latency[kind]
            print("| %s | %d | %d | %.1f | %.1f |" % (kind, len(values), stats.failures.get(kind, 0),
                                                      1000 * percentile(values, 0.5), 1000 * percentile(values, 0.99)))
        print("\nactions %d, started late (>1 s) %d; requests sent again after a kept-alive connection closed %d;"
              " outbox mail rows by state: %s; requests planned %d"
              % (stats.actions, stats.late, stats.retried, states, requests))
        print("CPU seconds during the load: %s (%d cores; load average at the end %.1f, %.1f, %.1f)"
              % (", ".join("%s %.1f" % item for item in cpu.items()), os.cpu_count(), *load_average))
        print("service CPU per request: %.2f ms" % (1000 * cpu["service"] / max(len(every), 1)))
        for line in stats.examples:
            print("failure example: " + line)
        return 0 if failures == 0 and once == len(accepted) else 1
    finally:
        if started:
            subprocess.run(["bash", run_sh, "stop", data], timeout=60)
        if pg is not None:
            pg.stop()
        if sink is not None:
            sink.terminate()
            sink.wait(10)


if __name__ == "__main__":
    sys.exit(main())
