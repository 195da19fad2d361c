#!/usr/bin/env python3
"""A driver program that misbehaves on purpose, for the tests of the driver door.

Usage: fake_driver.py BEHAVIOUR [LOGFILE]
  good      answers everything at once; SendCommand first reports state 11 and dumps the line
  silent    never answers SendCommand
  dies      ends when asked SendCommand "DIE", otherwise good
  garbage   answers SendCommand with a line that is not JSON
  nohello   never greets
  chatty    writes 300 lines on standard error at start
  mute      closes its standard output when asked SendCommand, and goes on running
  family    also starts a child that holds its standard output and sleeps (combine: silent+family)
Each start appends "start <time> <pid>" to LOGFILE (and "child <pid>"), each request its
operation.
"""
import json
import os
import subprocess
import sys
import time

behaviours = set(sys.argv[1].split("+"))
behaviour = sys.argv[1].split("+")[0]
log = open(sys.argv[2], "a") if len(sys.argv) > 2 else None


def note(text):
    if log:
        log.write(text + "\n")
        log.flush()


def send(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


note("start %.3f %d" % (time.monotonic(), os.getpid()))
if "family" in behaviours:
    note("child %d" % subprocess.Popen(["sleep", "600"]).pid)
if behaviour == "chatty":
    for i in range(300):
        sys.stderr.write("line %d\n" % i)
    sys.stderr.flush()
if behaviour != "nohello":
    send({"protocol": "quorin-driver", "version": 1})
for raw in sys.stdin:
    request = json.loads(raw)
    op = request["op"]
    note(op + (" " + request.get("port", "") if op == "OpenPort" else ""))
    answer = {"id": request["id"], "result": 0}
    if op == "SendCommand":
        if behaviour == "silent":
            continue
        if behaviour == "mute":
            os.close(1)
            continue
        if behaviour == "dies" and request["line"] == "DIE":
            sys.exit(3)
        if behaviour == "garbage":
            sys.stdout.write("hello world\n")
            sys.stdout.flush()
            continue
        send({"event": "StatusUpdate", "status": 11})
        send({"event": "DumpData", "count": len(request["line"]), "text": request["line"]})
    if op == "SendQuery":
        answer["answer"] = "000000000042"
    send(answer)
