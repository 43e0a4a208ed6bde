#!/usr/bin/python3
"""The portal page in a real browser (headless Chromium driven over chromedriver's W3C HTTP interface).

From an authorised origin the page detects the agent with a JSON fetch, and an event pushed with okavel-bus
reaches it over its WebSocket and by long poll. From a foreign origin (another host name for the same
page) it gets no cross-origin grant, 403 on a protected path and no WebSocket.

The agent runs in a sandbox: a hard link of the executable in a temporary directory with every directory
it writes moved inside, and its fixed ports moved by a free OKAVEL_PORT_OFFSET. Exit status: 0 passed, 1 failed, 77 skipped
(no Chromium, and not in CI).
"""

import argparse
import functools
import glob
import http.server
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

CORE_PIPE = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22"
CORE_HOST = ["--plugin", "plugins/oKavelCore", "-e", "--enable-http"]
SKIPPED = 77


class Failure(Exception):
    pass


def eventually(check, what, timeout=30.0):
    """The first true value of check(), or a failure naming what did not happen."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class AgentSandbox:
    """The agent executable hard-linked into root/bin, with its data, shared, runtime and hosts inside root."""

    def __init__(self, root, agent, port_offset):
        self.root = root
        self.bin = os.path.join(root, "bin")
        os.makedirs(self.bin)
        for name in ("data", "shared", "run"):
            os.makedirs(os.path.join(root, name))
        try:
            os.link(agent, os.path.join(self.bin, "oKavelAgent"))
        except OSError:
            shutil.copy2(agent, os.path.join(self.bin, "oKavelAgent"))
        with open(os.path.join(root, "hosts"), "w") as hosts:
            hosts.write("127.0.0.1 localhost\n")
        self.env = dict(os.environ, XDG_DATA_HOME=os.path.join(root, "data"),
                        OKAVEL_SHARED_DATA_DIR=os.path.join(root, "shared"),
                        OKAVEL_RUNTIME_DIR=os.path.join(root, "run"), OKAVEL_HOSTS_FILE=os.path.join(root, "hosts"),
                        OKAVEL_PORT_OFFSET=port_offset)
        self.process = None

    def write_shared(self, name, text):
        path = os.path.join(self.root, "shared", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def start(self):
        out = open(os.path.join(self.root, "agent.out"), "w")
        self.process = subprocess.Popen(["./oKavelAgent"] + CORE_HOST, cwd=self.bin, env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        eventually(lambda: self.http_port() or self.process.poll() is not None, "the agent's web port")
        if self.process.poll() is not None:
            raise Failure(f"the agent ended at start with {self.process.returncode}")
        eventually(lambda: os.path.exists(self.bus_socket()), "the agent's bus socket")

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        subprocess.run(["./oKavelAgent"] + CORE_HOST + ["--plugin-stop-sync"], cwd=self.bin, env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def http_port(self):
        try:
            with open(os.path.join(self.bin, "var/run/httpserver")) as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return 0

    def bus_socket(self):
        return os.path.join(self.root, "run", CORE_PIPE + ".sock")

    def log(self):
        text = ""
        for name in glob.glob(os.path.join(self.root, "data/Talvern/oKavel/logs/*.log")):
            with open(name, errors="replace") as f:
                text += f.read()
        return text


class Browser:
    """One chromedriver and one headless Chromium session, spoken to in W3C WebDriver JSON over HTTP."""

    def __init__(self, root, chromium, chromedriver, host_rules):
        self.port = free_port()
        self.log = open(os.path.join(root, "chromedriver.log"), "w")
        self.driver = subprocess.Popen([chromedriver, f"--port={self.port}"], stdout=self.log, stderr=subprocess.STDOUT)
        self.base = f"http://127.0.0.1:{self.port}"
        eventually(self._ready, "chromedriver")
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--ignore-certificate-errors",
                f"--user-data-dir={os.path.join(root, 'profile')}", f"--host-resolver-rules={host_rules}"]
        capabilities = {"browserName": "chrome", "acceptInsecureCerts": True,
                        "goog:chromeOptions": {"binary": chromium, "args": args}}
        self.session = self._call("POST", "/session", {"capabilities": {"alwaysMatch": capabilities}})["sessionId"]

    def _ready(self):
        try:
            return self._call("GET", "/status")["ready"]
        except (OSError, Failure):
            return False

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as reply:
                return json.loads(reply.read())["value"]
        except urllib.error.HTTPError as error:
            raise Failure(f"webdriver {method} {path}: {error.read().decode(errors='replace')}")

    def open(self, url):
        self._call("POST", f"/session/{self.session}/url", {"url": url})

    def run(self, script, *args):
        """Runs an async script: its last argument is the callback that returns the result."""
        return self._call("POST", f"/session/{self.session}/execute/async", {"script": script, "args": list(args)})

    def state(self):
        return self._call("POST", f"/session/{self.session}/execute/sync",
                          {"script": "return window.portal ? JSON.parse(JSON.stringify(window.portal)) : null;",
                           "args": []})

    def quit(self):
        try:
            self._call("DELETE", f"/session/{self.session}")
        finally:
            self.driver.terminate()
            self.driver.wait(timeout=20)


# A plain POST needs no preflight, and the agent names the body's "addr" as the allowed origin: the page can
# read the answer, which is the point of the probe.
PROBE = """
const [url, done] = arguments;
fetch(url, {method: "POST", headers: {"Content-Type": "text/plain"},
            body: JSON.stringify({addr: location.origin, data: {fromId: 1, timeout: 1}})})
  .then(async (r) => done({status: r.status, body: await r.text()}))
  .catch((e) => done({error: String(e)}));
