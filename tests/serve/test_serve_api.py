"""The JSON API of `quillon serve` against the simulated module."""
import http.client
import json
import os
import signal
import socket
import threading
import time

import pytest

from serve_process import Server, cli_json, read_events, resident_kib, sim_env

HADAMARD_HALF = {"type": "Hadamard", "end_nm": 1300, "width": 2.34, "patterns": 300,
                 "exposure": 0.635, "start_nm": 900}


@pytest.fixture
def server():
    s = Server()
    yield s
    s.stop()


def test_reads_show_the_module_as_the_command_line_does(server):
    status, _, module = server.get("/api/module")
    assert status == 200
    cli = cli_json("scan", "--json")
    assert module["versions"] == cli["versions"]
    assert module["estimated_scan_time_ms"] == cli["estimated_scan_time_ms"]
    assert module["active_position"] == cli["configuration"]["position"] == 0
    status, _, configs = server.get("/api/configurations")
    assert status == 200
    assert module["stored"] == len(configs) == 3
    # In position order under their real names, every one with its position.
    names = [c["name"] for c in configs]
    assert names == ["Column 900-1700", "Hadamard 900-1700", "Column + Hadamard"]
    assert [c["position"] for c in configs] == [0, 1, 2]
    assert [c["active"] for c in configs] == [True, False, False]
    mixed = configs[2]
    assert mixed["points"] == 200
    assert [s["type"] for s in mixed["sections"]] == ["Column", "Hadamard"]
    assert mixed["sections"][1] == {"type": "Hadamard", "start_nm": 1300, "end_nm": 1700,
                                    "width": 7.03, "patterns": 100, "exposure": 1.27}
    status, _, tables = server.get("/api/tables")
    assert tables["types"] == ["Column", "Hadamard"]
    assert len(tables["widths"]) == 51 and tables["widths"][0]["pixels"] == 2
    assert len(tables["exposures"]) == 7 and 0.635 in tables["exposures"]
    assert tables["patterns"] == {"min": 2, "max": 624}
    status, _, most = server.get("/api/max-patterns?start_nm=900&end_nm=1700&width=3.51"
                                 "&type=Hadamard")
    assert (status, most) == (200, {"max_patterns": 619})
    status, _, bad = server.get("/api/max-patterns?start_nm=900&end_nm=1800&width=3.51"
                                "&type=Column")
    assert status == 400 and "1800" in bad["error"]


def test_a_scan_through_the_api_equals_the_command_line_scan(server):
    status, _, doc = server.post("/api/scan", {"lamp": "on"})
    assert status == 200
    cli = cli_json("scan", "--json")
    assert doc["scans"][0]["wavelength_nm"] == cli["scans"][0]["wavelength_nm"]
    assert doc["scans"][0]["intensity"] == cli["scans"][0]["intensity"]
    assert doc["scans"][0]["points"] == 228
    # The lamp went back off after the scan; a scan now sees stray light only.
    assert server.get("/api/module")[2]["lamp"] is False
    status, resp, csv = server.get("/api/download?spectrum=latest&format=csv")
    assert status == 200 and "attachment" in resp.getheader("Content-Disposition")
    rows = csv.splitlines()
    assert rows[0] == "wavelength_nm,intensity" and len(rows) == 229
    assert rows[1] == "%.6f,%d" % (cli["scans"][0]["wavelength_nm"][0],
                                   cli["scans"][0]["intensity"][0])


def test_dark_and_reference_are_kept_and_downloadable(server):
    assert server.get("/api/download?spectrum=dark&format=json")[0] == 409
    status, _, reply = server.post("/api/scan", {"quantity": "absorbance"})
    assert status == 409 and "white reference" in reply["error"]
    assert server.post("/api/dark")[0] == 200
    assert server.post("/api/reference")[0] == 200
    state = server.get("/api/module")[2]
    assert state["dark"] and state["reference"] and state["lamp"] is False
    dark = server.get("/api/download?spectrum=dark&format=json")[2]["scans"][0]["intensity"]
    white = server.get("/api/download?spectrum=reference&format=json")[2]["scans"][0]["intensity"]
    # The dark spectrum is measured with the lamp off, the reference with it on.
    assert max(dark) * 5 < max(white)
    # The reference against itself: reflectance 1 and absorbance 0 at every point.
    status, _, doc = server.post("/api/scan", {"lamp": "on", "quantity": "reflectance"})
    assert status == 200 and doc["quantity"] == "reflectance"
    assert doc["scans"][0]["reflectance"] == [1.0] * 228
    doc = server.post("/api/scan", {"lamp": "on", "quantity": "absorbance"})[2]
    assert all(abs(a) < 1e-9 for a in doc["scans"][0]["absorbance"])
    jcamp = server.get("/api/download?spectrum=latest&format=jcamp")[2]
    assert "##YUNITS=ABSORBANCE" in jcamp and "##NPOINTS=228" in jcamp
    assert server.post("/api/scan", {"quantity": "odd"})[0] == 400
    assert server.get("/api/download?spectrum=other&format=csv")[0] == 400
    assert server.get("/api/download?spectrum=dark&format=xml")[0] == 400


