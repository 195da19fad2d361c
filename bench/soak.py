#!/usr/bin/env python3
"""Soak run: drops command files into the real program at a steady rate and checks afterwards
that every file got exactly one verdict, nothing was sent twice, the log stayed bounded, memory
stayed flat and no file was left behind.

Usage: bench/soak.py [--exe build/src/QuorinDriverServer] [--rate 50] [--minutes 10]
Not run by CI (it takes as long as you ask).
"""
import argparse, os, re, shutil, signal, subprocess, sys, tempfile, time

def rss_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        return None

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", default="build/src/QuorinDriverServer")
    ap.add_argument("--rate", type=float, default=50.0, help="files per second")
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--fail-every", type=int, default=10, help="every Nth file is refused")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qds-soak-")
    exe = os.path.join(work, "QuorinDriverServer")
    shutil.copy(args.exe, exe)
    os.makedirs(os.path.join(work, "rt"), mode=0o700)
    with open(os.path.join(work, "ZEZOVURADUR.INI"), "wb") as f:
        f.write(b"[Parameters]\r\nFrequence=1\r\nMaxLogDimension=128\r\n")
    with open(os.path.join(work, "Simulatore.ini"), "wb") as f:
        f.write(b"[Rules]\r\nRule1=^BAD => result 17\r\nRule2=^TOTAL (\\d+) => dump total $1\r\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, "rt"), QT_QPA_PLATFORM="offscreen")
    proc = subprocess.Popen([exe], cwd=work, env=env, stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(work, "stderr.txt"), "wb"))
    inbox = os.path.join(work, "TOSEND")
    while not os.path.isdir(inbox):
        time.sleep(0.05)

    total = int(args.rate * args.minutes * 60)
    interval = 1.0 / args.rate
    samples = []
    start = time.monotonic()
    next_sample = start
    for n in range(total):
        due = start + n * interval
        now = time.monotonic()
        if due > now:
            time.sleep(due - now)
        body = f"ID {n}\r\nITEM {n % 7}\r\n"
        body += "BAD\r\n" if n % args.fail_every == 0 else f"TOTAL {n}\r\n"
        tmp = os.path.join(inbox, f"F{n:06d}.tmp")
        with open(tmp, "wb") as f:
            f.write(body.encode("cp1252"))
        os.rename(tmp, os.path.join(inbox, f"F{n:06d}.TXT"))
        if time.monotonic() >= next_sample:
            samples.append((time.monotonic() - start, rss_kb(proc.pid)))
            next_sample += 5
    drop_seconds = time.monotonic() - start

    deadline = time.monotonic() + 120
    while any(name.endswith(".TXT") for name in os.listdir(inbox)) and time.monotonic() < deadline:
        time.sleep(0.2)
    drain_seconds = time.monotonic() - start - drop_seconds
    samples.append((time.monotonic() - start, rss_kb(proc.pid)))
    proc.send_signal(signal.SIGTERM)
    code = proc.wait(timeout=60)

    names = set(os.listdir(inbox))
    left = sorted(n for n in names if n.endswith(".TXT"))
    missing, both = [], []
    for n in range(total):
        ok, ko = f"F{n:06d}.OK" in names, f"F{n:06d}.KO" in names
        expect_ko = n % args.fail_every == 0
        if ok and ko and not expect_ko:
            both.append(n)
        if (expect_ko and not ko) or (not expect_ko and (ko or not ok)):
            missing.append(n)
    sends = {}
    with open(os.path.join(work, "Simulatore.log"), encoding="cp1252") as f:
        for line in f:
            m = re.search(r";Send=1;1;\d+;ID (\d+)\r?$", line)
            if m:
                sends[int(m.group(1))] = sends.get(int(m.group(1)), 0) + 1
    twice = [n for n, c in sends.items() if c > 1]
    never = [n for n in range(total) if n not in sends]
    log = os.path.join(inbox, "QuorinDriverServer.LOG")
    log_size = os.path.getsize(log)
    copies = len(os.listdir(os.path.join(work, "UNSENT")))
    rss = [r for _, r in samples if r]

    print(f"files dropped: {total} in {drop_seconds:.0f} s ({total / drop_seconds:.1f}/s); "
          f"drained {drain_seconds:.1f} s after the last drop")
    print(f"exit status: {code}")
    print(f"left in the input folder: {len(left)}")
    print(f"without the expected verdict: {len(missing)}; with both .OK and .KO: {len(both)}")
    print(f"sent twice: {len(twice)}; never sent: {len(never)}")
    print(f"copies of failed files: {copies} (expected {len(range(0, total, args.fail_every))})")
    print(f"log: {log_size} bytes (limit 131072); previous generation: "
          f"{os.path.exists(log + '.1')}")
    print(f"RSS kB: first {rss[0]}, max {max(rss)}, last {rss[-1]} ({len(rss)} samples)")
    print(f"work folder: {work}")
    ok = (code == 0 and not left and not missing and not twice and not never
          and log_size <= 131072 + 200)
    print("RESULT:", "PASS" if ok else "FAIL")
    return 0 if ok else 1

if __name__ == "__main__":
    sys.exit(main())
