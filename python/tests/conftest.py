import os
import sys

# The simulated module, with scans that take no time; set before the library loads.
os.environ.setdefault("QUILLONLIB_SIMULATOR", "1")
os.environ.setdefault("QUILLONLIB_SIMULATOR_TIME_SCALE", "0")
os.environ.pop("QUILLONLIB_SIMULATOR_STATE", None)
sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir))

import pytest  # noqa: E402

import quillon  # noqa: E402


@pytest.fixture
def sp():
    with quillon.Spectrometer() as opened:
        yield opened
