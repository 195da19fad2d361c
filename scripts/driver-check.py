#!/usr/bin/env python3
"""Checks that a driver program does what QuorinDriverServer relies on (docs/DRIVERS.md).

Usage: scripts/driver-check.sh [--port N] [--speed S] [--timeout SECONDS] [--pipelined]
                               PROGRAM [ARGS...]

It starts the driver as the program would, opens the port and sends it real commands, one
request at a time as the program does: run it against a simulator or a register kept for
tests, never one that prints real receipts. Prints one verdict per check (PASS, FAIL, or N/A
when the driver gave nothing to look at); exit status 0 when no check fails.
"""
import argparse
import json
import os
import select
import subprocess
import sys
import time

INT32 = (-2**31, 2**31 - 1)
# After each answer the checker listens this long before the next request: what comes then
# came after the answer.
SETTLE_SECONDS = 0.2


class Failure(Exception):
    pass


class NotExercised(Exception):
    pass


def whole(value):
    return isinstance(value, int) and not isinstance(value, bool) and INT32[0] <= value <= INT32[1]


def check_event(message):
    kind = message.get("event")
    if kind == "StatusUpdate" and whole(message.get("status")):
        return
    if kind == "DumpData" and whole(message.get("count")) and isinstance(message.get("text"), str):
        return
    raise Failure("an event that is not StatusUpdate(status) or DumpData(count, text): %r" % message)


