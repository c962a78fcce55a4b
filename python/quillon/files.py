"""Spectrum files: CSV, JSON and JCAMP-DX as the quillon program and this
package write them, and reading any of them back."""

import datetime
import json
import math
import os
import pwd
import re

import numpy as np

from .spectrum import QUANTITIES, Spectrum

JCAMP_YUNITS = {"intensity": "ARBITRARY UNITS", "reflectance": "REFLECTANCE",
                "absorbance": "ABSORBANCE"}
_QUANTITY_OF_YUNITS = {units: quantity for quantity, units in JCAMP_YUNITS.items()}
_LONGDATE = "%Y/%m/%d %H:%M:%S"


def _texts(values, nan_text):
    """Each value as the shortest text that reads back as the same number."""
    if values.dtype.kind in "iu":
        return [str(v) for v in values.tolist()]
    return [nan_text if math.isnan(v) else repr(v) for v in values.tolist()]


def _write(path, text):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write(text)


def write_csv(spectrum, path):
    lines = [f"wavelength_nm,{spectrum.quantity}"]
    xs = _texts(spectrum.wavelengths, "nan")
    lines += [f"{x},{y}" for x, y in zip(xs, _texts(spectrum.intensities, "nan"))]
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
        "scans": [scan],
    }
    _write(path, json.dumps(document, indent=2, allow_nan=False) + "\n")


def _login_name():
    try:
        return pwd.getpwuid(os.geteuid()).pw_name
    except KeyError:
        return ""


def write_jcamp(spectrum, path, owner=None):
    xs = _texts(spectrum.wavelengths, "?")
    ys = _texts(spectrum.intensities, "?")
    # Hexadecimal words keep the record within the format's 80 columns.
    versions = "".join(f" {v:X}" for v in spectrum.versions or ())
    owner = _login_name() if owner is None else owner
    records = [
        f"##TITLE={spectrum.title}",
        "##JCAMP-DX=4.24",
        "##DATA TYPE=NEAR INFRARED SPECTRUM",
        "##ORIGIN=quillonlib",
        f"##OWNER={owner}",
    ]
    started = _utc(spectrum.started)
    if started is not None:
        records.append(f"##LONGDATE={started.strftime(_LONGDATE)}")
    records += [
        f"##SPECTROMETER/DATA SYSTEM=NIR module{versions}",
        "##XUNITS=NANOMETERS",
        f"##YUNITS={JCAMP_YUNITS[spectrum.quantity]}",
        "##XFACTOR=1",
        "##YFACTOR=1",
        f"##FIRSTX={xs[0] if xs else '?'}",
        f"##LASTX={xs[-1] if xs else '?'}",
        f"##NPOINTS={len(xs)}",
        f"##FIRSTY={ys[0] if ys else '?'}",
        "##XYPOINTS=(XY..XY)",
    ]
    records += [f"{x}, {y}" for x, y in zip(xs, ys)]
    records.append("##END=")
    _write(path, "\n".join(records) + "\n")


class _Refused(ValueError):
    pass


def _number(text):
    text = text.strip()
    if text in ("?", "nan", "NaN", "null"):
        return math.nan
    try:
        return float(text)
    except ValueError:
        raise _Refused(f"{text!r} is not a number") from None


def _values(texts, quantity):
    """An integer array for whole counts, float64 otherwise."""
    if quantity == "intensity" and texts and all(re.fullmatch(r"-?\d+", t.strip()) for t in texts):
        return np.array([int(t) for t in texts], dtype=np.int64)
    return np.array([_number(t) for t in texts], dtype=np.float64)


def _pick(items, scan, what):
    if scan is None:
        if len(items) != 1:
            raise _Refused(f"it holds {len(items)} {what}s; say which with scan=N")
        return items[0]
    if not 1 <= scan <= len(items):
        raise _Refused(f"it holds {len(items)} {what}s, not a {what} {scan}")
    return items[scan - 1]


def _read_csv(text, scan):
    lines = [line for line in text.splitlines() if line.strip() and not line.startswith("#")]
    header = lines[0].strip().split(",") if lines else []
    numbered = header[:1] == ["scan"]
    if header[numbered:numbered + 1] != ["wavelength_nm"] or len(header) != 2 + numbered \
            or header[-1] not in QUANTITIES:
        raise _Refused("the first line is not a spectrum header such as wavelength_nm,intensity")
    rows = {}
    for number, line in enumerate(lines[1:], start=2):
        fields = line.strip().split(",")
        if len(fields) != len(header):
            raise _Refused(f"line {number} has {len(fields)} fields, not {len(header)}")
        rows.setdefault(fields[0] if numbered else "1", []).append(fields[-2:])
    if not rows:
        raise _Refused("it holds no points")
    chosen = _pick(list(rows.values()), scan, "scan")
    xs = np.array([_number(x) for x, _ in chosen])
    return Spectrum(xs, _values([y for _, y in chosen], header[-1]), quantity=header[-1])


