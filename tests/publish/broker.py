"""A real mosquitto on a free loopback port, with its persistence in a
scratch folder of its own, that tests can kill and start again."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


class Broker:
    """Started on construction. Its folder lives outside the checkout (which may
    be private to its owner); run as root, the broker keeps root rather than
    dropping to a user who could not write there."""

    def __init__(self, users=None):
        """`users`: name -> password; then no one else may connect."""
        self.dir = tempfile.mkdtemp(prefix="quillon-broker-")
        self.port = free_port()
        self.proc = None
        self.config = os.path.join(self.dir, "mosquitto.conf")
        lines = [f"listener {self.port} 127.0.0.1", f"allow_anonymous {'false' if users else 'true'}",
                 "persistence true", f"persistence_location {self.dir}/",
                 "persistence_file mosquitto.db", "autosave_interval 1",
                 f"log_dest file {self.dir}/mosquitto.log", "log_type error",
                 "log_type warning", "log_type notice",
                 # A collector that is away keeps everything meant for it.
                 "max_queued_messages 0", "max_queued_bytes 0"]
        if users:
            passwords = os.path.join(self.dir, "passwords")
            open(passwords, "w").close()
            for name, password in users.items():
                subprocess.run([shutil.which("mosquitto_passwd") or "/usr/bin/mosquitto_passwd",
                                "-b", passwords, name, password], check=True, timeout=10,
                               capture_output=True)
            lines.append(f"password_file {passwords}")
        if os.geteuid() == 0:
            lines.append("user root")
        with open(self.config, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        self.start()

    @property
    def url(self):
        return f"mqtt://127.0.0.1:{self.port}"

    def start(self, timeout=10):
        deadline = time.monotonic() + timeout
        self.proc = subprocess.Popen([MOSQUITTO, "-c", self.config],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while not _accepts(self.port):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise AssertionError(f"mosquitto did not listen on {self.port}: {self.log()}")
            time.sleep(0.02)

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """Ends the broker (SIGTERM saves its persistence file first)."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=timeout)
        self.proc = None

    def wait_saved(self, timeout=5):
        """Waits until the broker wrote its persistence file after this call,
        so that sessions made before it survive a SIGKILL."""
        path = os.path.join(self.dir, "mosquitto.db")
        since = time.time()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path) and os.path.getmtime(path) > since:
                return
            time.sleep(0.05)
        raise AssertionError("the broker did not save its state")

    def log(self):
        try:
            with open(os.path.join(self.dir, "mosquitto.log"), encoding="utf-8",
                      errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def close(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