class Driver:
    def __init__(self, command, timeout):
        self.timeout = timeout
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=None, bufsize=0)
        self.buffer = b""
        self.next_id = 1
        self.during = []   # events that came while a request was being worked on
        self.between = []  # events that came after an answer, before the next request

    def read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
                if not chunk:
                    raise Failure("its standard output closed (exit status %s)" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        if not line.strip():
            return self.read_line(timeout)
        try:
            message = json.loads(line.rstrip(b"\r").decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError) as e:
            raise Failure("wrote a line that is not JSON in UTF-8: %r (%s)" % (line[:80], e))
        if not isinstance(message, dict):
            raise Failure("wrote a JSON value that is not an object: %r" % message)
        return message

    def greeting(self):
        message = self.read_line(self.timeout)
        if message is None:
            raise Failure("no greeting within %g s" % self.timeout)
        return message

    def call(self, op, **fields):
        """Sends one request and returns its answer; then listens a moment for late events."""
        ident = self.next_id
        self.next_id += 1
        self.write(dict(id=ident, op=op, **fields))
        answer = self.answer(ident, op)
        self.settle()
        return answer

    def write(self, request):
        self.proc.stdin.write((json.dumps(request, ensure_ascii=False) + "\n").encode("utf-8"))
        self.proc.stdin.flush()

    def answer(self, ident, op):
        while True:
            message = self.read_line(self.timeout)
            if message is None:
                raise Failure("no answer to %s within %g s" % (op, self.timeout))
            if "event" in message:
                check_event(message)
                self.during.append(message)
                continue
            if not whole(message.get("id")) or not whole(message.get("result")):
                raise Failure("an answer needs a whole \"id\" and a 32-bit whole \"result\": %r"
                              % message)
            if "answer" in message and not isinstance(message["answer"], str):
                raise Failure("\"answer\" must be a string: %r" % message)
            if message["id"] != ident:
                raise Failure("answered request %s when request %s was due" % (message["id"], ident))
            return message

    def settle(self):
        while True:
            message = self.read_line(SETTLE_SECONDS)
            if message is None:
                return
            if "event" not in message:
                raise Failure("wrote an answer nobody asked for: %r" % message)
            check_event(message)
            self.between.append(message)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", default="1")
    parser.add_argument("--speed", default="9600")
    # The tests' time scale raises the default on a loaded machine.
    scale = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))
    parser.add_argument("--timeout", type=float, default=10.0 * scale,
                        help="seconds for each answer (default 10)")
    parser.add_argument("--pipelined", action="store_true",
                        help="also send several requests at once (the program never does)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.command:
        parser.error("name the driver program")

    verdicts = []

    def verdict(name, outcome, detail=""):
        verdicts.append(outcome)
        print("%-4s  %s%s" % (outcome, name, (": " + detail) if detail else ""))
        sys.stdout.flush()

    try:
        driver = Driver(args.command, args.timeout)
    except OSError as e:
        verdict("starts", "FAIL", str(e))
        print("\nDOES NOT CONFORM")
        return 1

    checks = []

    def check(name):
        def register(function):
            checks.append((name, function))
            return function
        return register

    def accepted(row, mode, line, what):
        """Sends a line as the program does (SendCommand, then ExtendedResult); its result
        must be 0."""
        result = driver.call("SendCommand", row=row, mode=mode, line=line)["result"]
        driver.call("ExtendedResult")
        if result != 0:
            raise Failure("%s: SendCommand answered %d, not 0" % (what, result))

    @check("greets first with {\"protocol\": \"quorin-driver\", \"version\": 1}")
    def _():
        hello = driver.greeting()
        if hello != {"protocol": "quorin-driver", "version": 1}:
            raise Failure("its first line was %r" % hello)

    @check("answers PreOpenFlag, and OpenPort opens port %s at %s (result 0)"
           % (args.port, args.speed))
    def _():
        driver.call("PreOpenFlag", flag=False)
        result = driver.call("OpenPort", port=args.port, speed=args.speed)["result"]
        if result != 0:
            raise Failure("OpenPort answered %d" % result)

    @check("accepts a command line (SendCommand row 1, mode 1: result 0), then ExtendedResult")
    def _():
        accepted(1, 1, "QDS CHECK", "the line \"QDS CHECK\"")

    @check("answers an empty line (\"line\": \"\"), with any result")
    def _():
        result = driver.call("SendCommand", row=2, mode=1, line="")["result"]
        driver.call("ExtendedResult")
        return "result %d" % result

    @check("accepts accented Windows-1252 text (caffè, €, “quotes”, Ž, U+0081): result 0")
    def _():
        accepted(3, 1, "QDS caffè € “quotes” Ž \u0081", "the accented line")

    @check("accepts a line of 65,536 bytes: result 0")
    def _():
        accepted(4, 1, "X" * 65536, "the 65,536-byte line")

    @check("answers SendQuery with result 0 and an answer of 12 characters or more whose 9th "
           "to 12th are digits")
    def _():
        reply = driver.call("SendQuery", param1=0, param2=0, query="<</?s")
        if reply["result"] != 0:
            raise Failure("SendQuery answered %d" % reply["result"])
        answer = reply.get("answer")
        if answer is None:
            raise Failure("no \"answer\"")
        if len(answer) < 12 or not all("0" <= c <= "9" for c in answer[8:12]):
            raise Failure("the answer %r has no receipt number in characters 9 to 12" % answer)
        return "receipt %s" % answer[8:12]

    @check("sends events before the answer of the request they belong to")
    def _():
        late = [e for e in driver.between if e["event"] == "DumpData"]
        if late:
            raise Failure("%d DumpData came after an answer, before the next request (the "
                          "program would add it to whatever file it sends next): %r"
                          % (len(late), late[0]))
        if not driver.during and not driver.between:
            raise NotExercised("the driver sent no event (a driver need not send any)")
        return "%d during requests, %d StatusUpdate between them" % (len(driver.during),
                                                                      len(driver.between))

    if args.pipelined:
        @check("answers requests sent together in the order asked (the program never does "
               "this)")
        def _():
            idents = []
            for i in range(1, 6):
                idents.append(driver.next_id)
                driver.write(dict(id=driver.next_id, op="SendCommand", row=i, mode=1,
                                  line="QDS ORDER %d" % i))
                driver.next_id += 1
            for ident in idents:
                driver.answer(ident, "SendCommand")
            driver.settle()

    @check("answers an operation it does not know with a result other than 0, and goes on")
    def _():
        reply = driver.call("QdsCheckUnknownOperation")
        if reply["result"] == 0:
            raise Failure("it answered 0, as if it had done something")
        return "result %d" % reply["result"]

    @check("ClosePort closes the port (result 0)")
    def _():
        result = driver.call("ClosePort")["result"]
        if result != 0:
            raise Failure("ClosePort answered %d" % result)

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
            verdict(name, "PASS", function() or "")
        except NotExercised as e:
            verdict(name, "N/A", str(e))
        except Failure as e:
            verdict(name, "FAIL", str(e))
            break  # what follows would only repeat the fault
        except BrokenPipeError:
            verdict(name, "FAIL", "its standard input closed (exit status %s)"
                    % driver.proc.poll())
            break
    if driver.proc.poll() is None:
        driver.proc.kill()
    passed = len(verdicts) == len(checks) and "FAIL" not in verdicts
    print("\n%s: %d passed, %d not exercised, %d failed, %d not reached"
          % ("CONFORMS" if passed else "DOES NOT CONFORM", verdicts.count("PASS"),
             verdicts.count("N/A"), verdicts.count("FAIL"), len(checks) - len(verdicts)))
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