def test_changes_to_lamp_activation_and_configurations(server):
    assert server.post("/api/lamp", {"on": True})[2] == {"lamp": True}
    assert server.get("/api/module")[2]["lamp"] is True
    assert server.post("/api/lamp", {"on": "yes"})[0] == 400
    status, _, reply = server.post("/api/activate", {"position": 2})
    assert (status, reply) == (200, {"active_position": 2})
    module = server.get("/api/module")[2]
    assert module["active_name"] == "Column + Hadamard" and module["points"] == 200
    status, _, reply = server.post("/api/activate", {"position": 7})
    assert status == 400 and "holds no configuration" in reply["error"]
    assert server.get("/api/module")[2]["active_position"] == 2
    assert server.post("/api/activate", {"position": 20})[0] == 400

    column = {"type": "Column", "start_nm": 1000, "end_nm": 1500, "width": 7.03,
              "patterns": 50, "exposure": 0.635}
    status, _, reply = server.post("/api/configurations", {"name": "web", "sections": [column]})
    assert status == 200 and reply["stored"] == "web"
    configs = server.get("/api/configurations")[2]
    web = next(c for c in configs if c["name"] == "web")
    assert web["points"] == 50 and web["position"] == 3 and web["sections"] == [column]
    status, _, reply = server.post("/api/configurations", {"name": "web", "sections": [column]})
    assert status == 409 and "stored already" in reply["error"]
    status, _, reply = server.post("/api/configurations",
                                   {"name": "w2", "sections": [dict(column, width=7.0)]})
    assert status == 400 and "not a pattern width" in reply["error"]
    status, _, reply = server.post("/api/configurations",
                                   {"name": "w3", "sections": [dict(column, end_nm=None)]})
    assert status == 400 and "end_nm" in reply["error"]
    # The library refuses two Hadamard plans that exceed the module's pattern limit.
    status, _, reply = server.post("/api/configurations", {"name": "big", "sections": [
        HADAMARD_HALF, dict(HADAMARD_HALF, start_nm=1300, end_nm=1700)]})
    assert status == 400 and "did not store" in reply["error"] and "624" in reply["error"]
    # The listing is the module's: nothing of the refused "big" in it.
    listed = server.get("/api/configurations")[2]
    assert "big" not in [c["name"] for c in listed] and len(listed) == 4
    assert server.get("/api/module")[2]["stored"] == 4
    assert server.post("/api/configurations/remove", {"name": "big"})[0] == 400
    assert server.post("/api/configurations/remove", {"name": "web"})[2] == {"removed": "web"}
    assert "web" not in [c["name"] for c in server.get("/api/configurations")[2]]
    status, _, reply = server.post("/api/configurations/remove", {"name": "web"})
    assert status == 400 and "no stored configuration" in reply["error"]