def _read_json(text, scan):
    try:
        document = json.loads(text)
        scans = document["scans"]
        quantity = document.get("quantity", "intensity")
        chosen = _pick(scans, scan, "scan")
        xs, ys = chosen["wavelength_nm"], chosen[quantity]
    except (json.JSONDecodeError, KeyError, TypeError, AttributeError) as error:
        reason = f"no {error} field" if isinstance(error, KeyError) else str(error)
        raise _Refused(f"not a spectrum written by quillon ({reason})") from None
    if quantity not in QUANTITIES:
        raise _Refused(f"unknown quantity {quantity!r}")
    texts = ["nan" if y is None else json.dumps(y) for y in ys]
    if document.get("average", 1) not in (1, None):
        texts = [str(_number(t)) for t in texts]
    config = document.get("configuration") or {}
    started = chosen.get("started_utc")
    if started is not None:
        started = datetime.datetime.fromisoformat(started.replace("Z", "+00:00"))
    return Spectrum([_number(json.dumps(x)) for x in xs], _values(texts, quantity),
                    quantity=quantity, position=config.get("position"),
                    configuration=config.get("name"), started=started,
                    versions=tuple(document["versions"]) if document.get("versions") else None)


def _jcamp_blocks(text):
    """The blocks that hold data, each a dict of its records with "points"."""
    stack, blocks, label = [], [], None
    for number, line in enumerate(text.splitlines(), start=1):
        if line.startswith("$$"):
            continue
        match = re.match(r"##([^=]*)=(.*)", line)
        if not match:
            if stack and label != "XYPOINTS" and label in stack[-1]:  # a long text goes on
                stack[-1][label] += " " + line.split("$$")[0].strip()
            elif stack and "points" in stack[-1]:
                tokens = [t for t in re.split(r"[,;\s]+", line.split("$$")[0].strip()) if t]
                if len(tokens) % 2:
                    raise _Refused(f"line {number} does not hold (x, y) pairs")
                stack[-1]["points"] += [tuple(tokens[i:i + 2]) for i in range(0, len(tokens), 2)]
            continue
        label = re.sub(r"[\s\-/_]", "", match.group(1)).upper()
        value = match.group(2).split("$$")[0].strip()
        if label == "TITLE":
            stack.append({})
        elif not stack:
            raise _Refused(f"line {number}: a record before ##TITLE=")
        if label == "END":
            block = stack.pop()
            if "points" in block:
                blocks.append(block)
            continue
        stack[-1][label] = value
        if label == "XYPOINTS":
            if value.replace(" ", "").upper() != "(XY..XY)":
                raise _Refused(f"line {number}: only ##XYPOINTS=(XY..XY) data is read")
            stack[-1]["points"] = []
    if stack:
        raise _Refused("a block has no ##END=")
    return blocks


def _read_jcamp(text, scan):
    block = _pick(_jcamp_blocks(text), scan, "spectrum block")
    quantity = _QUANTITY_OF_YUNITS.get(block.get("YUNITS", "").upper())
    if quantity is None:
        raise _Refused(f"unknown ##YUNITS={block.get('YUNITS', '')}")
    if block.get("XUNITS", "").upper() != "NANOMETERS":
        raise _Refused("##XUNITS is not NANOMETERS")
    points = block["points"]
    if "NPOINTS" in block and int(block["NPOINTS"]) != len(points):
        raise _Refused(f"##NPOINTS={block['NPOINTS']} but {len(points)} points follow")
    xfactor, yfactor = (_number(block.get(key, "1")) for key in ("XFACTOR", "YFACTOR"))
    xs = np.array([_number(x) for x, _ in points]) * xfactor
    ys = _values([y for _, y in points], quantity)
    if yfactor != 1:
        ys = ys * yfactor
    title = block.get("TITLE", "")
    # "NAME", or "position 3", "configuration at position 3" and "A or B (position 3)"
    # when the name could not be told.
    at = re.search(r"(?:^| at |\()position (\d+)\)?$", title)
    longdate = block.get("LONGDATE")
    started = None
    if longdate:
        started = datetime.datetime.strptime(longdate, _LONGDATE).replace(
            tzinfo=datetime.timezone.utc)
    versions = re.fullmatch(r"NIR module((?:\s+[0-9A-F]+){7})",
                            block.get("SPECTROMETERDATASYSTEM", ""))
    return Spectrum(xs, ys, quantity=quantity, position=int(at.group(1)) if at else None,
                    configuration=None if at else title or None, started=started,
                    versions=tuple(int(v, 16) for v in versions.group(1).split()) if versions else None)


def read_spectrum(path, scan=None):
    """Reads a spectrum from a CSV, JSON or JCAMP-DX file that the quillon
    program or this package wrote. A file of several scans needs ``scan``
    (numbered from 1). ValueError naming the file and the reason otherwise."""
    with open(path, encoding="utf-8-sig") as source:
        text = source.read()
    start = text.lstrip()[:2]
    reader = _read_json if start.startswith("{") else _read_jcamp if start == "##" else _read_csv
    try:
        return reader(text, scan)
    except _Refused as why:
        raise ValueError(f"{path}: {why}") from None
