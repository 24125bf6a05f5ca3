#!/usr/bin/python3
"""Seeking in the console's player over loopback, in headless Chromium.

  /usr/bin/python3 scripts/console-seek-bench.py [BUILD-DIR] [SEEKS]

A session is recorded with rivlo-demo (tests/console/console-session.json); its screen movie is
then replaced by a one-hour movie of the same shape (384 x 667, 2 frames a second, a key frame
every second, index at the end, as the library writes them; made with ffmpeg's test pattern).
The session page plays it from the collector over loopback; each seek to a random moment is
timed from setting the playhead until the frame at that moment is decoded and ready to show
(the "seeked" event). The recorded movie of a few seconds is the baseline in the same
run. Prints the median and the 90th percentile of each, and their ratio.
"""

import json
import os
import random
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEEK = """
const [target, done] = [arguments[0], arguments[arguments.length - 1]];
const v = document.getElementById('screen');
v.pause();
const start = performance.now();
v.addEventListener('seeked', () => done({ms: performance.now() - start, at: v.currentTime}),
                   {once: true});
v.currentTime = target;
"""


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
    seeks = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    work = tempfile.mkdtemp(prefix="rivlo-seek-bench-")
    collector = browser = None
    try:
        subprocess.run([os.path.join(build, "tools/demo/rivlo-demo"),
                        os.path.join(ROOT, "tests/console/console-session.json"), work],
                       env=dict(os.environ, CI="1"), check=True, stdout=subprocess.DEVNULL)
        user, password = open(os.path.join(work, "console-login.txt")).read().split("\n")[:2]
        hour = os.path.join(work, "hour.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        "testsrc2=size=384x667:rate=2", "-t", "3600", "-c:v", "libx264",
                        "-preset", "veryfast", "-g", "2", "-pix_fmt", "yuv420p", hour], check=True)
        url_file = os.path.join(work, "url")
        collector = subprocess.Popen(
            [os.path.join(build, "tools/collector/rivlo-collector"), "serve", "--data",
             os.path.join(work, "collector"), "--port", "0", "--url-file", url_file,
             "--app-key", "demo-application-key"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while not os.path.exists(url_file):
            time.sleep(0.05)
        base = open(url_file).read().strip()

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu"):
            options.add_argument(flag)
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        browser.set_script_timeout(60)
        browser.get(base + "/console/login")
        browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/v1/login', {method: 'POST', headers: {'Content-Type': 'application/json'},"
            " body: JSON.stringify({user: arguments[0], password: arguments[1]})}).then(done);",
            user, password)
        sessions = browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/v1/apps').then((r) => r.json()).then((a) =>"
            " fetch('/api/v1/sessions?app=' + a.apps[0].id + '&tag=console-test'))"
            ".then((r) => r.json()).then(done);")
        session = sessions["sessions"][0]["id"]
        detail = browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/v1/sessions/' + arguments[0]).then((r) => r.json()).then(done);", session)
        movie_id = int(detail["media"]["screen"].rsplit("/", 1)[1])

        def timings(count):
            browser.get("%s/console/sessions/%s" % (base, session))
            while not browser.execute_script(
                    "const v = document.getElementById('screen'); return v && v.readyState >= 1"):
                time.sleep(0.05)
            length = browser.execute_script("return document.getElementById('screen').duration")
            rng = random.Random(11)
            out = []
            for _ in range(count):
                target = rng.uniform(0, max(0.0, length - 1))
                result = browser.execute_async_script(SEEK, target)
                out.append(result["ms"])
            return length, out

        short_length, short = timings(seeks)
        # The recorded movie's file, replaced by the hour (the index row still names it).
        index = sqlite3.connect(os.path.join(work, "collector", "collector.sqlite"))
        path = index.execute("SELECT path FROM uploads WHERE id = ?", (movie_id,)).fetchone()[0]
        index.close()
        shutil.copyfile(hour, os.path.join(work, "collector", path))
        long_length, long = timings(seeks)

        def describe(name, length, values):
            values = sorted(values)
            p90 = values[int(0.9 * (len(values) - 1))]
            print("%-22s %7.0f s  median %6.1f ms  p90 %6.1f ms  max %6.1f ms  (%d seeks)" %
                  (name, length, statistics.median(values), p90, values[-1], len(values)))
            return statistics.median(values)

        a = describe("recorded movie", short_length, short)
        b = describe("one-hour movie", long_length, long)
        print("ratio of medians (hour / recorded): %.2f" % (b / a if a else float("nan")))
    finally:
        if browser:
            browser.quit()
        if collector:
            collector.terminate()
            collector.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
