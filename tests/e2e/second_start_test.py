#!/usr/bin/env python3
"""A second start of the real program on a real desktop (Xvfb, Openbox, xdotool): it ends, and
the running instance of the same program folder shows its minimised window; another folder's
start does not. Usage: second_start_test.py QuorinDriverServer [unittest options]."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import qds_program
from qds_program import Program, budget

CAPTION = "Quorin Driver Server"


def free_display():
    for n in range(120, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return ":%d" % n
    raise RuntimeError("no free display")


@unittest.skipUnless(all(shutil.which(t) for t in ("Xvfb", "xdotool", "openbox", "xprop")),
                     "no Xvfb, xdotool, openbox or xprop")
class SecondStartTest(unittest.TestCase):
    def setUp(self):
        self.display = free_display()
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "800x600x24"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.xvfb.wait)
        self.addCleanup(self.xvfb.kill)
        deadline = time.monotonic() + budget(10)
        while not os.path.exists("/tmp/.X11-unix/X" + self.display[1:]):
            self.assertLess(time.monotonic(), deadline, "Xvfb did not start")
            time.sleep(0.05)
        self.wm = subprocess.Popen(["openbox"], env=self.env(False), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(self.wm.wait)
        self.addCleanup(self.wm.kill)
        # A window mapped while the window manager starts may stay unmapped: it starts first.
        self.wait_until(lambda: "window id" in subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(False),
            capture_output=True, text=True).stdout, "the window manager did not start")
        self.runtime = tempfile.mkdtemp(prefix="qds-runtime-")
        os.chmod(self.runtime, 0o700)
        self.addCleanup(shutil.rmtree, self.runtime, True)

    def env(self, headless):
        env = dict(os.environ, DISPLAY=self.display,
                   XDG_RUNTIME_DIR=getattr(self, "runtime", "/tmp"))
        if headless:
            env["QT_QPA_PLATFORM"] = "offscreen"  # no message box waits for a click
        else:
            env.pop("QT_QPA_PLATFORM", None)
        return env

    def visible(self):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", CAPTION],
                             env=self.env(False), capture_output=True, text=True)
        return out.stdout.split()

    def wait_until(self, condition, what):
        deadline = time.monotonic() + budget(15)
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.05)

    def start(self, folder, headless):
        return subprocess.Popen([qds_program.EXE, "--folder", folder], env=self.env(headless),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def test_a_second_start_shows_the_running_window_and_ends(self):
        folder = tempfile.mkdtemp(prefix="qds-second-")
        other = tempfile.mkdtemp(prefix="qds-other-")
        self.addCleanup(shutil.rmtree, folder, True)
        self.addCleanup(shutil.rmtree, other, True)
        running = self.start(folder, headless=False)
        self.addCleanup(running.wait)
        self.addCleanup(running.kill)
        self.wait_until(lambda: self.visible() or running.poll() is not None,
                        "the window never showed")
        self.assertIsNone(running.poll(), "the running instance ended")
        window = self.visible()[0]
        subprocess.run(["xdotool", "windowminimize", window], env=self.env(False), check=True)
        self.wait_until(lambda: not self.visible(), "the window did not hide")

        # Another folder's instance starts and ends; the hidden window stays hidden.
        elsewhere = self.start(other, headless=True)
        time.sleep(budget(1))
        elsewhere.terminate()
        elsewhere.wait(budget(30))
        self.assertEqual(self.visible(), [])

        second = self.start(folder, headless=True)
        self.assertEqual(second.wait(budget(30)), 2, "the second start did not end as one")
        self.wait_until(lambda: self.visible(), "the running instance did not show its window")
        self.assertIsNone(running.poll(), "the running instance goes on")


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    unittest.main()
