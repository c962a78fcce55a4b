import datetime
import os
import subprocess
import sys

import numpy as np
import pytest

import quillon
from quillon import Spectrum

NM = np.array([900.93325, 905.41053, 1300.5, 1699.123456789])
STARTED = datetime.datetime(2026, 12, 7, 9, 5, 3, tzinfo=datetime.timezone.utc)


def counts(values, nm=NM):
    return Spectrum(nm, np.array(values, dtype=np.int32), position=2, started=STARTED,
                    configuration="Two bands", versions=(1, 2, 3, 4, 5, 6, 0x1A))


def test_reflectance_and_absorbance():
    sample, white, dark = counts([60, 10, 5, 90]), counts([110, 10, 50, 100]), counts([10, 10, 5, 0])
    r = sample.reflectance(white, dark)
    assert r.quantity == "reflectance" and r.intensities.dtype == np.float64
    np.testing.assert_array_equal(r.intensities, [0.5, np.nan, np.nan, 0.9])
    a = sample.absorbance(white, dark)
    np.testing.assert_allclose(a.intensities, [np.log10(2), np.nan, np.nan, -np.log10(0.9)])
    np.testing.assert_array_equal(white.absorbance(white).intensities, [0, 0, 0, 0])
    assert np.signbit(white.absorbance(white).intensities).sum() == 0
    assert (a.position, a.started, a.configuration) == (2, STARTED, "Two bands")
    with pytest.raises(ValueError, match="the reference has 3 points, the spectrum 4"):
        sample.reflectance(counts([1, 2, 3], NM[:3]))
    with pytest.raises(ValueError, match="point 3 is at 1300.600000 nm in the dark spectrum"):
        sample.absorbance(white, counts([0, 0, 0, 0], NM + [0, 0, 0.1, 0]))
    with pytest.raises(ValueError, match="holds reflectance"):
        r.absorbance(white)


@pytest.mark.parametrize("write", ["to_csv", "to_json", "to_jcamp"])
@pytest.mark.parametrize("quantity", ["intensity", "absorbance"])
def test_files_read_back(tmp_path, write, quantity):
    spectrum = counts([60, -3, 5, 90])
    if quantity == "absorbance":
        spectrum = spectrum.absorbance(counts([110, 10, 50, 100]), counts([10, 10, 5, 0]))
    path = tmp_path / "spectrum"
    getattr(spectrum, write)(path)
    back = quillon.read_spectrum(path)
    assert back.quantity == quantity and len(back) == 4
    # Text formats carry the program's digits: six decimals for wavelengths and ratios.
    exact = write == "to_json"
    np.testing.assert_allclose(back.wavelengths, spectrum.wavelengths, rtol=0,
                               atol=0 if exact else 5e-7)
    np.testing.assert_allclose(back.intensities, spectrum.intensities, rtol=0,
                               atol=0 if exact else 5e-7)
    assert back.intensities.dtype.kind == spectrum.intensities.dtype.kind
    if write != "to_csv":
        assert (back.configuration, back.started, back.versions) == \
            ("Two bands", STARTED, (1, 2, 3, 4, 5, 6, 0x1A))


def test_jcamp_records(tmp_path):
    counts([60, 10, 5, 90]).absorbance(counts([110, 10, 0, 100])).to_jcamp(tmp_path / "a.jdx", owner="")
    lines = (tmp_path / "a.jdx").read_text().splitlines()
    assert lines[:16] == [
        "##TITLE=Two bands", "##JCAMP-DX=4.24", "##DATA TYPE=NEAR INFRARED SPECTRUM",
        "##ORIGIN=quillonlib", "##OWNER=", "##LONGDATE=2026/12/07 09:05:03",
        "##SPECTROMETER/DATA SYSTEM=NIR module 1 2 3 4 5 6 1A",
        "##XUNITS=NANOMETERS", "##YUNITS=ABSORBANCE", "##XFACTOR=1", "##YFACTOR=1",
        "##FIRSTX=900.933250", "##LASTX=1699.123457", "##NPOINTS=4",
        "##FIRSTY=0.263241", "##XYPOINTS=(XY..XY)"]
    assert lines[16:] == ["900.933250, 0.263241", "905.410530, 0.000000", "1300.500000, ?",
                          "1699.123457, 0.045757", "##END="]
    counts([60, 10, 5, 90]).to_csv(tmp_path / "a.csv")
    assert (tmp_path / "a.csv").read_text().splitlines()[1:3] == ["900.933250,60", "905.410530,10"]


