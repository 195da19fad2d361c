#!/usr/bin/env python3
"""The HTTP front against the folder, on the built-in simulated register, in one run.

  latency     a 10-line file: POST -> 200 verdict, and drop (rename into the input folder)
              -> .OK, interleaved; median and 99th percentile
  load        50 clients x 20 files at once over HTTP, against the same 1,000 files dropped
              at once, five rounds in turn (median ratio); every job must get exactly one
              verdict and every line reach the register exactly once (its journal); peak
              memory growth of the program
  slow        200 connections that send one byte a second; a normal client's POST meanwhile

Usage: http_bench.py PROGRAM [--smoke] [--out results.md]"""
import argparse
import http.client
import os
import re
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time

TOKEN = "bench-token-0123456789abcdef"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def peak_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))


class Program:
    def __init__(self, exe):
        self.folder = tempfile.mkdtemp(prefix="qds-http-bench-")
        self.port = free_port()
        with open(os.path.join(self.folder, "ZEZOVURADUR.INI"), "w") as f:
            f.write("[Parameters]\r\nFrequence=1\r\nMaxLogDimension=100000\r\n"
                    "[Http]\r\nListen=%d\r\nToken=%s\r\n" % (self.port, TOKEN))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.process = subprocess.Popen([exe, "--folder", self.folder], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.input = os.path.join(self.folder, "TOSEND")
        deadline = time.monotonic() + 60
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise SystemExit("the program did not start")
                time.sleep(0.05)

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=300)

    def post(self, connection, body, key=None):
        headers = {"Authorization": "Bearer " + TOKEN, "Content-Type": "text/plain"}
        if key:
            headers["Idempotency-Key"] = key
        connection.request("POST", "/v1/files?wait=120", body=body, headers=headers)
        r = connection.getresponse()
        return r.status, r.read()

    def drop(self, name, body):
        temp = os.path.join(self.folder, name + ".part")
        with open(temp, "wb") as f:
            f.write(body)
        os.rename(temp, os.path.join(self.input, name))

    def wait_for(self, verdicts):
        """Until each dropped file has its verdict and has left the folder."""
        pending = set(verdicts)
        while pending:
            pending = {p for p in pending
                       if not os.path.exists(p) or os.path.exists(p[:-3] + ".TXT")}
            if pending:
                time.sleep(0.0002)

    def journal_counts(self):
        counts = {}
        with open(os.path.join(self.folder, "Simulatore.log"), encoding="cp1252") as f:
            for line in f:
                m = re.search(r";Send=\d+;\d;(-?\d+);(.*)$", line.rstrip("\r\n"))
                if m:
                    counts[m.group(2)] = counts.get(m.group(2), 0) + 1
        return counts

    def stop(self):
        self.process.terminate()
        self.process.wait(60)
        shutil.rmtree(self.folder, ignore_errors=True)


def ten_lines(tag):
    return "".join("%s L%d\r\n" % (tag, i) for i in range(10)).encode()


def latency(program, rounds):
    http_ms, folder_ms = [], []
    c = program.connection()
    for i in range(rounds):
        started = time.perf_counter()
        status, _ = program.post(c, ten_lines("lat-h%d" % i))
        http_ms.append((time.perf_counter() - started) * 1000)
        assert status == 200, status
        started = time.perf_counter()
        program.drop("LAT%05d.TXT" % i, ten_lines("lat-f%d" % i))
        program.wait_for([os.path.join(program.input, "LAT%05d.OK" % i)])
        folder_ms.append((time.perf_counter() - started) * 1000)
    c.close()
    return http_ms, folder_ms