def test_refusals(server):
    base = f"{server.host}:{server.port}"
    # No token, a wrong one, a cookie of another port.
    assert server.get("/api/module", token=False)[0] == 401
    assert server.get("/api/module", headers={"Authorization": "Bearer " + "0" * 32})[0] == 401
    assert server.get("/api/module", token=False,
                      headers={"Cookie": f"quillon_token_1={server.token}"})[0] == 401
    # The first visit trades the token for a cookie.
    status, resp, _ = server.get(f"/?token={server.token}", token=False)
    assert status == 303 and resp.getheader("Location") == "/"
    cookie = resp.getheader("Set-Cookie")
    assert "HttpOnly" in cookie and "SameSite=Strict" in cookie
    assert server.get("/api/module", token=False,
                      headers={"Cookie": "a=b; " + cookie.split(";")[0]})[0] == 200
    assert server.get("/?token=" + "1" * 32, token=False)[0] == 401
    # Foreign Host (DNS rebinding) or Origin (another page in the browser).
    status, _, reply = server.get("/api/module", headers={"Host": f"evil.example:{server.port}"})
    assert status == 403 and "evil.example" in reply["error"]
    assert server.get("/", headers={"Host": "127.0.0.1:1"}, token=False)[0] == 403
    assert server.post("/api/lamp", {"on": True},
                       headers={"Origin": "http://evil.example"})[0] == 403
    assert server.post("/api/lamp", {"on": True}, headers={"Origin": "http://" + base})[0] == 200
    # Only the embedded files exist.
    for path in ("/api/nothing", "/etc/passwd", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                 "/app.js/../../x"):
        assert server.get(path)[0] == 404, path
    status, resp, page = server.get("/", token=False)
    assert status == 200 and "<script src=\"/app.js\">" in page
    assert "default-src 'self'" in resp.getheader("Content-Security-Policy")
    # Malformed bodies, a body over 64 KiB, too many header lines.
    assert server.post("/api/lamp", raw=b"{\"on\": tru")[2]["error"].startswith("the request body")
    assert server.post("/api/lamp", raw=b"[true]")[0] == 400
    assert server.post("/api/lamp", raw=b"[" * 60000)[0] == 400
    status, _, reply = server.post("/api/lamp", raw=b" " * (64 * 1024 + 1))
    assert status == 413 and "64 KiB" in reply["error"]
    many = {f"X-Filler-{i}": "x" for i in range(70)}
    assert server.get("/api/module", headers=many)[0] == 400
    # A running series refuses scans and changes; queries still answer.
    assert server.post("/api/series", {"count": 0, "interval_s": 60})[0] == 200
    for path, body in (("/api/scan", {}), ("/api/series", {}), ("/api/lamp", {"on": False}),
                       ("/api/activate", {"position": 1}), ("/api/dark", {})):
        status, _, reply = server.post(path, body)
        assert status == 409 and "is running" in reply["error"], path
    assert server.get("/api/module")[2]["series"]["running"] is True
    assert server.post("/api/series/stop")[2] == {"series": "stopping"}