def test_an_even_grid_in_every_file(tmp_path):
    nm = np.array([900.3, 903.1, 907.9, 1000.2])
    measured = Spectrum(nm, 2 * nm + 1, sample="Wheat lot 7", comment="dried 24 h")
    even = measured.resample(901, 0.5, 1000)
    assert len(even) == 199 and even.grid == (901, 0.5, 1000)
    np.testing.assert_allclose(even.intensities, 2 * even.wavelengths + 1)  # linear stays linear
    with pytest.raises(ValueError, match="reaches outside the measured range"):
        measured.resample(900, 1, 1000)
    with pytest.raises(ValueError, match="not a whole number of steps"):
        measured.resample(901, 0.7, 1000)
    even.to_jcamp(tmp_path / "e.jdx", owner="")
    text = (tmp_path / "e.jdx").read_text()
    assert "##TITLE=Wheat lot 7\n" in text and "##SAMPLE DESCRIPTION=dried 24 h\n" in text
    assert "##DELTAX=0.500000\n##XYDATA=(X++(Y..Y))\n901.000000 1803.00 1804.00 " in text
    data = text[text.index("(X++(Y..Y))\n") + 12:text.index("##END=")].splitlines()
    assert all(len(line) <= 80 for line in data) and len(data) < 30
    for write in ("to_jcamp", "to_json", "to_csv"):
        getattr(even, write)(tmp_path / write)
        back = quillon.read_spectrum(tmp_path / write)
        np.testing.assert_allclose(back.wavelengths, even.wavelengths, atol=5e-7)
        np.testing.assert_allclose(back.intensities, even.intensities, atol=5e-3)
        if write != "to_csv":
            assert back.grid == pytest.approx(even.grid) and back.comment == even.comment
    assert quillon.read_spectrum(tmp_path / "to_json").sample == "Wheat lot 7"


def test_jcamp_by_the_format_rules(tmp_path):
    # Written by hand: a wrapped title, comments, factors, pairs sharing a line, a compound file.
    (tmp_path / "b.jdx").write_text(
        "##TITLE=Link block\n##BLOCKS=2\n"
        "##TITLE=A long name\nthat goes on\n##XUNITS=NANOMETERS\n##YUNITS=REFLECTANCE\n"
        "##YFACTOR=0.5\n##NPOINTS=3\n##XYPOINTS=(XY..XY)  $$ pairs\n"
        "900.5, 1.5 $$ first\n901, ?; 902.25,0.25\n##END=\n"
        "##TITLE=position 4\n##XUNITS=NANOMETERS\n##YUNITS=ARBITRARY UNITS\n"
        "##SPECTROMETER/DATA SYSTEM=NIR module 1 2 3 4 5 6 1A\n"
        "##XYPOINTS=(XY..XY)\n900.5, 7\n##END=\n##END=\n")
    first = quillon.read_spectrum(tmp_path / "b.jdx", scan=1)
    assert (first.configuration, first.quantity) == ("A long name that goes on", "reflectance")
    np.testing.assert_array_equal(first.wavelengths, [900.5, 901, 902.25])
    np.testing.assert_array_equal(first.intensities, [0.75, np.nan, 0.125])
    second = quillon.read_spectrum(tmp_path / "b.jdx", scan=2)
    assert (second.position, second.configuration, second.versions) == (4, None, (1, 2, 3, 4, 5, 6, 26))
    assert second.intensities.tolist() == [7]
    with pytest.raises(ValueError, match="holds 2 spectrum blocks"):
        quillon.read_spectrum(tmp_path / "b.jdx")


JCAMP_HEAD = "##TITLE=x\n##XUNITS=NANOMETERS\n##YUNITS=ABSORBANCE\n"


@pytest.mark.parametrize("text, reason", [
    ("nm,counts\n900,1\n", "not a spectrum header"),
    ("wavelength_nm,intensity\n900,1,2\n", "line 2 has 3 fields"),
    ("scan,wavelength_nm,intensity\n1,900,1\n2,900,2\n", "holds 2 scans; say which"),
    ("wavelength_nm,intensity\n900,0x10\n", "'0x10' is not a decimal number"),
    ("wavelength_nm,intensity\ninf,1\n", "'inf' is not a decimal number"),
    ("wavelength_nm,intensity\n900,1\nnan,2\n", "point 2 has the wavelength nan"),
    ("wavelength_nm,intensity\n-900,1\n", "point 1 has the wavelength -900"),
    ("wavelength_nm,intensity\n900,1\n899,2\n", r"point 2 \(899.000000 nm\) falls below"),
    ("wavelength_nm,intensity\n900,1\n900,2\n", "point 2 .* repeats"),
    ('{"scans": []', "not a spectrum written by quillon"),
    ('{"x": ' * 5000 + "1" + "}" * 5000, "nested too deeply"),
    ('{"quantity": "absorbance", "scans": [{"wavelength_nm": [900]}]}', "no 'absorbance' field"),
    (JCAMP_HEAD + "##NPOINTS=2\n##XYPOINTS=(XY..XY)\n900, 1\n##END=\n", "NPOINTS=2 but 1 points"),
    (JCAMP_HEAD + "##XFACTOR=0\n##XYPOINTS=(XY..XY)\n900, 1\n##END=\n", "XFACTOR=0 is not a usable"),
    (JCAMP_HEAD + "##FIRSTX=900\n##LASTX=902\n##NPOINTS=3\n##XYDATA=(X++(Y..Y))\n"
     "900 1 2\n905 3\n##END=\n", r"line 9 \('905 3'\) starts at X 905, not at point 3"),
    (JCAMP_HEAD + "##XYDATA=(X++(XY..XY))\n##END=\n", "is not read"),
    ("##TITLE=x\n##XUNITS=NANOMETERS\n##YUNITS=TRANSMITTANCE\n##XYPOINTS=(XY..XY)\n##END=\n",
     "unknown ##YUNITS=TRANSMITTANCE"),
])
def test_unreadable_files_are_refused_naming_the_file(tmp_path, text, reason):
    path = tmp_path / "bad.txt"
    path.write_text(text)
    with pytest.raises(ValueError, match=f"bad.txt: .*{reason}"):
        quillon.read_spectrum(path)


