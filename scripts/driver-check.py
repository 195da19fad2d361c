#!/usr/bin/env python3
"""Checks that a driver program does what QuorinDriverServer relies on (docs/DRIVERS.md).

Usage: scripts/driver-check.sh [--port N] [--speed S] [--timeout SECONDS] PROGRAM [ARGS...]

It starts the driver as the program would, opens the port and sends it real commands: run it
against a simulator or a register kept for tests, never one that prints real receipts.
Prints one verdict per check; exit status 0 when every check passes.
"""
import argparse
import json
import os
import select
import subprocess
import sys
import time

INT32 = (-2**31, 2**31 - 1)


class Driver:
    def __init__(self, command, timeout):
        self.timeout = timeout
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=None, bufsize=0)
        self.buffer = b""
        self.next_id = 1
        self.events = []

    def read_line(self, timeout=None):
        deadline = time.monotonic() + (timeout or self.timeout)
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("no line within %g s" % (timeout or self.timeout))
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
                if not chunk:
                    raise Failure("its standard output closed (exit status %s)" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        try:
            text = line.rstrip(b"\r").decode("utf-8")
            return json.loads(text)
        except (UnicodeDecodeError, json.JSONDecodeError) as e:
            raise Failure("wrote a line that is not a JSON object in UTF-8: %r (%s)" % (line[:80], e))

    def write(self, request):
        self.proc.stdin.write((json.dumps(request, ensure_ascii=False) + "\n").encode("utf-8"))
        self.proc.stdin.flush()

    def request(self, op, **fields):
        ident = self.next_id
        self.next_id += 1
        self.write(dict(id=ident, op=op, **fields))
        return ident

    def answer(self, ident):
        """The answer to request `ident`; events before it are kept in self.events."""
        while True:
            message = self.read_line()
            if not isinstance(message, dict):
                raise Failure("wrote a JSON value that is not an object: %r" % message)
            if "event" in message:
                check_event(message)
                self.events.append(message)
                continue
            check_answer(message)
            if message["id"] != ident:
                raise Failure("answered request %s when request %s was due" % (message["id"], ident))
            return message

    def call(self, op, **fields):
        return self.answer(self.request(op, **fields))


class Failure(Exception):
    pass


def whole(value):
    return isinstance(value, int) and not isinstance(value, bool) and INT32[0] <= value <= INT32[1]


def check_answer(message):
    if not isinstance(message.get("id"), int) or not whole(message.get("result")):
        raise Failure("an answer needs a whole \"id\" and a 32-bit whole \"result\": %r" % message)
    if "answer" in message and not isinstance(message["answer"], str):
        raise Failure("\"answer\" must be a string: %r" % message)


def check_event(message):
    kind = message["event"]
    if kind == "StatusUpdate" and whole(message.get("status")):
        return
    if kind == "DumpData" and whole(message.get("count")) and isinstance(message.get("text"), str):
        return
    raise Failure("an event that is not StatusUpdate(status) or DumpData(count, text): %r" % message)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", default="1")
    parser.add_argument("--speed", default="9600")
    # The tests' time scale raises the default on a loaded machine.
    scale = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))
    parser.add_argument("--timeout", type=float, default=10.0 * scale,
                        help="seconds for each answer (default 10)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.command:
        parser.error("name the driver program")

    results = []

    def verdict(name, ok, detail=""):
        results.append(ok)
        print("%s  %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if detail else ""))
        sys.stdout.flush()

    try:
        driver = Driver(args.command, args.timeout)
    except OSError as e:
        verdict("starts", False, str(e))
        return 1

    checks = []

    def check(name):
        def register(function):
            checks.append((name, function))
            return function
        return register

    @check("greets first with {\"protocol\": \"quorin-driver\", \"version\": 1}")
    def _():
        hello = driver.read_line()
        if hello != {"protocol": "quorin-driver", "version": 1}:
            raise Failure("its first line was %r" % hello)

    @check("answers PreOpenFlag and opens port %s at %s" % (args.port, args.speed))
    def _():
        driver.call("PreOpenFlag", flag=False)
        result = driver.call("OpenPort", port=args.port, speed=args.speed)["result"]
        if result != 0:
            raise Failure("OpenPort answered %d" % result)

    @check("answers SendCommand, then ExtendedResult")
    def _():
        driver.call("SendCommand", row=1, mode=0, line="QDS CHECK")
        driver.call("ExtendedResult")

    @check("answers SendQuery with an answer text")
    def _():
        reply = driver.call("SendQuery", param1=0, param2=0, query="<</?s")
        if reply["result"] == 0 and "answer" not in reply:
            raise Failure("a valid answer (result 0) needs \"answer\"")

    @check("answers requests sent together in the order asked")
    def _():
        idents = [driver.request("SendCommand", row=i, mode=0, line="QDS ORDER %d" % i)
                  for i in range(1, 6)]
        for ident in idents:
            driver.answer(ident)

    @check("events, if any, are well formed and come before the answer")
    def _():
        pass  # every answer above was read this way; nothing else to do

    @check("keeps accented Windows-1252 text (caffè, €, “quotes”, Ž)")
    def _():
        driver.call("SendCommand", row=1, mode=0, line="QDS caffè € “quotes” Ž")
        for event in driver.events:
            if event["event"] == "DumpData":
                try:
                    event["text"].encode("cp1252")
                except UnicodeEncodeError:
                    pass  # not every character need fit; the program writes '?'

    @check("takes a line of 65,536 bytes")
    def _():
        driver.call("SendCommand", row=1, mode=0, line="X" * 65536)

    @check("answers ClosePort")
    def _():
        driver.call("ClosePort")

    @check("ends by itself, with status 0, when its input closes")
    def _():
        driver.proc.stdin.close()
        try:
            status = driver.proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            raise Failure("still running %g s after its input closed" % args.timeout)
        if status != 0:
            raise Failure("exit status %d" % status)

    for name, function in checks:
        try:
            function()
            detail = ""
            if name.startswith("events"):
                detail = "%d seen" % len(driver.events) if driver.events else \
                    "none seen (a driver need not send any)"
            verdict(name, True, detail)
        except Failure as e:
            verdict(name, False, str(e))
            break  # what follows would only repeat the fault
        except BrokenPipeError:
            verdict(name, False, "its standard input closed (exit status %s)" % driver.proc.poll())
            break
    if driver.proc.poll() is None:
        driver.proc.kill()
    passed = len(results) == len(checks) and all(results)
    print("\n%s: %d of %d checks passed" % ("CONFORMS" if passed else "DOES NOT CONFORM",
                                            sum(results), len(checks)))
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
