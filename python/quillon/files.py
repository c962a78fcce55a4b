"""Spectrum files: CSV, JSON and JCAMP-DX as the quillon program and this
package write them, and reading any of them back."""

import datetime
import json
import math
import os
import re
import stat

import numpy as np

from .spectrum import QUANTITIES, Spectrum
from .writers import JCAMP_YUNITS, LONGDATE, write_csv, write_jcamp, write_json  # noqa: F401

_QUANTITY_OF_YUNITS = {units: quantity for quantity, units in JCAMP_YUNITS.items()}
# Larger files are no spectrum of this package or the program; they are not read.
MAX_FILE_BYTES = 4 * 1024 * 1024
# Plain decimal numbers only: no hexadecimal, no "inf", no digit separators.
_DECIMAL = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")


class _Refused(ValueError):
    pass


def _number(text):
    text = text.strip()
    if text in ("?", "nan", "NaN", "null"):
        return math.nan
    if not _DECIMAL.fullmatch(text):
        raise _Refused(f"{text!r} is not a decimal number")
    value = float(text)
    if not math.isfinite(value):
        raise _Refused(f"{text!r} is out of range")
    return value


def _wavelengths(values):
    """Finite, positive wavelengths that rise from point to point."""
    xs = np.asarray(values, dtype=np.float64)
    bad = np.flatnonzero(~np.isfinite(xs) | (xs <= 0))
    if bad.size:
        raise _Refused(f"point {bad[0] + 1} has the wavelength {xs[bad[0]]}, not a positive number")
    falls = np.flatnonzero(np.diff(xs) <= 0)
    if falls.size:
        i = falls[0]
        how = "repeats" if xs[i + 1] == xs[i] else "falls below"
        raise _Refused(f"the wavelength of point {i + 2} ({xs[i + 1]:.6f} nm) {how} "
                       f"that of point {i + 1}")
    return xs


def _factor(block, key):
    value = _number(block.get(key, "1"))
    if math.isnan(value) or value == 0:
        raise _Refused(f"##{key}={block.get(key)} is not a usable factor")
    return value


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
    xs = _wavelengths([_number(x) for x, _ in chosen])
    return Spectrum(xs, _values([y for _, y in chosen], header[-1]), quantity=header[-1])


def _read_json(text, scan):
    try:
        document = json.loads(text)
        scans = document["scans"]
        quantity = document.get("quantity", "intensity")
        chosen = _pick(scans, scan, "scan")
        xs, ys = chosen["wavelength_nm"], chosen[quantity]
    except (json.JSONDecodeError, KeyError, TypeError, AttributeError, RecursionError) as error:
        reason = (f"no {error} field" if isinstance(error, KeyError)
                  else "nested too deeply" if isinstance(error, RecursionError) else str(error))
        raise _Refused(f"not a spectrum written by quillon ({reason})") from None
    if not isinstance(xs, list) or not isinstance(ys, list) or len(xs) != len(ys):
        raise _Refused("the wavelengths and values are not two lists of one length")
    if quantity not in QUANTITIES:
        raise _Refused(f"unknown quantity {quantity!r}")
    texts = ["nan" if y is None else json.dumps(y) for y in ys]
    if document.get("average", 1) not in (1, None):
        texts = [str(_number(t)) for t in texts]
    config = document.get("configuration") or {}
    started = chosen.get("started_utc")
    if started is not None:
        started = datetime.datetime.fromisoformat(started.replace("Z", "+00:00"))
    grid = document.get("grid_nm")
    if isinstance(grid, dict):
        grid = tuple(float(_number(json.dumps(grid.get(k)))) for k in ("start", "step", "end"))
    else:
        grid = None
    return Spectrum(_wavelengths([_number(json.dumps(x)) for x in xs]), _values(texts, quantity),
                    quantity=quantity, position=config.get("position"),
                    configuration=config.get("name"), started=started,
                    versions=tuple(document["versions"]) if document.get("versions") else None,
                    sample=_text_field(document, "sample"),
                    comment=_text_field(document, "comment"), grid=grid)