def test_only_small_regular_files_are_read(tmp_path):
    os.mkfifo(tmp_path / "fifo")
    with open(tmp_path / "big.csv", "wb") as big:
        big.truncate(4 * 1024 * 1024 + 1)
    for path, reason in [(tmp_path / "fifo", "not a regular file"), ("/dev/zero", "not a regular"),
                         (tmp_path / "big.csv", "4194305 bytes"),
                         (tmp_path / "none.csv", "No such file")]:
        with pytest.raises(ValueError, match=f"^{path}: {reason}"):
            quillon.read_spectrum(path)


@pytest.mark.skipif(not os.environ.get("QUILLON_CLI"), reason="QUILLON_CLI names no quillon program")
def test_files_the_quillon_program_reads_and_writes(tmp_path, sp):
    sp.set_lamp(True)
    mine = sp.scan()
    sp.set_lamp(False)
    sp.close()
    mine.to_json(tmp_path / "mine.json")

    def scan(*args, stdout=None):  # with a sample of an absorption band at 1300 nm
        subprocess.run([os.environ["QUILLON_CLI"], "scan", *map(str, args)], check=True,
                       stdout=stdout, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, QUILLONLIB_SIMULATOR_SAMPLE="1300,15,0.6"))

    scan("--csv", tmp_path / "sample.csv")
    with open(tmp_path / "a.json", "w") as out:  # the CLI reads the package's reference
        scan("--reference", tmp_path / "mine.json", "--csv", tmp_path / "a.csv",
             "--jcamp", tmp_path / "a.jdx", "--json", stdout=out)
    sample = quillon.read_spectrum(tmp_path / "sample.csv")
    assert sample.quantity == "intensity" and sample.intensities.dtype.kind == "i"
    np.testing.assert_allclose(sample.wavelengths, mine.wavelengths, atol=5e-7)
    expected = sample.absorbance(mine).intensities
    assert abs(sample.wavelengths[np.nanargmax(expected)] - 1300) < 5 and np.nanmax(expected) > 0.1
    for name in ("a.csv", "a.jdx", "a.json"):
        theirs = quillon.read_spectrum(tmp_path / name)
        assert theirs.quantity == "absorbance" and len(theirs) == len(mine)
        # The JCAMP-DX title names the configuration; only JSON keeps the position too.
        assert theirs.position == (0 if name == "a.json" else None)
        assert theirs.configuration == (None if name == "a.csv" else "Column 900-1700")
        np.testing.assert_allclose(theirs.intensities, expected, atol=1e-6)
    # The program's even grid and sample name, read back; the package's grid agrees with it.
    scan("--reference", tmp_path / "mine.json", "--grid", "950:2.5:1650", "--sample", "Wheat",
         "--csv", tmp_path / "g.csv", "--jcamp", tmp_path / "g.jdx")
    even, rows = quillon.read_spectrum(tmp_path / "g.jdx"), quillon.read_spectrum(tmp_path / "g.csv")
    assert even.grid == pytest.approx((950, 2.5, 1650)) and even.title == "Wheat" and len(even) == 281
    np.testing.assert_allclose(even.wavelengths, rows.wavelengths, atol=1e-6)
    np.testing.assert_array_equal(even.intensities, rows.intensities)
    mine_even = sample.absorbance(mine).resample(950, 2.5, 1650)
    np.testing.assert_allclose(even.intensities, mine_even.intensities, atol=2e-3)


def test_missing_library_is_an_import_error_naming_the_paths():
    env = dict(os.environ, QUILLONLIB_LIBRARY="/nowhere/libquillonlib.so.1")
    run = subprocess.run([sys.executable, "-c", "import quillon"], env=env, capture_output=True,
                         text=True, cwd=os.path.join(os.path.dirname(__file__), os.pardir))
    assert "ImportError: quillon cannot load the quillonlib library; tried: " \
           "/nowhere/libquillonlib.so.1 (no such file)" in run.stderr
