"""The page of `quillon serve` in a real browser: headless Chromium driven
through its DevTools protocol on a pipe."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

import pytest

from serve_process import Server, cli_json, sim_env

ARTIFACT = os.environ.get("QUILLON_SCREENSHOT", "serve_page.png")


class Browser:
    """Chromium with --remote-debugging-pipe: JSON messages ending in NUL,
    commands on its descriptor 3, replies and events on its descriptor 4."""

    def __init__(self, url):
        binary = shutil.which("chromium") or shutil.which("chromium-browser")
        if binary is None:
            pytest.skip("Chromium is not installed: the browser test cannot run")
        self.profile = tempfile.mkdtemp(prefix="quillon-chromium-")
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()
        # Above 4, so that placing them at 3 and 4 cannot overwrite one another.
        to_chrome_r = self._high(to_chrome_r)
        from_chrome_w = self._high(from_chrome_w)

        def place():
            os.dup2(to_chrome_r, 3)
            os.dup2(from_chrome_w, 4)

        self.proc = subprocess.Popen(
            [binary, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--window-size=1200,1300", f"--user-data-dir={self.profile}",
             "--remote-debugging-pipe", url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(3, 4),
            preexec_fn=place)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        try:
            targets = self.call("Target.getTargets")["targetInfos"]
        except (OSError, EOFError) as error:
            self.close()
            pytest.skip(f"Chromium could not start: {error}")
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]

    @staticmethod
    def _high(fd):
        import fcntl
        moved = fcntl.fcntl(fd, fcntl.F_DUPFD, 10)
        os.close(fd)
        return moved

    def call(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        os.write(self.to_chrome, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.from_chrome, 1 << 16)
                if not chunk:
                    raise EOFError("Chromium closed its pipe")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise AssertionError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, what):
        """Polls the page (at most 10 s) until `expression` is truthy; returns its value."""
        for _ in range(100):
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError(f"the page never showed {what}")

    def close(self):
        self.proc.kill()
        self.proc.wait(timeout=30)
        os.close(self.to_chrome)
        os.close(self.from_chrome)
        shutil.rmtree(self.profile, ignore_errors=True)


TRACE = "document.getElementById('trace')?.getAttribute('points')"


def trace_points(browser):
    text = browser.evaluate(TRACE) or ""
    return [tuple(map(float, p.split(","))) for p in text.split()]


def check_plot_holds(points, values):
    """The polyline has one vertex per point, spans the plot's width, and its
    heights rank the points as the values do."""
    assert len(points) == len(values)
    assert points[0][0] == pytest.approx(70) and points[-1][0] == pytest.approx(785)
    assert [x for x, _ in points] == sorted(x for x, _ in points)
    highest = max(range(len(values)), key=lambda i: values[i])
    lowest = min(range(len(values)), key=lambda i: values[i])
    assert min(range(len(points)), key=lambda i: points[i][1]) == highest
    assert max(range(len(points)), key=lambda i: points[i][1]) == lowest


def text_of(browser, element_id):
    return browser.evaluate(f"document.getElementById('{element_id}').textContent")


def test_the_page_scans_lit_keeps_its_spectra_and_knows_the_lamp():
    server = Server()
    browser = None
    try:
        browser = Browser(f"{server.origin}/?token={server.token}")
        browser.call("Page.enable")
        names = [c["name"] for c in server.get("/api/configurations")[2]]
        shown = browser.wait_for(
            "[...document.querySelectorAll('#configs li')].map(li => li.textContent).join('|')"
            " || ''", "the configurations")
        for name in names:
            assert name in shown
        assert "Versions 0x" in text_of(browser, "module")
        # Before any scan: an empty plot that says what to do, and a known lamp.
        hint = browser.evaluate("document.getElementById('empty-hint').getAttribute('visibility')")
        assert hint == "visible" and "press Scan" in text_of(browser, "empty-hint")
        assert text_of(browser, "lamp-state") == "is off"

        # A click on Scan measures lit, as `quillon scan` does, and the lamp goes off after it.
        browser.evaluate("document.getElementById('scan').click()")
        browser.wait_for("document.getElementById('plot').dataset.points === '228'", "the scan")
        lit = cli_json("scan", "--json")["scans"][0]["intensity"]
        assert server.get("/api/download?spectrum=latest&format=json")[2]["scans"][0]["intensity"] == lit
        check_plot_holds(trace_points(browser), lit)
        browser.wait_for("document.getElementById('lamp-state').textContent === 'is off'", "lamp off")
        assert server.get("/api/module")[2]["lamp"] is False

        # A reload shows the same spectrum again.
        before = browser.evaluate(TRACE)
        browser.call("Page.reload")
        browser.wait_for(f"{TRACE} === {json.dumps(before)}", "the spectrum after a reload")

        # With the lamp switched on here, Scan leaves it on.
        browser.evaluate("document.getElementById('lamp-on').click()")
        browser.wait_for("document.getElementById('lamp-state').textContent === 'is on'", "lamp on")
        browser.evaluate("document.getElementById('scan').click()")
        browser.wait_for("document.getElementById('message').textContent === 'Scanned'", "a scan")
        assert server.get("/api/module")[2]["lamp"] is True
        assert text_of(browser, "lamp-state") == "is on"

        # The last three spectra overlaid, one colour and legend entry each.
        server.post("/api/scan", {"lamp": "keep"})
        browser.wait_for("document.querySelectorAll('#legend li').length === 1", "one spectrum")
        browser.evaluate("const c = document.getElementById('overlay-count'); c.value = '3';"
                         "c.dispatchEvent(new Event('change'))")
        legend = browser.wait_for("document.querySelectorAll('#legend li').length === 3 && "
                                  "[...document.querySelectorAll('#legend li')].map(li => "
                                  "li.textContent).join('|')", "three spectra in the legend")
        assert legend.split("|")[-1].endswith("(latest)")
        colours = browser.evaluate("[...document.querySelectorAll('#overlays polyline')]"
                                   ".map(p => p.getAttribute('stroke'))")
        assert len(colours) == 2 and len(set(colours)) == 2

        # A white reference from a JCAMP-DX file that `quillon scan` wrote.
        folder = tempfile.mkdtemp(prefix="quillon-ref-")
        white = os.path.join(folder, "white.jdx")
        cli_json("scan", "--json", "--jcamp", white)
        node = browser.call("DOM.querySelector", selector="#reference-file",
                            nodeId=browser.call("DOM.getDocument")["root"]["nodeId"])["nodeId"]
        browser.call("DOM.setFileInputFiles", files=[white], nodeId=node)
        browser.wait_for("document.getElementById('message').textContent.startsWith("
                         "'White reference loaded from white.jdx')", "the reference loaded")
        assert server.get("/api/module")[2]["reference"] is True
        browser.wait_for("[...document.querySelectorAll('#legend li')].some(li => "
                         "li.textContent === 'white reference')", "the reference drawn")
        shutil.rmtree(folder, ignore_errors=True)

        # The readout names the wavelength under the cursor.
        latest = server.get("/api/download?spectrum=latest&format=json")[2]["scans"][0]
        browser.evaluate("document.getElementById('plot').focus()")
        for _ in range(4):
            browser.evaluate("document.getElementById('plot').dispatchEvent("
                             "new KeyboardEvent('keydown', {key: 'ArrowRight', bubbles: true}))")
        assert text_of(browser, "readout") == "%.2f nm: %d (intensity)" % (
            latest["wavelength_nm"][3], latest["intensity"][3])

        shot = browser.call("Page.captureScreenshot", format="png")["data"]
        with open(ARTIFACT, "wb") as f:
            f.write(base64.b64decode(shot))
        assert os.path.getsize(ARTIFACT) > 10000
    finally:
        if browser:
            browser.close()
        server.stop()


def test_the_page_chooses_among_several_modules():
    server = Server(env=sim_env(QUILLONLIB_SIMULATOR_MODULES="2"))
    browser = None
    try:
        assert server.post("/api/lamp?module=1", {"on": True})[0] == 200
        browser = Browser(f"{server.origin}/?token={server.token}")
        options = browser.wait_for("document.getElementById('module-choice')?.hidden === false && "
                                   "[...document.querySelectorAll('#module-chooser option')]"
                                   ".map(o => o.textContent).join('|')", "the module chooser")
        assert options == "QSIM0001 (0)|QSIM0002 (1)"
        browser.wait_for("document.getElementById('lamp-state').textContent === 'is off'", "module 0")
        browser.evaluate("const c = document.getElementById('module-chooser'); c.value = '1';"
                         "c.dispatchEvent(new Event('change'))")
        browser.wait_for("document.getElementById('lamp-state').textContent === 'is on'", "module 1")
        browser.evaluate("document.getElementById('scan').click()")
        browser.wait_for("document.getElementById('plot').dataset.points === '228'", "its scan")
        assert server.get("/api/spectra?module=1")[2]["latest"] is not None
        assert server.get("/api/spectra")[2]["latest"] is None
    finally:
        if browser:
            browser.close()
        server.stop()
