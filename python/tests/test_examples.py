import os
import re
import subprocess
import sys

import numpy as np
import pytest

import quillon

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, os.pardir, os.pardir)


def run(args, tmp_path, **env):
    return subprocess.run([sys.executable, *args], cwd=tmp_path, capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=os.path.join(HERE, os.pardir), **env))


def test_the_readme_dark_white_sample_example_shows_the_band(tmp_path):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    after = text.index("Dark, white reference and sample in Python")
    code = re.search(r"```python\n(.*?)```", text[after:], re.S).group(1)
    done = run(["-c", code], tmp_path, QUILLONLIB_SIMULATOR_SAMPLE_FILE=str(tmp_path / "s.txt"))
    assert done.returncode == 0, done.stderr
    printed = re.fullmatch(r"peak absorbance (\S+) at (\S+) nm\n", done.stdout)
    assert printed, done.stdout
    expected = -np.log10(0.5)
    assert float(printed.group(1)) == pytest.approx(expected, rel=0.1)
    assert abs(float(printed.group(2)) - 1450) < 5
    measured, even = (quillon.read_spectrum(tmp_path / n) for n in ("sample.jdx", "even.jdx"))
    assert measured.title == even.title == "Wheat lot 7" and even.grid == (950, 2, 1650)
    assert np.nanmax(even.intensities) == pytest.approx(expected, rel=0.1)
    # The stated figure is what the example prints.
    assert f"It prints `{done.stdout.strip()}`" in text


def test_calibration_example_predicts_the_held_out_samples(tmp_path):
    pytest.importorskip("sklearn", reason="python3-sklearn is not installed")
    done = run([os.path.join(ROOT, "examples", "calibration.py"), "calibration.png"], tmp_path)
    assert done.returncode == 0, done.stderr
    r2 = float(re.search(r"^R2 (\S+)$", done.stdout, re.M).group(1))
    rmsep = float(re.search(r"^RMSEP (\S+)$", done.stdout, re.M).group(1))
    assert r2 > 0.95 and 0 < rmsep < 0.03, done.stdout
    assert len(re.findall(r"^  true ", done.stdout, re.M)) == 8
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return
    assert (tmp_path / "calibration.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
