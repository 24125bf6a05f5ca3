#!/usr/bin/python3
"""The console's pages in real Chromium (headless), driven by Selenium.

A real recording first: rivlo-demo plays the console scenario on the headless device against a
collector on loopback and leaves a console login beside the data. Then rivlo-collector serves
that data folder and the browser logs in through the form, filters the list, opens a session,
plays its movie, checks that the overlay draws the first tap at its recorded point at its
time, opens the heat map of the screen, and finds no errors in the browser's console.
Screenshots of every page are kept in --artefacts.

Run with the system's interpreter (/usr/bin/python3), where Debian's Selenium is.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ARGS = None
APP_KEY = "demo-application-key"
WAIT = 30  # seconds any one step may take on a busy machine


def chromium_binary():
    for path in ("/usr/bin/chromium", "/usr/lib/chromium/chromium"):
        if os.path.exists(path):
            return path
    return None


class ConsoleInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="rivlo-console-browser-")
        os.makedirs(ARGS.artefacts, exist_ok=True)
        env = dict(os.environ, CI="1")
        demo = subprocess.run([ARGS.demo, ARGS.scenario, cls.work], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=240)
        with open(os.path.join(ARGS.artefacts, "demo.log"), "w") as log:
            log.write(demo.stdout)
        if demo.returncode != 0:
            raise AssertionError("the recording failed:\n" + demo.stdout[-3000:])
        assert "Console: rivlo-collector serve --data" in demo.stdout, demo.stdout[-2000:]
        with open(os.path.join(cls.work, "console-login.txt")) as f:
            cls.user, cls.password = f.read().split("\n")[:2]

        url_file = os.path.join(cls.work, "url")
        cls.collector_log = open(os.path.join(ARGS.artefacts, "collector.log"), "w")
        cls.collector = subprocess.Popen(
            [ARGS.collector, "serve", "--data", os.path.join(cls.work, "collector"),
             "--port", "0", "--url-file", url_file, "--app-key", APP_KEY,
             "--app-name", "Demo Shop"],
            stdout=cls.collector_log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + WAIT
        while not os.path.exists(url_file):
            if cls.collector.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the collector did not start")
            time.sleep(0.05)
        with open(url_file) as f:
            cls.base = f.read().strip()

        options = webdriver.ChromeOptions()
        options.binary_location = chromium_binary()
        for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=1400,1000",
                     "--autoplay-policy=no-user-gesture-required"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.browser.set_page_load_timeout(WAIT)
        cls.shot = 0

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "browser", None):
            cls.browser.quit()
        if getattr(cls, "collector", None):
            cls.collector.terminate()
            try:
                cls.collector.wait(timeout=20)
            except subprocess.TimeoutExpired:
                cls.collector.kill()
                cls.collector.wait()
            cls.collector_log.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    # Helpers
    def wait_for(self, what, predicate, timeout=WAIT):
        try:
            return WebDriverWait(self.browser, timeout, poll_frequency=0.1).until(
                lambda b: predicate(b))
        except TimeoutException:
            self.screenshot("failed-" + what.replace(" ", "-"))
            raise AssertionError("waited in vain for " + what + " at " +
                                 self.browser.current_url)

    def screenshot(self, name):
        type(self).shot += 1
        self.browser.save_screenshot(
            os.path.join(ARGS.artefacts, "%02d-%s.png" % (type(self).shot, name)))

    def rows(self):
        return self.browser.find_elements(By.CSS_SELECTOR, "#sessions tbody tr")

    def errors(self):
        return [e for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def test_the_console_end_to_end(self):
        b = self.browser
        # Not logged in: the list sends to the login page, which comes back to it.
        b.get(self.base + "/console/")
        self.wait_for("the login form",
                      lambda b: urllib.parse.urlparse(b.current_url).path == "/console/login")
        self.browser.get_log("browser")  # the 401 that sent here is expected
        b.find_element(By.NAME, "user").send_keys(self.user)
        b.find_element(By.NAME, "password").send_keys("not the password")
        b.find_element(By.CSS_SELECTOR, "form#login button[type=submit]").click()
        problem = self.wait_for("the refusal", lambda b: b.find_element(By.ID, "problem")
                                if b.find_element(By.ID, "problem").is_displayed() else False)
        self.assertIn("Wrong user name or password", problem.text)
        self.browser.get_log("browser")  # and so is the 401 of the wrong password
        password = b.find_element(By.NAME, "password")
        password.clear()
        password.send_keys(self.password)
        self.screenshot("login")
        b.find_element(By.CSS_SELECTOR, "form#login button[type=submit]").click()

        # The list: both sessions, then filtered by tag (the filter lands in the URL).
        self.wait_for("two sessions", lambda b: len(self.rows()) == 2)
        self.assertEqual(urllib.parse.urlparse(b.current_url).path, "/console/")
        self.assertEqual(b.find_element(By.ID, "summary").text, "2 sessions")
        self.screenshot("sessions")
        tag = b.find_element(By.CSS_SELECTOR, "#filters input[name=tag]")
        tag.send_keys("console-test")
        b.find_element(By.CSS_SELECTOR, "#filters button[type=submit]").click()
        self.wait_for("the filtered list", lambda b: len(self.rows()) == 1 and
                      b.find_element(By.ID, "summary").text == "1 session")
        self.assertIn("tag=console-test", b.current_url)
        # The link carries the state: opened again, the same filtered list.
        b.get(b.current_url)
        self.wait_for("the filtered list again", lambda b: len(self.rows()) == 1)
        row = self.rows()[0]
        self.assertIn("LoginViewController", row.text)
        self.assertIn("movie", row.text)
        session_id = row.get_attribute("data-id")

        # The session: its movie plays.
        row.find_element(By.TAG_NAME, "a").click()
        self.wait_for("the session page",
                      lambda b: b.current_url.endswith("/console/sessions/" + session_id))
        self.wait_for("the movie's first frame",
                      lambda b: self.js("return document.getElementById('screen').readyState") >= 2)
        self.js("document.getElementById('screen').play()")
        self.wait_for("the movie playing",
                      lambda b: self.js("return document.getElementById('screen').currentTime") > 0.5)
        self.screenshot("session-playing")

        # The first tap of the recording, from the API: the overlay shows it at its time,
        # where it was made.
        detail = b.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/v1/sessions/' + arguments[0]).then((r) => r.json()).then(done);",
            session_id)
        tap = next(e for e in detail["events"] if e["kind"] == "tap")
        self.assertAlmostEqual(tap["x"], 100, delta=2)
        self.assertAlmostEqual(tap["y"], 500, delta=2)
        # Jump there from the event list, then hold the picture.
        index = detail["events"].index(tap)
        b.find_element(By.CSS_SELECTOR,
                       "#event-list tbody tr[data-index='%d'] button.jump" % index).click()
        self.js("const v = document.getElementById('screen'); v.pause();"
                "v.currentTime = arguments[0];", tap["t"] + 0.3)
        mark = self.wait_for("the tap on the overlay", lambda b: self.js("""
            const m = [...document.querySelectorAll('#overlay g.mark[data-kind=tap]')]
              .find((g) => Math.abs(g.dataset.x - arguments[0]) < 1 &&
                           Math.abs(g.dataset.y - arguments[1]) < 1);
            if (!m) return null;
            const r = m.getBoundingClientRect(), v = document.getElementById('overlay')
              .getBoundingClientRect();
            return {x: (r.left + r.width / 2 - v.left) / v.width,
                    y: (r.top + r.height / 2 - v.top) / v.height,
                    time: Number(document.getElementById('overlay').dataset.time)};
            """, tap["x"], tap["y"]))
        width, height = detail["device"]["width"], detail["device"]["height"]
        self.assertAlmostEqual(mark["x"], tap["x"] / width, delta=0.02)
        self.assertAlmostEqual(mark["y"], tap["y"] / height, delta=0.02)
        self.assertGreaterEqual(mark["time"], tap["t"])
        self.screenshot("session-tap")
        # Away from its time, the tap is not drawn.
        self.js("document.getElementById('screen').currentTime = arguments[0];",
                tap["t"] + 3)
        self.wait_for("the tap gone", lambda b: not self.js(
            "return [...document.querySelectorAll('#overlay g.mark[data-kind=tap]')]"
            ".some((g) => Math.abs(g.dataset.x - arguments[0]) < 1 &&"
            " Math.abs(g.dataset.y - arguments[1]) < 1)", tap["x"], tap["y"]))
        # Speeds change the playback rate and stay in the URL.
        b.find_element(By.CSS_SELECTOR, "button.speed[data-speed='4']").click()
        self.assertEqual(self.js("return document.getElementById('screen').playbackRate"), 4)
        self.assertIn("speed=4", b.current_url)
        markers = b.find_elements(By.CSS_SELECTOR, "#timeline .marker")
        self.assertGreaterEqual(len(markers), 10)
        # Each marker where its event is: spread along the bar, not piled at its start.
        lefts = {round(m.location["x"]) for m in markers}
        self.assertGreaterEqual(len(lefts), 5, "timeline markers not placed")
        self.assertTrue(b.find_elements(By.CSS_SELECTOR, "#web .webpage img"))

        # The heat map of the login screen: the picture, its taps and the rage tap.
        b.get(self.base + "/console/heatmaps?" + urllib.parse.urlencode(
            {"app": detail["app"], "screen": "LoginViewController"}))
        self.wait_for("the heat map's picture", lambda b: self.js(
            "const i = document.querySelector('img.heat');"
            "return i && i.complete && i.naturalWidth > 0"))
        panel = b.find_element(By.CSS_SELECTOR, ".heat-panel")
        self.assertEqual(panel.get_attribute("data-taps"), "4")
        # The three quick taps are a rage tap when the device played them within one second of
        # the timeline (a loaded machine can stretch them over two).
        quick = [e["t"] for e in detail["events"] if e["kind"] == "tap" and
                 abs(e["x"] - 100) <= 5 and abs(e["y"] - 500) <= 5]
        if len(quick) == 3 and quick[2] - quick[0] <= 1:
            self.assertIn("1 rage taps", panel.text)
            self.wait_for("the rage mark",
                          lambda b: b.find_elements(By.CSS_SELECTOR, "svg.points g.rage"))
        else:
            self.assertNotIn("rage taps", panel.text)
        self.screenshot("heatmap")

        errors = [e["message"] for e in self.errors()]
        self.assertEqual(errors, [], "errors in the browser's console")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--collector", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--artefacts", required=True)
    ARGS, rest = parser.parse_known_args()
    if not chromium_binary() or not os.path.exists("/usr/bin/chromedriver"):
        print("Chromium or its driver is missing: run scripts/setup.sh", file=sys.stderr)
        return 1
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
