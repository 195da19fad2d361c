#!/usr/bin/env python3
"""The serial-line example driver over a real pseudo-terminal pair, with a fake register on the
other end: the conformance checker passes, bytes reach the line in Windows-1252, and replies map
to results as the example's tables say.  Usage: serial_line_test.py SOURCE_ROOT"""
import json
import os
import subprocess
import sys
import threading

root = sys.argv[1]
example = os.path.join(root, "examples", "drivers", "serial_line.py")
master, slave = os.openpty()
device = os.ttyname(slave)
received = []


def fake_register():
    pending, covered = b"", False
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            return
        if not chunk:
            return
        pending += chunk
        while b"\r\n" in pending:
            line, pending = pending.split(b"\r\n", 1)
            received.append(line)
            if line.startswith(b"BAD"):
                reply = b"ERR 17"
            elif line == b"COVER" and not covered:
                covered, reply = True, b"COVER"
            elif line == b"<</?s":
                reply = b"000000000042"
            elif line == b"MUTE":
                continue
            else:
                reply = b"OK"
            os.write(master, reply + b"\r\n")


threading.Thread(target=fake_register, daemon=True).start()
failures = []


def expect(what, got, want):
    if got != want:
        failures.append("%s: got %r, want %r" % (what, got, want))


check = subprocess.run([os.path.join(root, "scripts", "driver-check.sh"), "python3", example,
                        "--device", device])
expect("driver-check exit status", check.returncode, 0)

driver = subprocess.Popen(["python3", example, "--device", device], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, text=True, encoding="utf-8")


def call(ident, op, **fields):
    driver.stdin.write(json.dumps(dict(id=ident, op=op, **fields)) + "\n")
    driver.stdin.flush()
    lines = []
    while True:
        message = json.loads(driver.stdout.readline())
        lines.append(message)
        if "id" in message:
            return lines


expect("greeting", json.loads(driver.stdout.readline()), {"protocol": "quorin-driver", "version": 1})
expect("open", call(1, "OpenPort", port="1", speed="9600"), [{"id": 1, "result": 0}])
received.clear()
expect("accents", call(2, "SendCommand", row=1, mode=0, line="caffè €"), [{"id": 2, "result": 0}])
expect("bytes on the line", received[-1:], [b"caff\xe8 \x80"])
expect("error", call(3, "SendCommand", row=2, mode=0, line="BAD 1"), [{"id": 3, "result": 17}])
expect("cover", call(4, "SendCommand", row=3, mode=0, line="COVER"),
       [{"event": "StatusUpdate", "status": 11}, {"id": 4, "result": 574}])
expect("cover extended", call(5, "ExtendedResult"), [{"id": 5, "result": 581}])
expect("query", call(6, "SendQuery", param1=0, param2=0, query="<</?s"),
       [{"id": 6, "result": 0, "answer": "000000000042"}])
expect("closed", call(7, "ClosePort"), [{"id": 7, "result": 0}])
expect("send on a closed port", call(8, "SendCommand", row=1, mode=0, line="X"),
       [{"id": 8, "result": 561}])
driver.stdin.close()
expect("exit status", driver.wait(timeout=10 * float(os.environ.get("QDS_TEST_TIME_SCALE", "1"))), 0)

for failure in failures:
    print("FAIL", failure)
print("serial line example:", "ok" if not failures else "%d failures" % len(failures))
sys.exit(1 if failures else 0)
