import os
import subprocess
import sys
import threading

import numpy as np
import pytest

import quillon
from quillon import Section

FACTORY = {
    "Column + Hadamard": [Section("Column", 900, 1300, 7.03, 100, 1.27),
                          Section("Hadamard", 1300, 1700, 7.03, 100, 1.27)],
    "Column 900-1700": [Section("Column", 900, 1700, 7.03, 228, 0.635)],
    "Hadamard 900-1700": [Section("Hadamard", 900, 1700, 7.03, 228, 0.635)],
}
TWO = [Section("column", 900, 1300, 7.03, 80, 1.27), Section("Hadamard", 1300, 1700, 9.37, 60, 1.27)]


def stored(sp):
    return {c.name: list(c.sections) for c in sp.configurations}


def test_listing_opening_and_what_the_module_says(sp):
    (entry,) = quillon.list_modules()
    assert entry.serial == "QSIM0001" and entry.path == sp.path and entry.path.startswith("sim:")
    assert repr(sp) == "<quillon.Spectrometer QSIM0001, open>"
    assert len(sp.versions) == 7 and all(isinstance(v, int) for v in sp.versions)
    assert sp.estimated_scan_time_ms > 0 and sp.active_position == 0
    assert [(c.position, c.name) for c in sp.configurations] == [
        (0, "Column 900-1700"), (1, "Hadamard 900-1700"), (2, "Column + Hadamard")]
    assert stored(sp) == FACTORY
    assert [c.points for c in sp.configurations] == [228, 228, 200]
    six_px = quillon.pattern_widths()[4]
    assert sp.max_patterns(900, 1700, six_px, "Hadamard") == \
        sp.max_patterns(900, 1700, width_px=6, scan_type=1) >= 228
    assert sp.max_patterns(900, 1700, six_px, 0) > sp.max_patterns(900, 1700, quillon.pattern_widths()[8], 0)
    with pytest.raises(ValueError, match="width 6 nm is not a pattern width"):
        sp.max_patterns(900, 1700, 6, 0)


def test_missing_busy_closing_and_reopening():
    with pytest.raises(quillon.NoModuleError, match="no module at index 3") as missing:
        quillon.Spectrometer(3)
    assert (missing.value.code, missing.value.text) == (1, "no such module is attached")
    with quillon.Spectrometer() as sp:
        with pytest.raises(quillon.ModuleBusyError) as busy:
            quillon.Spectrometer(sp.path)
        assert busy.value.code == 2 and not sp.closed
    assert sp.closed and "closed" in repr(sp)
    with pytest.raises(ValueError, match="closed"):
        sp.scan()
    dropped = quillon.Spectrometer()
    del dropped  # closes the module
    with quillon.Spectrometer() as again:
        assert len(again.scan()) == 228


def test_add_activate_scan_and_remove(sp):
    sp.add_configuration("Two bands", TWO, repeats=2)
    try:
        assert stored(sp)["Two bands"] == [Section("Column", 900, 1300, 7.03, 80, 1.27),
                                           Section("Hadamard", 1300, 1700, 9.37, 60, 1.27)]
        sp.activate("Two bands")  # stored after the factory's three
        assert sp.active_position == 3
        spectrum = sp.scan()
        assert len(spectrum) == 140 and spectrum.intensities.dtype.kind == "i"
        assert (spectrum.position, spectrum.configuration) == (3, "Two bands")
        nm = spectrum.wavelengths
        assert 895 < nm[:80].min() and nm[:80].max() < 1305 and 1295 < nm[80:].min()
        assert spectrum.started.tzinfo is not None
        with pytest.raises(ValueError, match="position 7 holds no configuration"):
            sp.activate(7)
        assert sp.active_position == 3
        sp.activate("Hadamard 900-1700")
        assert sp.active_position == 1 and sp.scan().configuration == "Hadamard 900-1700"
        sp.activate(3)
    finally:
        sp.remove_configuration("Two bands")
    assert "Two bands" not in stored(sp) and sp.active_position == 0
    with pytest.raises(ValueError, match="no stored configuration"):
        sp.remove_configuration("Two bands")


@pytest.mark.parametrize("name, sections, reason", [
    ("Bad type", [Section("Raster", 900, 1700, 7.03, 100, 0.635)], "unknown scan type"),
    ("Low", [Section("Column", 899, 1000, 7.03, 100, 0.635)], "899 is outside 900 to 1700"),
    ("Reversed", [Section("Column", 1500, 1400, 7.03, 10, 0.635)], "above the end"),
    ("Width", [Section("Column", 900, 1700, 2.345, 100, 0.635)], "not a pattern width"),
    ("Exposure", [Section("Column", 900, 1700, 7.03, 100, 0.64)], "not an exposure time"),
    ("Too many", [Section("Column", 900, 1700, 7.03, 300, 0.635)] * 6, "6 sections"),
    ("Total", [Section("Column", 900, 1300, 7.03, 300, 0.635),
               Section("Column", 1300, 1700, 7.03, 325, 0.635)], "625 patterns together"),
    ("Narrow", [Section("Column", 1200, 1210, 7.03, 100, 0.635)], "holds at most"),
    ("Column 900-1700", [Section("Column", 900, 1700, 7.03, 100, 0.635)], "stored already"),
    ("x" * 40, [Section("Column", 900, 1700, 7.03, 100, 0.635)], "40 bytes"),
])
def test_refused_configurations_store_nothing(sp, name, sections, reason):
    with pytest.raises(ValueError, match=reason):
        sp.add_configuration(name, sections)
    assert stored(sp) == FACTORY