def _text_field(document, name):
    value = document.get(name)
    if value is not None and not isinstance(value, str):
        raise _Refused(f"the {name} field is not a text")
    return value


_DATA_FORMS = {"XYPOINTS": "(XY..XY)", "XYDATA": "(X++(Y..Y))"}


def _jcamp_blocks(text):
    """The blocks that hold data, each a dict of its records, with "form"
    (the data record's label) and "lines" ((line number, tokens) of its data)."""
    stack, blocks, label = [], [], None
    for number, line in enumerate(text.splitlines(), start=1):
        if line.startswith("$$"):
            continue
        match = re.match(r"##([^=]*)=(.*)", line)
        if not match:
            if stack and "form" in stack[-1] and "done" not in stack[-1]:
                tokens = [t for t in re.split(r"[,;\s]+", line.split("$$")[0].strip()) if t]
                if tokens:
                    stack[-1]["lines"].append((number, line, tokens))
            elif stack and label in stack[-1]:  # a long text goes on
                stack[-1][label] += " " + line.split("$$")[0].strip()
            continue
        label = re.sub(r"[\s\-/_]", "", match.group(1)).upper()
        value = match.group(2).split("$$")[0].strip()
        if label == "TITLE":
            stack.append({})
        elif not stack:
            raise _Refused(f"line {number}: a record before ##TITLE=")
        if label == "END":
            block = stack.pop()
            if "form" in block:
                blocks.append(block)
            continue
        if stack and "form" in stack[-1]:
            stack[-1]["done"] = True  # the data ended at this record
            label = None
            continue
        stack[-1][label] = value
        if label in _DATA_FORMS:
            if value.replace(" ", "").upper() != _DATA_FORMS[label]:
                raise _Refused(f"line {number}: ##{match.group(1)}={value} is not read; "
                               f"quillon reads ##XYPOINTS=(XY..XY) and ##XYDATA=(X++(Y..Y))")
            stack[-1]["form"], stack[-1]["lines"] = label, []
    if stack:
        raise _Refused("a block has no ##END=")
    return blocks


def _pairs(block):
    xs, ys = [], []
    for number, line, tokens in block["lines"]:
        if len(tokens) % 2:
            raise _Refused(f"line {number} ({line.strip()!r}) does not hold (x, y) pairs")
        xs += [_number(t) for t in tokens[0::2]]
        ys += tokens[1::2]
    return xs, ys


def _even(block, xfactor):
    """(X++(Y..Y)): X rebuilt from ##FIRSTX, ##LASTX and ##NPOINTS; the X that
    begins each line must agree with it to half a step."""
    if any(key not in block for key in ("FIRSTX", "LASTX", "NPOINTS")):
        raise _Refused("##XYDATA=(X++(Y..Y)) needs ##FIRSTX, ##LASTX and ##NPOINTS")
    count = _count(block)
    first, last = _number(block["FIRSTX"]) * xfactor, _number(block["LASTX"]) * xfactor
    if count < 2 or not last > first:
        raise _Refused("##FIRSTX, ##LASTX and ##NPOINTS describe no rising grid")
    step = (last - first) / (count - 1)
    ys = []
    for number, line, tokens in block["lines"]:
        expected = first + len(ys) * step
        if abs(_number(tokens[0]) * xfactor - expected) > step / 2:
            raise _Refused(f"line {number} ({line.strip()!r}) starts at X {tokens[0]}, "
                           f"not at point {len(ys) + 1} ({expected:.6f})")
        ys += tokens[1:]
    xs = first + step * np.arange(len(ys), dtype=np.float64)
    if "DELTAX" in block and abs(_number(block["DELTAX"]) * xfactor - step) > step * 1e-4:
        raise _Refused(f"##DELTAX={block['DELTAX']} disagrees with ##FIRSTX, ##LASTX and "
                       f"##NPOINTS (a step of {step:.6f})")
    return xs, ys, (first, step, last)