def test_twenty_event_streams_receive_every_spectrum_of_a_series(server):
    streams = []
    for _ in range(20):
        conn = server.connection()
        conn.request("GET", "/api/events", headers={"Authorization": f"Bearer {server.token}"})
        resp = conn.getresponse()
        assert resp.status == 200 and resp.getheader("Content-Type") == "text/event-stream"
        assert resp.readline() == b"retry: 2000\n"  # the stream is open before the series
        streams.append((conn, resp))
    assert server.post("/api/series", {"count": 10, "lamp": "on"})[0] == 200
    results = [None] * len(streams)

    def collect(i):
        results[i] = read_events(streams[i][1], wanted=10, limit=200)

    threads = [threading.Thread(target=collect, args=(i,)) for i in range(len(streams))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    for events in results:
        spectra = [data for name, data in events if name == "spectrum"]
        assert [s["scans"][0]["scan"] for s in spectra] == list(range(1, 11))
        assert all(s["kind"] == "sample" and s["scans"][0]["points"] == 228 for s in spectra)
    for conn, _ in streams:
        conn.close()


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def test_a_thousand_requests_leave_no_growth():
    # A sanitizer build holds freed memory back and records where each block
    # came from; without that its memory is as steady as a normal build's.
    server = Server(env=sim_env(ASAN_OPTIONS="quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
                                ":malloc_context_size=0"))
    pid = server.proc.pid
    conn = server.connection()
    auth = {"Authorization": f"Bearer {server.token}"}

    def burst(n):
        for i in range(n):
            if i % 4 == 3:  # a refused request on a connection of its own
                assert server.get("/api/module", token=False)[0] == 401
                continue
            conn.request("GET", "/api/module", headers=auth)
            resp = conn.getresponse()
            assert resp.status == 200
            resp.read()

    burst(1000)  # every worker thread has served by now
    before = (descriptors(pid), resident_kib(pid))
    burst(1000)
    conn.close()
    # The server closes a connection after the client did: give it a moment.
    for _ in range(50):
        if descriptors(pid) <= before[0]:
            break
        time.sleep(0.1)
    after = (descriptors(pid), resident_kib(pid))
    assert after[0] <= before[0], (before, after)
    # A leak of even 1 KiB per request would show as 1000 KiB here.
    assert server.stop() == 0
    assert after[1] - before[1] < 512, (before, after)


def test_silent_clients_do_not_block_the_others(server):
    silent = []
    for _ in range(12):
        sock = socket.create_connection((server.host, server.port), timeout=10)
        sock.sendall(b"GET /api/module HTTP/1.1\r\nHost: ")  # and then nothing
        silent.append(sock)
    half = socket.create_connection((server.host, server.port), timeout=10)
    half.sendall(b"POST /api/scan HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{")
    for _ in range(5):
        assert server.post("/api/scan")[0] == 200
    for sock in silent + [half]:
        sock.close()


def test_scans_files_and_the_log_as_they_should_be(server):
    # Without "lamp" a scan is lit, as `quillon scan` is, and the lamp is off again after it.
    status, _, doc = server.post("/api/scan")
    assert status == 200 and max(doc["scans"][0]["intensity"]) > 1000
    assert server.get("/api/module")[2]["lamp"] is False
    jcamp = server.get("/api/download?spectrum=latest&format=jcamp")[2]
    year = time.gmtime().tm_year
    assert any(line.startswith(f"##LONGDATE={year}/") for line in jcamp.splitlines()), jcamp[:400]
    # A white reference from a file quillon wrote, in each of its formats.
    for fmt in ("jcamp", "csv", "json"):
        text = server.get(f"/api/download?spectrum=latest&format={fmt}")[2]
        text = text if isinstance(text, str) else json.dumps(text)
        status, _, reply = server.post("/api/reference/file", {"name": f"white.{fmt}", "text": text})
        assert (status, reply) == (200, {"loaded": "reference", "points": 228}), fmt
    assert server.get("/api/module")[2]["reference"] is True
    doc = server.post("/api/scan", {"quantity": "reflectance"})[2]
    assert doc["scans"][0]["reflectance"] == [1.0] * 228
    absorbance = server.get("/api/download?spectrum=latest&format=jcamp")[2]
    status, _, reply = server.post("/api/dark/file", {"name": "a.jdx", "text": absorbance})
    assert status == 400 and "not intensities" in reply["error"]
    # One JSON object and nothing after it; any size up to 64 KiB.
    assert server.post("/api/lamp", raw=b'{"on":true}\0garbage')[0] == 400
    assert server.post("/api/lamp", raw=b'{"on":true} {}')[0] == 400
    assert server.post("/api/series/stop", raw=b'{}' + b" " * 9000)[0] == 200
    # The log: the token hidden however it is sent, control characters escaped.
    assert server.get("/%3Ftoken=" + server.token)[0] == 404
    assert server.get("/x%0aPOST%20/api/lamp%20200")[0] == 404
    server.stop()
    lines = server.log().splitlines()
    assert server.token not in "\n".join(lines)
    assert "GET /?token=<token> 404" in lines and "GET /x\\x0aPOST /api/lamp 200 404" in lines
    assert not any(line.startswith("POST /api/lamp 200") for line in lines)


def test_every_attached_module_is_served_on_its_own():
    two = sim_env(QUILLONLIB_SIMULATOR_MODULES="2")
    server = Server(env=two)
    try:
        modules = server.get("/api/modules")[2]
        assert [(m["module"], m["serial"]) for m in modules] == [(0, "QSIM0001"), (1, "QSIM0002")]
        assert server.post("/api/lamp?module=1", {"on": True})[2] == {"lamp": True}
        assert server.get("/api/module?module=1")[2]["lamp"] is True
        assert server.get("/api/module")[2]["lamp"] is False
        assert server.post("/api/scan?module=1", {"lamp": "keep"})[0] == 200
        assert server.get("/api/spectra?module=1")[2]["latest"] is not None
        assert server.get("/api/spectra")[2]["latest"] is None
        assert server.get("/api/module?module=2")[0] == 404
    finally:
        assert server.stop() == 0
    server = Server("--device", "QSIM0002", env=two)
    try:
        assert [m["serial"] for m in server.get("/api/modules")[2]] == ["QSIM0002"]
    finally:
        server.stop()


def test_command_line_refusals():
    import subprocess
    from serve_process import CLI
    for args, text in ((["--port", "70000"], "--port"), (["--bind", "example.org"], "--bind")):
        out = subprocess.run([CLI, "serve", *args], capture_output=True, text=True,
                             env=sim_env(), timeout=30)
        assert out.returncode == 2 and text in out.stderr
    first = Server()
    try:
        out = subprocess.run([CLI, "serve", "--port", str(first.port)], capture_output=True,
                             text=True, env=sim_env(), timeout=30)
        assert out.returncode == 1 and "cannot listen" in out.stderr
    finally:
        first.stop()