def test_configuration_the_library_refuses_leaves_nothing(sp):
    # Hadamard sections count every pattern of their plan, which only the library knows.
    plan = [Section("Hadamard", 900, 1300, 2.34, 300, 0.635),
            Section("Hadamard", 1300, 1700, 2.34, 300, 0.635)]
    with pytest.raises(quillon.QuillonError) as refused:
        sp.add_configuration("Big plan", plan)
    assert refused.value.code == 7 and "patterns" in refused.value.text
    assert stored(sp) == FACTORY and not sp.closed
    assert len(sp.scan()) == 228


def test_four_threads_scan_through_one_spectrometer(sp):
    reference = sp.scan()
    results, failures = [], []

    def worker():
        try:
            for _ in range(250):
                results.append(sp.scan())
        except Exception as error:  # reported below
            failures.append(error)

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == [] and len(results) == 1000
    for spectrum in results:
        assert np.array_equal(spectrum.wavelengths, reference.wavelengths)
        assert len(spectrum.intensities) == 228


def test_lamp_and_averages(sp):
    sp.set_lamp(False)
    dark = sp.scan()
    sp.set_lamp(True)
    try:
        lit = sp.scan(average=4)
    finally:
        sp.set_lamp(False)
    assert lit.intensities.dtype == np.float64 and dark.intensities.dtype.kind == "i"
    assert np.median(lit.intensities) > 20 * max(np.median(dark.intensities), 1)


def test_warmup_a_sample_file_read_before_every_scan_and_names(sp, tmp_path, monkeypatch):
    sample_file = tmp_path / "sample.txt"
    monkeypatch.setenv("QUILLONLIB_SIMULATOR_SAMPLE_FILE", str(sample_file))
    monkeypatch.setenv("QUILLONLIB_HADAMARD_TABLE", str(tmp_path / "table.txt"))
    sp.set_lamp(False)
    with pytest.warns(RuntimeWarning, match="table.txt refused: no such file or directory"):
        white = sp.scan(warmup=0.05)  # the warm-up switched the lamp on
    sample_file.write_text("1300,15,0.5\n")
    try:
        sample = sp.scan(sample="Wheat lot 7", comment="dried 24 h")
    finally:
        sp.set_lamp(False)
    assert (sample.sample, sample.comment, sample.title) == ("Wheat lot 7", "dried 24 h",
                                                             "Wheat lot 7")
    absorbance = sample.absorbance(white).intensities
    peak = np.nanargmax(absorbance)
    assert abs(sample.wavelengths[peak] - 1300) < 5
    assert absorbance[peak] == pytest.approx(-np.log10(0.5), rel=0.1)
    with pytest.raises(ValueError, match="warmup -1 s"):
        sp.scan(warmup=-1)


