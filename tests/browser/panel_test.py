#!/usr/bin/python3
# The front panel in headless Chromium, against the real simulator and daemon. It runs in the
# sandbox (./dev check: scripts/sandbox.sh /usr/bin/python3 THIS), where orvixsim and orvixcast
# run and the panel's port is the sandbox's own; Debian's selenium serves /usr/bin/python3 only.
# ORVIX_PANEL_SCREENSHOT=FILE also saves the panel mid-track as a PNG (docs/panel.png).
import json
import os
import subprocess
import time
from urllib.parse import urlparse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys


def sim(*words):
    done = subprocess.run(["orvixsim", *words], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


# Polls PROBE until it gives something true; fails naming WHAT after SECONDS.
def until(what, probe, seconds=10):
    deadline, last = time.monotonic() + seconds, None
    while time.monotonic() < deadline:
        try:
            last = probe()
            if last:
                return last
        except Exception as e:  # an element not drawn yet, a log not written yet
            last = e
        time.sleep(0.05)
    raise AssertionError(f"gave up waiting for {what} (last: {last!r})")


def calls(op):
    return [c["args"] for c in sim("cast", "log") if c["op"] == op]


def browser():
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--user-data-dir=/tmp/panel-test-chromium",
                 "--window-size=1100,1400"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def check(b, url):
    text = lambda element_id: b.find_element(By.ID, element_id).text
    press = lambda label: b.find_element(By.XPATH, f"//button[normalize-space()='{label}']").click()
    b.get(url)
    until("the event stream", lambda: text("link") == "live")

    # A track sent with the CLI: the card shows it and the position the daemon reports.
    for words in (("name", "set", "Living Room"), ("env", "set", "TimeZone", "Europe/London"),
                  ("cast", "connect"), ("cast", "status", "--app", "Radio Lanterns"),
                  ("cast", "request-resources")):
        sim(*words)
    sim("cast", "media", "--state", "2", "--time", "42", "--stream", "1", "--duration", "215.5",
        "--title", "Quiet Harbour", "--artist", "The Lanterns", "--album", "Night Ferry")
    until("the track on the now-playing card", lambda: [
        text("np-title"), text("np-artist"), text("np-album"), text("np-state"), text("np-duration")
    ] == ["Quiet Harbour", "The Lanterns", "Night Ferry", "playing", "3:35"])
    bar = b.find_element(By.ID, "progress")
    until("the position from MID 49", lambda: int(bar.get_attribute("aria-valuenow")) >= 42)

    # The device's volume slider, moved by keys: the receiver ends at the last value.
    b.find_element(By.ID, "device-volume").send_keys(Keys.END, Keys.LEFT, Keys.LEFT)
    until("the device volume at the receiver", lambda: calls("CastCliSyncVolume")[-1] == [98])
    until("the volume on the speaker card", lambda: text("sp-volume") == "98")

    # An app accepts the terms; once the receiver answers, the acceptance is stored.
    press("Accept the terms")
    until("the receiver asked", lambda: calls("AcceptTos"))
    press("Answer consent requests")
    until("the stored acceptance", lambda: sim("env", "get", "GoogleCastTOS")["value"] == "true")
    until("the terms on the speaker card", lambda: text("sp-terms") == "true")
    until("the app's reply", lambda: '"success"' in text("app-reply"))

    if os.environ.get("ORVIX_PANEL_SCREENSHOT"):
        b.save_screenshot(os.environ["ORVIX_PANEL_SCREENSHOT"])

    # Pause: the device's play-control event reaches the daemon, which pauses the receiver.
    press("Pause")
    until("the play-control event", lambda: any(
        '-> play-control "PAUSE"' in line for line in sim("timeline", "--json")))
    until("the pause command", lambda: calls("SendPlayCommand")[-1:] == [[1]])

    errors = [e["message"] for e in b.get_log("browser") if e["level"] == "SEVERE"]
    assert not errors, f"console errors: {errors}"
    for entry in b.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            where = urlparse(message["params"]["request"]["url"])
            assert where.scheme not in ("http", "https", "ws", "wss") or \
                where.hostname == "127.0.0.1", f"a request left loopback: {where.geturl()}"


with browser() as b:  # quits the browser on the way out, passed or not
    check(b, sim("panel")["url"])
print("panel_test: passed")
