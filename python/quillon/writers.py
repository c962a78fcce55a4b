"""Writing spectra as CSV, JSON and JCAMP-DX, with the digits the quillon
program writes, so a file from either reads back the same everywhere."""

import datetime
import json
import math
import os
import pwd

import numpy as np

JCAMP_YUNITS = {"intensity": "ARBITRARY UNITS", "reflectance": "REFLECTANCE",
                "absorbance": "ABSORBANCE"}
LONGDATE = "%Y/%m/%d %H:%M:%S"
# The format's line length; a gridded line holds as many values as fit.
_JCAMP_COLUMNS = 80


def wavelength_text(nm):
    return f"{nm:.6f}"


def value_texts(spectrum, nan_text):
    """Counts as whole numbers, averaged counts with two decimals, ratios and
    absorbances with six (a value that rounds to zero without a sign)."""
    values = spectrum.intensities
    if values.dtype.kind in "iu":
        return [str(v) for v in values.tolist()]
    digits = 2 if spectrum.quantity == "intensity" else 6
    return [nan_text if math.isnan(v) else f"{0.0 if abs(v) < 0.5 * 10**-digits else v:.{digits}f}"
            for v in values.tolist()]


def _write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


def write_csv(spectrum, path):
    lines = [f"wavelength_nm,{spectrum.quantity}"]
    xs = [wavelength_text(x) for x in spectrum.wavelengths.tolist()]
    lines += [f"{x},{y}" for x, y in zip(xs, value_texts(spectrum, "nan"))]
    _write(path, "\n".join(lines) + "\n")


def _utc(started):
    return started.astimezone(datetime.timezone.utc) if started is not None else None


def write_json(spectrum, path):
    values = [None if isinstance(v, float) and math.isnan(v) else v
              for v in spectrum.intensities.tolist()]
    started = _utc(spectrum.started)
    scan = {"scan": 1, "points": len(spectrum)}
    if started is not None:
        scan["started_utc"] = started.isoformat().replace("+00:00", "Z")
    scan["wavelength_nm"] = spectrum.wavelengths.tolist()
    scan[spectrum.quantity] = values
    document = {
        "configuration": {"position": spectrum.position, "name": spectrum.configuration},
        "versions": list(spectrum.versions) if spectrum.versions else None,
        "quantity": spectrum.quantity,
    }
    for field in ("sample", "comment"):
        if getattr(spectrum, field):
            document[field] = getattr(spectrum, field)
    if spectrum.grid is not None:
        document["grid_nm"] = dict(zip(("start", "step", "end"), spectrum.grid))
    document["scans"] = [scan]
    _write(path, json.dumps(document, indent=2, allow_nan=False) + "\n")


def _login_name():
    try:
        return pwd.getpwuid(os.geteuid()).pw_name
    except KeyError:
        return ""


def _text_record(label, value):
    """A record whose long value goes on over continuation lines."""
    value = " ".join(str(value).split())
    head = f"##{label}="
    lines, room = [], _JCAMP_COLUMNS - len(head)
    while len(value) > room:
        cut = value.rfind(" ", 0, room + 1)
        cut = room if cut <= 0 else cut
        lines.append(value[:cut])
        value, room = value[cut:].lstrip(), _JCAMP_COLUMNS
    lines.append(value)
    return [head + lines[0]] + lines[1:]


def _even_lines(xs, ys):
    """(X++(Y..Y)): each line the abscissa of its first value and values
    following it at DELTAX, within the format's columns."""
    lines, at = [], 0
    while at < len(ys):
        line = wavelength_text(xs[at])
        while at < len(ys) and len(line) + 1 + len(ys[at]) <= _JCAMP_COLUMNS:
            line += " " + ys[at]
            at += 1
        lines.append(line)
    return lines


def write_jcamp(spectrum, path, owner=None):
    xs = spectrum.wavelengths.tolist()
    ys = value_texts(spectrum, "?")
    # Hexadecimal words keep the record within the format's 80 columns.
    versions = "".join(f" {v:X}" for v in spectrum.versions or ())
    owner = _login_name() if owner is None else owner
    records = _text_record("TITLE", spectrum.title) + [
        "##JCAMP-DX=4.24",
        "##DATA TYPE=NEAR INFRARED SPECTRUM",
        "##ORIGIN=quillonlib",
        f"##OWNER={owner}",
    ]
    if spectrum.comment:
        records += _text_record("SAMPLE DESCRIPTION", spectrum.comment)
    started = _utc(spectrum.started)
    if started is not None:
        records.append(f"##LONGDATE={started.strftime(LONGDATE)}")
    records += [
        f"##SPECTROMETER/DATA SYSTEM=NIR module{versions}",
        "##XUNITS=NANOMETERS",
        f"##YUNITS={JCAMP_YUNITS[spectrum.quantity]}",
        "##XFACTOR=1",
        "##YFACTOR=1",
        f"##FIRSTX={wavelength_text(xs[0]) if xs else '?'}",
        f"##LASTX={wavelength_text(xs[-1]) if xs else '?'}",
        f"##NPOINTS={len(xs)}",
        f"##FIRSTY={ys[0] if ys else '?'}",
    ]
    if spectrum.grid is not None and len(xs) > 1:
        records += [f"##DELTAX={wavelength_text(spectrum.grid[1])}", "##XYDATA=(X++(Y..Y))"]
        records += _even_lines(xs, ys)
    else:
        records.append("##XYPOINTS=(XY..XY)")
        records += [f"{wavelength_text(x)}, {y}" for x, y in zip(xs, ys)]
    records.append("##END=")
    _write(path, "\n".join(records) + "\n")

