"""Starts `quillon serve` against the simulated module and talks to it."""
import http.client
import json
import os
import re
import signal
import subprocess
import tempfile

CLI = os.environ.get("QUILLON_CLI", "quillon")


def sim_env(**extra):
    env = dict(os.environ, QUILLONLIB_SIMULATOR="1", QUILLONLIB_SIMULATOR_TIME_SCALE="0")
    env.update(extra)
    return env


class Server:
    """One `quillon serve --port 0` process; its standard error goes to a file."""

    def __init__(self, *args, env=None):
        self.err = tempfile.NamedTemporaryFile(prefix="serve-", suffix=".log", delete=False)
        self.proc = subprocess.Popen([CLI, "serve", "--port", "0", *args],
                                     stdout=subprocess.PIPE, stderr=self.err,
                                     env=env or sim_env(), text=True)
        line = self.proc.stdout.readline()
        match = re.fullmatch(r"Open http://([0-9.]+):(\d+)/\?token=([0-9a-f]{32})\n", line)
        if not match:
            self.stop()
            raise AssertionError(f"unexpected first line {line!r}: {self.log()}")
        self.host, self.port, self.token = match[1], int(match[2]), match[3]
        self.origin = f"http://{self.host}:{self.port}"

    def connection(self, timeout=30):
        return http.client.HTTPConnection(self.host, self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None, token=True, raw=None):
        """(status, headers, parsed JSON or text) of one request on a new connection."""
        sent = {} if headers is None else dict(headers)
        if token:
            sent.setdefault("Authorization", f"Bearer {self.token}")
        if body is not None:
            raw = json.dumps(body).encode()
        if method == "POST" and raw is None:
            raw = b"{}"
        conn = self.connection()
        try:
            conn.request(method, path, body=raw, headers=sent)
            resp = conn.getresponse()
            data = resp.read()
            kind = resp.getheader("Content-Type", "")
            parsed = json.loads(data) if kind.startswith("application/json") else data.decode()
            return resp.status, resp, parsed
        finally:
            conn.close()

    def get(self, path, **kw):
        return self.request("GET", path, **kw)

    def post(self, path, body=None, **kw):
        if body is None and kw.get("raw") is None:
            body = {}
        return self.request("POST", path, body=body, **kw)

    def log(self):
        with open(self.err.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM):
        """Exit status after `sig`."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=30)
        finally:
            self.proc.stdout.close()
            self.err.close()


def cli_json(*args, env=None):
    out = subprocess.run([CLI, *args], capture_output=True, text=True, env=env or sim_env(),
                         timeout=60, check=True)
    return json.loads(out.stdout)


def read_events(resp, wanted, limit):
    """(name, data) pairs from an event stream until `wanted` of them are
    spectrum events or `limit` events were read."""
    events, name, spectra = [], None, 0
    while spectra < wanted and len(events) < limit:
        line = resp.readline()
        if not line:
            break
        line = line.decode().rstrip("\n")
        if line.startswith("event: "):
            name = line[7:]
        elif line.startswith("data: "):
            events.append((name, json.loads(line[6:])))
            spectra += name == "spectrum"
    return events


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def lamp_commands(trace_path):
    """The lamp switches on the wire, oldest first, from the simulator's
    trace of output reports (command 05 01, data 0101 on, 0000 off)."""
    with open(trace_path) as f:
        return ["on" if line[14:18] == "0101" else "off"
                for line in f if len(line) >= 18 and line[10:14] == "0501"]
