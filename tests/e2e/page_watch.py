#!/usr/bin/python3
"""page_watch.py URL EXPRESSION SECONDS [TOKEN]: opens URL in headless Chromium (DevTools over
--remote-debugging-pipe), with the cookie zeva_token when TOKEN is given, and prints the value of
EXPRESSION each time it changes, as "value <text> <marker>", where the marker is a number the page
got at its load: a reload shows as a new marker. Ends after SECONDS."""
import json
import os
import subprocess
import sys
import tempfile
import time

url, expression, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
to_chrome_r, to_chrome_w = os.pipe()
from_chrome_r, from_chrome_w = os.pipe()


def child_fds():
    # Through fresh numbers: a pipe that already is 3 or 4 would keep its close-on-exec.
    r, w = os.dup(to_chrome_r), os.dup(from_chrome_w)
    os.dup2(r, 3)
    os.dup2(w, 4)


profile = tempfile.mkdtemp(prefix="zeva-chromium-")
chrome = subprocess.Popen(
    ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--user-data-dir=" + profile,
     "--remote-debugging-pipe", "about:blank"],
    close_fds=False, preexec_fn=child_fds, stdout=subprocess.DEVNULL, stderr=open(os.environ.get("PAGE_WATCH_LOG", "/dev/null"), "w"))
os.close(to_chrome_r)
os.close(from_chrome_w)
buffered = b""
next_id = 0


def call(method, params=None, session=None):
    global buffered, next_id
    next_id += 1
    message = {"id": next_id, "method": method, "params": params or {}}
    if session:
        message["sessionId"] = session
    os.write(to_chrome_w, json.dumps(message).encode() + b"\0")
    while True:
        while b"\0" not in buffered:
            chunk = os.read(from_chrome_r, 65536)
            if not chunk:
                raise SystemExit("chromium went away")
            buffered += chunk
        raw, buffered = buffered.split(b"\0", 1)
        reply = json.loads(raw)
        if reply.get("id") == next_id:
            return reply.get("result", {})


try:
    target = call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    if len(sys.argv) > 4:
        call("Network.setCookie", {"name": "zeva_token", "value": sys.argv[4], "url": url}, session)
    call("Page.navigate", {"url": url}, session)
    last = None
    end = time.time() + seconds
    while time.time() < end:
        probe = "(() => { window.zevaMarker = window.zevaMarker || Math.random(); return String(%s) + ' ' + " \
                "window.zevaMarker; })()" % expression
        value = call("Runtime.evaluate", {"expression": probe, "returnByValue": True}, session)
        text = value.get("result", {}).get("value")
        if text is not None and text != last:
            print("value", text, flush=True)
            last = text
        time.sleep(0.2)
finally:
    chrome.kill()
    chrome.wait()
    subprocess.run(["rm", "-rf", profile])
