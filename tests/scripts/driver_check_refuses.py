#!/usr/bin/env python3
"""The conformance checker refuses a driver that is wrong in one thing, at the check for that
thing, and passes the same driver when nothing is wrong.  Usage: driver_check_refuses.py ROOT"""
import os
import subprocess
import sys

root = sys.argv[1]
checker = os.path.join(root, "scripts", "driver-check.sh")
driver = os.path.join(os.path.dirname(os.path.abspath(__file__)), "broken_driver.py")
scale = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))

# The fault, and the words of the check that must fail.
FAULTS = [
    ("version", "greets first"),
    ("port", "OpenPort opens port"),
    ("plain", "accepts a command line"),
    ("empty", "answers an empty line"),
    ("accents", "accepts accented"),
    ("long", "65,536 bytes"),
    ("query", "answers SendQuery"),
    ("late", "events before the answer"),
    ("unknown", "does not know"),  # never answered
    ("unknown0", "does not know"),  # answered 0, as if done
    ("close", "ClosePort"),
    ("stays", "ends by itself"),
    ("status", "ends by itself"),
]

failures = []
for fault, check in [("none", None)] + FAULTS:
    run = subprocess.run([checker, "--timeout", str(2 * scale), "python3", driver, fault],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    failed = [line for line in run.stdout.splitlines() if line.startswith("FAIL")]
    if check is None:
        ok = run.returncode == 0 and not failed
    else:
        ok = run.returncode == 1 and len(failed) == 1 and check in failed[0]
    print("%-8s %s" % (fault, "ok" if ok else "WRONG"))
    if not ok:
        failures.append("%s:\n%s" % (fault, run.stdout))
if failures:
    print("\n".join(failures))
sys.exit(1 if failures else 0)
