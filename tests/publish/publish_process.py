"""`quillon publish` processes on simulated modules, and the example collector
that gathers what they publish."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "examples"))
from fleet_collect import Collector  # noqa: E402

CLI = os.environ.get("QUILLON_CLI", "quillon")


def sim_env(**extra):
    env = dict(os.environ, QUILLONLIB_SIMULATOR="1", QUILLONLIB_SIMULATOR_TIME_SCALE="0")
    env.update(extra)
    return env


class Publisher:
    """One process; `serials` are the modules it said it publishes."""

    def __init__(self, broker, *args, modules=1, serials=None, serving=None, time_scale="0"):
        self.err = tempfile.NamedTemporaryFile(prefix="publish-", suffix=".log", delete=False)
        extra = {"QUILLONLIB_SIMULATOR_MODULES": str(modules),
                 "QUILLONLIB_SIMULATOR_TIME_SCALE": time_scale}
        if serials:
            extra["QUILLONLIB_SIMULATOR_SERIALS"] = ",".join(serials)
        self.proc = subprocess.Popen([CLI, "publish", "--broker", broker.url, *args],
                                     stdout=subprocess.PIPE, stderr=self.err, text=True,
                                     env=sim_env(**extra))
        self.serials = []
        for _ in range(modules if serving is None else serving):
            line = self.proc.stdout.readline()
            match = re.fullmatch(r"Publishing module (\S+) as \S+/\n", line)
            if not match:
                log = self.log()
                self.stop()
                raise AssertionError(f"unexpected line {line!r}: {log}")
            self.serials.append(match[1])

    def log(self):
        with open(self.err.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self, sig=None):
        """Exit status after `sig` (SIGTERM by default)."""
        if self.proc.poll() is None:
            if sig is None:
                self.proc.terminate()
            else:
                self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=30)
        finally:
            self.proc.stdout.close()
            self.err.close()
            os.unlink(self.err.name)


def collector_for(broker, db_path, **kw):
    return Collector("127.0.0.1", broker.port, db_path=db_path, **kw)