def test_other_processes_find_the_module_busy_or_denied(tmp_path):
    # Processes share a simulated module through its state file.
    env = dict(os.environ, QUILLONLIB_SIMULATOR_STATE=str(tmp_path / "module.state"))

    def python(code, **extra):
        return subprocess.Popen([sys.executable, "-c", "import quillon, sys\n" + code],
                                cwd=os.path.join(os.path.dirname(__file__), os.pardir),
                                env=dict(env, **extra), stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    opening = "try:\n    quillon.Spectrometer()\nexcept quillon.QuillonError as e:\n" \
              "    print(type(e).__name__, e.code, e.text)"
    with python("sp = quillon.Spectrometer()\nprint('open', flush=True)\nsys.stdin.read()") as holder:
        assert holder.stdout.readline() == "open\n"
        assert python(opening).communicate()[0] == \
            "ModuleBusyError 2 the module is in use by another handle or process\n"
        holder.stdin.close()
    assert python(opening).communicate()[0] == ""
    assert python(opening, QUILLONLIB_SIMULATOR_DENY_OPEN="1").communicate()[0] == \
        "AccessDeniedError 3 Access denied (insufficient permissions)\n"


def run_python(code, **env):
    """Runs ``code`` in a fresh interpreter (the simulated bus is made when the
    library first looks for modules); its standard output."""
    done = subprocess.run([sys.executable, "-c", "import quillon, sys, time\n" + code],
                          cwd=os.path.join(os.path.dirname(__file__), os.pardir),
                          env=dict(os.environ, **env), capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_two_modules_open_and_scan_at_once_by_path_and_serial():
    out = run_python("""
import threading
modules = quillon.list_modules()
print([m.serial for m in modules], len({m.path for m in modules}))
a, b = quillon.Spectrometer(modules[0].path), quillon.Spectrometer(serial="B2")
b.activate("Column + Hadamard")
spectra = {}
threads = [threading.Thread(target=lambda s=s: spectra.update({s.serial: len(s.scan())}))
           for s in (a, b)]
start = time.monotonic()
for t in threads: t.start()
for t in threads: t.join()
print(sorted(spectra.items()), a.active_position, round(time.monotonic() - start, 1) < 4)
""", QUILLONLIB_SIMULATOR_MODULES="2", QUILLONLIB_SIMULATOR_SERIALS="A1,B2",
                     QUILLONLIB_SIMULATOR_TIME_SCALE="1")
    assert out == "['A1', 'B2'] 2\n[('A1', 228), ('B2', 200)] 0 True\n"


def test_ctrl_c_and_cancel_stop_a_scan_and_the_module_stays_usable():
    out = run_python("""
import os, signal, threading
sp = quillon.Spectrometer()
sent = []
def interrupt():
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
threading.Timer(0.5, interrupt).start()
try:
    sp.scan()
except KeyboardInterrupt:
    print("interrupted", time.monotonic() - sent[0] < 0.2)
threading.Timer(0.5, sp.cancel).start()
try:
    sp.scan()
except quillon.ScanCancelledError as e:
    print("cancelled", e.code)
print(len(sp.scan()))
""", QUILLONLIB_SIMULATOR_TIME_SCALE="0.5")
    assert out == "interrupted True\ncancelled 9\n228\n"


def test_a_save_cut_short_is_finished_at_the_next_opening_with_a_warning(tmp_path):
    env = dict(os.environ, QUILLONLIB_SIMULATOR_STATE=str(tmp_path / "module.state"))
    add = ("import quillon\nsp = quillon.Spectrometer()\n"
           "try:\n    sp.add_configuration('Cut', [quillon.Section('Column', 1000, 1100, 7.03, 10, "
           "0.635)])\nexcept quillon.QuillonError as e:\n    print('failed')\n")
    cwd = os.path.join(os.path.dirname(__file__), os.pardir)
    # The module leaves the bus after the first of its four writes.
    cut = subprocess.run([sys.executable, "-c", add], cwd=cwd, capture_output=True, text=True,
                         env=dict(env, QUILLONLIB_SIMULATOR_UNPLUG_AFTER_WRITES="1"))
    assert cut.stdout == "failed\n", cut.stderr
    opened = subprocess.run(
        [sys.executable, "-W", "always", "-c",
         "import quillon\nsp = quillon.Spectrometer()\n"
         "print(sorted(c.name for c in sp.configurations))"],
        cwd=cwd, capture_output=True, text=True, env=env)
    assert "Restored 3 configurations that an interrupted save had not finished writing" \
        in opened.stderr
    assert opened.stdout == str(sorted(list(FACTORY) + ["Cut"])) + "\n"


def test_backups_round_trip_byte_for_byte_and_faulty_files_store_nothing(tmp_path):
    state = tmp_path / "module.state"
    code = f"""
import json, os, quillon
sp = quillon.Spectrometer()
sp.add_configuration("Two bands", [quillon.Section("Column", 900, 1300, 7.03, 80, 1.27),
                                   quillon.Section("Hadamard", 1300, 1700, 9.37, 60, 1.27)], 3)
sp.activate(3)
before = open({str(state)!r}, "rb").read()
sp.export_configurations("backup.json")
saved = json.load(open("backup.json"))
print(saved["active_position"], [(c["name"], c["repeats"]) for c in saved["configurations"]][3])
for p in reversed(range(len(sp.configurations))):
    sp.remove_configuration(p)
print(len(sp.configurations))
sp.import_configurations("backup.json", replace=True)
print(open({str(state)!r}, "rb").read() == before)
saved["configurations"][1]["sections"][0]["patterns"] = 5
json.dump(saved, open("bad.json", "w"))
for bad in ("bad.json", "/dev/zero", "missing.json"):
    try:
        sp.import_configurations(bad)
    except ValueError as e:
        print(bad in str(e))
print(open({str(state)!r}, "rb").read() == before)
"""
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                          text=True, timeout=120,
                          env=dict(os.environ, QUILLONLIB_SIMULATOR_STATE=str(state),
                                   PYTHONPATH=os.path.join(os.path.dirname(__file__), os.pardir)))
    assert done.stdout == "3 ('Two bands', 3)\n0\nTrue\nTrue\nTrue\nTrue\nTrue\n", done.stderr
