#!/usr/bin/env python3
"""A driver program that is right in everything but one thing, for the checker's own test.

Usage: broken_driver.py FAULT   (faults: see FAULTS in driver_check_refuses.py)
"""
import json
import sys

fault = sys.argv[1]


def send(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


send({"protocol": "quorin-driver", "version": 2 if fault == "version" else 1})
for raw in sys.stdin:
    request = json.loads(raw)
    op = request["op"]
    answer = {"id": request["id"], "result": 0}
    line = request.get("line", "")
    if op == "OpenPort" and fault == "port":
        answer["result"] = 203
    elif op == "SendCommand":
        if fault == "plain" and line.startswith("QDS"):
            answer["result"] = 17
        elif fault == "empty" and line == "":
            sys.exit(1)
        elif fault == "accents" and any(ord(c) > 127 for c in line):
            answer["result"] = 17
        elif fault == "long" and len(line) > 65535:
            answer["result"] = 17
        if fault == "late":
            send(answer)
            send({"event": "DumpData", "count": 1, "text": "late"})
            continue
        send({"event": "StatusUpdate", "status": 1001})
    elif op == "SendQuery":
        answer["answer"] = "x" if fault == "query" else "000000000042"
    elif op not in ("PreOpenFlag", "OpenPort", "ClosePort", "ExtendedResult"):
        if fault == "unknown":
            continue  # never answered
        answer["result"] = 0 if fault == "unknown0" else 571
    elif op == "ClosePort" and fault == "close":
        answer["result"] = 561
    send(answer)
if fault == "stays":
    import time
    time.sleep(600)
sys.exit(3 if fault == "status" else 0)