def load(program, clients, files, rounds):
    """Rounds of the same burst over HTTP and through the folder, in turn (the first path of a
    round alternates): a disk shared with other machines makes one pair swing widely, so the
    median of the rounds' ratios is what counts."""
    answers = []
    lock = threading.Lock()

    def client(r, n):
        c = program.connection()
        for i in range(files):
            status, body = program.post(c, ten_lines("load-h%d-%d-%d" % (r, n, i)),
                                        "load-%d-%d-%d" % (r, n, i))
            with lock:
                answers.append((status, body))
        c.close()

    def over_http(r):
        threads = [threading.Thread(target=client, args=(r, n)) for n in range(clients)]
        started = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return time.perf_counter() - started

    def through_folder(r):
        started = time.perf_counter()
        names = []
        for n in range(clients):
            for i in range(files):
                name = "LOAD%d%03d%03d.TXT" % (r, n, i)
                program.drop(name, ten_lines("load-f%d-%d-%d" % (r, n, i)))
                names.append(os.path.join(program.input, name[:-4] + ".OK"))
        program.wait_for(names)
        return time.perf_counter() - started

    before = peak_rss_kb(program.process.pid)
    ratios, http_s, folder_s = [], [], []
    for r in range(rounds):
        if r % 2:
            folder_s.append(through_folder(r))
            http_s.append(over_http(r))
        else:
            http_s.append(over_http(r))
            folder_s.append(through_folder(r))
        ratios.append(folder_s[-1] / http_s[-1])
    growth_mb = (peak_rss_kb(program.process.pid) - before) / 1024

    counts = program.journal_counts()
    done = sum(1 for status, body in answers if status == 200 and b'"outcome":"sent"' in body)
    wrong = [line for line, n in counts.items() if line.startswith("load-h") and n != 1]
    missing = rounds * clients * files * 10 - sum(1 for line in counts
                                                  if line.startswith("load-h"))
    return {"jobs": len(answers), "done": done, "wrong": len(wrong), "missing": missing,
            "http_s": statistics.median(http_s), "folder_s": statistics.median(folder_s),
            "ratio": statistics.median(ratios), "ratios": ratios, "growth_mb": growth_mb}


def slow(program, connections, rounds):
    sockets = [socket.create_connection(("127.0.0.1", program.port)) for _ in range(connections)]
    request = b"POST /v1/files HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % program.port
    stop = threading.Event()

    def trickle():
        i = 0
        while not stop.is_set() and i < len(request):
            for s in sockets:
                try:
                    s.send(request[i:i + 1])
                except OSError:
                    pass
            i += 1
            stop.wait(1)

    t = threading.Thread(target=trickle)
    t.start()
    time.sleep(1.5)
    ms = []
    c = program.connection()
    for i in range(rounds):
        started = time.perf_counter()
        status, _ = program.post(c, ten_lines("slow-h%d" % i))
        ms.append((time.perf_counter() - started) * 1000)
        assert status == 200, status
    c.close()
    stop.set()
    t.join()
    for s in sockets:
        s.close()
    return ms


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--out")
    args = parser.parse_args()
    rounds, clients, files, load_rounds, slow_rounds = \
        (10, 5, 2, 1, 5) if args.smoke else (300, 50, 20, 5, 100)
    program = Program(os.path.abspath(args.program))
    try:
        latency(program, 20)  # warm-up
        http_ms, folder_ms = latency(program, rounds)
        loaded = load(program, clients, files, load_rounds)
        slow_ms = slow(program, 20 if args.smoke else 200, slow_rounds)
    finally:
        program.stop()
    rows = [
        "| What | Figure |",
        "|---|---|",
        "| POST -> 200 verdict, 10 lines: median / 99th percentile | %.2f ms / %.2f ms |"
        % (statistics.median(http_ms), percentile(http_ms, 99)),
        "| Folder drop -> .OK, 10 lines: median / 99th percentile | %.2f ms / %.2f ms |"
        % (statistics.median(folder_ms), percentile(folder_ms, 99)),
        "| HTTP median / folder median | %.2f |"
        % (statistics.median(http_ms) / statistics.median(folder_ms)),
        "| %d clients x %d files, %d times: verdicts / jobs, lines not sent exactly once, lines "
        "missing | %d / %d, %d, %d |" % (clients, files, load_rounds, loaded["done"],
                                         loaded["jobs"], loaded["wrong"], loaded["missing"]),
        "| The same %d files (medians of %d rounds): HTTP %.2f s, folder %.2f s; HTTP throughput "
        "/ folder's: median (rounds) | %.2f (%s) |"
        % (clients * files, load_rounds, loaded["http_s"], loaded["folder_s"], loaded["ratio"],
           " ".join("%.2f" % r for r in loaded["ratios"])),
        "| Peak memory growth under that load | %.1f MB |" % loaded["growth_mb"],
        "| POST with %d slow connections open: median / 99th percentile | %.2f ms / %.2f ms |"
        % (20 if args.smoke else 200, statistics.median(slow_ms), percentile(slow_ms, 99)),
    ]
    text = "\n".join(rows) + "\n"
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    ok = loaded["done"] == loaded["jobs"] == load_rounds * clients * files \
        and not loaded["wrong"] and not loaded["missing"]
    raise SystemExit(0 if ok else "a job did not get exactly one verdict")


if __name__ == "__main__":
    main()