def _count(block):
    if not re.fullmatch(r"\d{1,9}", block.get("NPOINTS", "").strip()):
        raise _Refused(f"##NPOINTS={block.get('NPOINTS')} is not a count")
    return int(block["NPOINTS"])


def _read_jcamp(text, scan):
    block = _pick(_jcamp_blocks(text), scan, "spectrum block")
    quantity = _QUANTITY_OF_YUNITS.get(block.get("YUNITS", "").upper())
    if quantity is None:
        raise _Refused(f"unknown ##YUNITS={block.get('YUNITS', '')}")
    if block.get("XUNITS", "").upper() != "NANOMETERS":
        raise _Refused("##XUNITS is not NANOMETERS")
    xfactor, yfactor = _factor(block, "XFACTOR"), _factor(block, "YFACTOR")
    grid = None
    if block["form"] == "XYDATA":
        xs, ytexts, grid = _even(block, xfactor)
    else:
        xs, ytexts = _pairs(block)
        xs = np.array(xs, dtype=np.float64) * xfactor
    if "NPOINTS" in block and _count(block) != len(ytexts):
        raise _Refused(f"##NPOINTS={block['NPOINTS']} but {len(ytexts)} points follow")
    if not ytexts:
        raise _Refused("it holds no points")
    xs = _wavelengths(xs)
    ys = _values(ytexts, quantity)
    if yfactor != 1:
        ys = ys * yfactor
    title = block.get("TITLE", "")
    # "NAME", or "position 3", "configuration at position 3" and "A or B (position 3)"
    # when the name could not be told.
    at = re.search(r"(?:^| at |\()position (\d+)\)?$", title)
    longdate = block.get("LONGDATE")
    started = None
    if longdate:
        try:
            started = datetime.datetime.strptime(longdate, LONGDATE).replace(
                tzinfo=datetime.timezone.utc)
        except ValueError:
            raise _Refused(f"##LONGDATE={longdate} is not a date") from None
    versions = re.fullmatch(r"NIR module((?:\s+[0-9A-F]+){7})",
                            block.get("SPECTROMETERDATASYSTEM", ""))
    return Spectrum(xs, ys, quantity=quantity, position=int(at.group(1)) if at else None,
                    configuration=None if at else title or None, started=started,
                    versions=tuple(int(v, 16) for v in versions.group(1).split()) if versions else None,
                    comment=block.get("SAMPLEDESCRIPTION") or None, grid=grid)


def _contents(path):
    """The file's text; only a regular file of at most MAX_FILE_BYTES is read,
    and opening never waits (a FIFO named by mistake)."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    except OSError as error:
        raise _Refused(error.strerror or str(error)) from None
    with os.fdopen(descriptor, "rb") as source:
        info = os.fstat(descriptor)
        if not stat.S_ISREG(info.st_mode):
            raise _Refused("not a regular file")
        if info.st_size > MAX_FILE_BYTES:
            raise _Refused(f"{info.st_size} bytes; a spectrum file has at most {MAX_FILE_BYTES}")
        data = source.read(MAX_FILE_BYTES + 1)
    if len(data) > MAX_FILE_BYTES:
        raise _Refused(f"more than {MAX_FILE_BYTES} bytes")
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise _Refused(f"not a text file (byte {error.start + 1} is not UTF-8)") from None


def read_spectrum(path, scan=None):
    """Reads a spectrum from a CSV, JSON or JCAMP-DX file that the quillon
    program or this package wrote (JCAMP-DX as (XY..XY) pairs or on an even
    grid as (X++(Y..Y))). A file of several scans needs ``scan`` (numbered
    from 1). Every failure is a ValueError naming the file and the reason:
    a missing, unreadable, non-regular or larger than 4 MiB file, numbers
    that are not decimal, wavelengths that are not positive and rising,
    factors of zero."""
    try:
        text = _contents(path)
        start = text.lstrip()[:2]
        reader = _read_json if start.startswith("{") else _read_jcamp if start == "##" else _read_csv
        return reader(text, scan)
    except _Refused as why:
        raise ValueError(f"{path}: {why}") from None
