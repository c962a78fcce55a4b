import atexit
import os
import shutil
import sys
import tempfile

# The simulated module, with scans that take no time; set before the library loads.
os.environ.setdefault("QUILLONLIB_SIMULATOR", "1")
os.environ.setdefault("QUILLONLIB_SIMULATOR_TIME_SCALE", "0")
os.environ.pop("QUILLONLIB_SIMULATOR_STATE", None)
# Save journals of this run's simulated modules stay with this run.
os.environ["XDG_STATE_HOME"] = tempfile.mkdtemp(prefix="quillon-state-")
atexit.register(shutil.rmtree, os.environ["XDG_STATE_HOME"], True)
sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir))

import pytest  # noqa: E402

import quillon  # noqa: E402


@pytest.fixture
def sp():
    with quillon.Spectrometer() as opened:
        yield opened
