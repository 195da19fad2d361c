#!/usr/bin/env python3
"""The HTTP front under attack, on the built-in simulated register:

  memory      RSS of the program while 256 clients without the token each try to send a
              16 MiB body as fast as they can (goal: under 64 MB above idle)
  slow        a good client's POST -> verdict latency alone, then while 256 connections
              without the token send slow bodies (reconnecting when cut off), then while 200
              with the token do (goal: within twice the figure alone)

Usage: http_attack_bench.py PROGRAM [--smoke] [--out results.md]"""
import argparse
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_bench import TOKEN, Program, percentile, ten_lines  # noqa: E402


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def head(program, token, length):
    h = b"POST /v1/files HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: text/plain\r\n" \
        b"Content-Length: %d\r\n" % (program.port, length)
    if token:
        h += b"Authorization: Bearer %s\r\n" % TOKEN.encode()
    return h + b"\r\n"


def memory(program, clients, body_mib):
    idle = rss_kb(program.process.pid)
    body = b"a" * (body_mib << 20)
    peak = [idle]
    done = threading.Event()

    def watch():
        while not done.is_set():
            peak[0] = max(peak[0], rss_kb(program.process.pid))
            time.sleep(0.01)

    def flood():
        try:
            s = socket.create_connection(("127.0.0.1", program.port), timeout=30)
            s.sendall(head(program, False, len(body)) + body)
        except OSError:
            pass
        else:
            s.close()

    watcher = threading.Thread(target=watch)
    watcher.start()
    threads = [threading.Thread(target=flood) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    time.sleep(0.2)
    done.set()
    watcher.join()
    return idle, peak[0]


def latencies(program, rounds, tag):
    ms = []
    c = program.connection()
    for i in range(rounds):
        started = time.perf_counter()
        status, _ = program.post(c, ten_lines("%s%d" % (tag, i)))
        assert status == 200, status
        ms.append((time.perf_counter() - started) * 1000)
    c.close()
    return ms


def with_slow_bodies(program, connections, token, rounds, tag):
    """Latencies while `connections` clients send one body byte a second."""
    stop = threading.Event()
    opened = [0]

    def trickle():
        while not stop.is_set():
            try:
                s = socket.create_connection(("127.0.0.1", program.port), timeout=5)
                opened[0] += 1
                s.sendall(head(program, token, 100000))
                while not stop.is_set():
                    s.sendall(b"V")
                    stop.wait(1)
            except OSError:
                stop.wait(0.05)

    threads = [threading.Thread(target=trickle, daemon=True) for _ in range(connections)]
    for t in threads:
        t.start()
    time.sleep(2)
    try:
        return latencies(program, rounds, tag), opened[0]
    finally:
        stop.set()
        for t in threads:
            t.join(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--out")
    args = parser.parse_args()
    clients, mib, rounds = (16, 4, 10) if args.smoke else (256, 16, 60)

    program = Program(args.program)
    try:
        idle, peak = memory(program, clients, mib)
        # Each loaded figure beside one alone just before it: the machine's own load moves.
        alone = latencies(program, rounds, "alone")
        no_token, opened = with_slow_bodies(program, clients, False, rounds, "nt")
        alone2 = latencies(program, rounds, "alone2")
        with_token, _ = with_slow_bodies(program, min(200, clients), True, rounds, "wt")
    finally:
        program.stop()

    def figure(ms):
        return "%.2f ms / %.2f ms" % (statistics.median(ms), percentile(ms, 99))

    rows = [
        "| Figure | Value |",
        "|---|---|",
        "| RSS idle / peak while %d clients without the token send %d MiB bodies | "
        "%.1f MB / %.1f MB (%.1f MB above idle) |"
        % (clients, mib, idle / 1024, peak / 1024, (peak - idle) / 1024),
        "| POST -> verdict alone: median / 99th percentile | %s |" % figure(alone),
        "| ... while %d connections without the token send slow bodies (%d opened) | %s |"
        % (clients, opened, figure(no_token)),
        "| POST -> verdict alone again, just before | %s |" % figure(alone2),
        "| ... while %d connections with the token send slow bodies | %s |"
        % (min(200, clients), figure(with_token)),
        "| Ratio to the figure alone just before (medians): without / with the token | "
        "%.2f / %.2f |"
        % (statistics.median(no_token) / statistics.median(alone),
           statistics.median(with_token) / statistics.median(alone2)),
    ]
    text = "\n".join(rows) + "\n"
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
