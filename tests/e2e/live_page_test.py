#!/usr/bin/env python3
"""The live page in a real headless browser (Debian's chromium, driven through chromedriver's
WebDriver protocol): it shows a verdict that arrives after it loaded, and says so when it has
no token. Usage: live_page_test.py QuorinDriverServer [screenshot.png]"""
import base64
import json
import os
import shutil
import subprocess
import sys
import time
import unittest
import urllib.request

import qds_program
from qds_program import Program, budget, free_port

SCREENSHOT = None


class Browser:
    def __init__(self):
        self.port = free_port()
        self.driver = subprocess.Popen(["chromedriver", "--port=%d" % self.port],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + budget(30)
        while True:
            try:
                self.call("GET", "/status")
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)
        options = {"binary": shutil.which("chromium"),
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                            "--disable-dev-shm-usage", "--window-size=900,600"]}
        self.session = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options}}})["sessionId"]

    def call(self, method, path, body=None):
        request = urllib.request.Request(
            "http://127.0.0.1:%d%s" % (self.port, path), method=method,
            data=None if body is None else json.dumps(body).encode(),
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=budget(60)) as answer:
            return json.loads(answer.read())["value"] if method != "GET" or path != "/status" \
                else json.loads(answer.read())

    def go(self, url):
        self.call("POST", "/session/%s/url" % self.session, {"url": url})

    def run(self, script):
        return self.call("POST", "/session/%s/execute/sync" % self.session,
                         {"script": script, "args": []})

    def wait_for(self, script, what):
        deadline = time.monotonic() + budget(15)
        while True:
            value = self.run(script)
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("the page never showed " + what)
            time.sleep(0.05)

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("GET", "/session/%s/screenshot" % self.session)))

    def close(self):
        try:
            self.call("DELETE", "/session/%s" % self.session)
        finally:
            self.driver.kill()
            self.driver.wait()


@unittest.skipUnless(shutil.which("chromium") and shutil.which("chromedriver"),
                     "no chromium or chromedriver")
class LivePageTest(unittest.TestCase):
    def setUp(self):
        self.program = Program("[Http]\r\nListen={port}\r\n",
                               rules="Rule1=^BAD => result 17\r\n").start()
        self.browser = Browser()

    def tearDown(self):
        self.browser.close()
        self.program.cleanup()

    def test_the_page_shows_verdicts_that_arrive_after_it_loaded(self):
        p, b = self.program, self.browser
        b.go("http://127.0.0.1:%d/#token=%s" % (p.port, p.token))
        b.wait_for("return document.getElementById('state').textContent", "the register's state")
        self.assertEqual(b.run("return document.getElementById('problem').textContent"), "")

        sent = p.post(b"VEND 1\r\n")[2]
        failed = p.post(b"VEND 2\r\nBAD 3\r\n")[2]
        shown = time.monotonic()
        rows = b.wait_for(
            "const rows = [...document.querySelectorAll('#verdicts tr')];"
            "return rows.length >= 2 && rows.map(r => r.innerText);", "the two verdicts")
        print("verdicts shown %.0f ms after the POST answered" % ((time.monotonic() - shown) * 1000))
        self.assertIn("HTTP-%s.TXT" % failed["id"], rows[0])
        self.assertIn("non inviato", rows[0])
        self.assertIn(failed["error"]["text"], rows[0])
        self.assertIn("HTTP-%s.TXT" % sent["id"], rows[1])
        self.assertEqual(b.run("return document.getElementById('error').textContent"),
                         failed["error"]["text"])
        if SCREENSHOT:
            b.screenshot(SCREENSHOT)

    def test_the_token_leaves_the_address_bar_and_a_reload_still_works(self):
        p, b = self.program, self.browser
        b.go("http://127.0.0.1:%d/#token=%s" % (p.port, p.token))
        b.wait_for("return document.getElementById('state').textContent", "the register's state")
        self.assertNotIn(p.token, b.run("return location.href"))
        self.assertNotIn(p.token, b.run("return String(history.length) + location.hash"))
        b.run("location.reload()")
        time.sleep(budget(0.5))
        b.wait_for("return document.getElementById('state').textContent", "the state again")
        self.assertEqual(b.run("return document.getElementById('problem').textContent"), "")

    def test_without_a_token_the_page_says_how_to_open_it(self):
        p, b = self.program, self.browser
        b.go("http://127.0.0.1:%d/" % p.port)
        text = b.wait_for("return document.getElementById('problem').textContent", "a problem")
        self.assertIn("token", text)


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    if len(sys.argv) > 1 and sys.argv[1].endswith(".png"):
        SCREENSHOT = sys.argv.pop(1)
    unittest.main()