"""


class QuietPages(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def events_named(state, name):
    return [e for e in (state or {}).get("events", []) if f'"event":"{name}"' in e["content"]]


def check_authorised_page(browser, agent, bus_tool, page):
    browser.open(page)
    state = eventually(lambda: (s := browser.state()) and s["socket"] == "open" and events_named(s, "ready") and s,
                       "the page to detect the agent and subscribe")
    if state["detect"].get("code") != 0:
        raise Failure(f"detect by JSON fetch failed: {state['detect']}")
    pushed = subprocess.run([bus_tool, "--socket", agent.bus_socket(), "push", "mirnEvent|browserTest",
                             '{"event":"browser-test","data":{"n":1}}'], capture_output=True, text=True, timeout=30)
    if pushed.returncode != 0:
        raise Failure(f"okavel-bus push failed ({pushed.returncode}): {pushed.stderr}")

    def both_channels():
        rows = events_named(browser.state(), "browser-test")
        return rows if {r["channel"] for r in rows} == {"websocket", "long poll"} else None

    rows = eventually(both_channels, "the pushed event over the WebSocket and by long poll")
    if len({r["id"] for r in rows}) != 1 or not isinstance(rows[0]["id"], int):
        raise Failure(f"the two channels disagree on the event's id: {rows}")
    for row in rows:
        if len(row["traceId"]) != 8:
            raise Failure(f"an event without its trace id: {row}")


def check_foreign_page(browser, agent, page):
    browser.open(page)
    state = eventually(lambda: (s := browser.state()) and s["detect"] and s["socket"] not in ("idle", "connecting")
                       and s, "the foreign page to give up")
    if "error" not in state["detect"]:
        raise Failure(f"a foreign page was granted a JSON fetch: {state['detect']}")
    if state["socket"] == "open" or state["events"]:
        raise Failure(f"a foreign page got a WebSocket: {state['socket']} {state['events']}")
    probe = browser.run(PROBE, f"https://127.0.0.1:{agent.http_port()}/v1/service/events")
    if probe.get("status") != 403 or "11119003" not in probe.get("body", ""):
        raise Failure(f"a protected path answered a foreign page with {probe}")
    eventually(lambda: "the websocket handshake(" in agent.log(), "the refusal of the handshake in the log")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    parser.add_argument("--bus-tool", required=True)
    parser.add_argument("--portal", required=True, help="the directory of the portal page")
    parser.add_argument("--port-offset-script", required=True, help="prints a free OKAVEL_PORT_OFFSET")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    args = parser.parse_args()
    if not (os.access(args.chromium, os.X_OK) and os.access(args.chromedriver, os.X_OK)):
        print("chromium or chromedriver is missing (scripts/install-deps.sh installs them)")
        return 1 if os.environ.get("CI") else SKIPPED

    with tempfile.TemporaryDirectory(prefix="okavel-browser-") as root:
        handler = functools.partial(QuietPages, directory=args.portal)
        pages = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=pages.serve_forever, daemon=True).start()
        page_port = pages.server_address[1]

        # Every fixed port moved to where nothing listens: an agent on the default ports is left alone.
        offset = subprocess.run(["bash", args.port_offset_script], capture_output=True, text=True, check=True)
        agent = AgentSandbox(root, args.agent, offset.stdout.strip())
        agent.write_shared("var/conf/authorizedUrls.json", json.dumps([f"http://portal.test:{page_port}"]))
        agent.write_shared("var/conf/localConfig.json", '{"lang":"en-US"}')
        browser = None
        try:
            agent.start()
            browser = Browser(root, args.chromium, args.chromedriver,
                              "MAP portal.test 127.0.0.1, MAP evil.test 127.0.0.1")
            query = f"index.html?port={agent.http_port()}"
            check_authorised_page(browser, agent, args.bus_tool, f"http://portal.test:{page_port}/{query}")
            check_foreign_page(browser, agent, f"http://evil.test:{page_port}/{query}")
            print("portal page: authorised origin served over fetch, WebSocket and long poll; foreign origin refused")
            return 0
        except (Failure, OSError, subprocess.SubprocessError) as error:
            print(f"FAILED: {error}")
            for name in ("agent.out", "chromedriver.log"):
                path = os.path.join(root, name)
                if os.path.exists(path):
                    with open(path, errors="replace") as f:
                        print(f"--- {name} (end)\n{f.read()[-3000:]}")
            return 1
        finally:
            if browser is not None:
                browser.quit()
            agent.stop()
            pages.shutdown()


if __name__ == "__main__":
    sys.exit(main())
