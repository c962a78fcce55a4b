"""Scan configurations as values, and the checks a new one must pass before
anything of it reaches the module."""

import ctypes
import dataclasses
import operator

from ._library import LOCK, lib

MIN_WAVELENGTH_NM = 900
MAX_WAVELENGTH_NM = 1700
MAX_SECTIONS = 5
MAX_NAME_BYTES = 39  # the module keeps 40 bytes with the terminating NUL
# The library matches widths and exposure times to its tables this closely.
TABLE_TOLERANCE = 1e-7


@dataclasses.dataclass(frozen=True)
class Section:
    """One section of a scan configuration. ``type`` is "Column" or "Hadamard";
    ``width_nm`` and ``exposure_ms`` are values of the library's tables
    (:func:`pattern_widths`, :func:`exposure_times`)."""

    type: str
    start_nm: int
    end_nm: int
    width_nm: float
    patterns: int
    exposure_ms: float

    def __post_init__(self):
        # The library's own spelling, whatever letter case was given.
        for known in scan_types():
            if isinstance(self.type, str) and self.type.lower() == known.lower():
                object.__setattr__(self, "type", known)


@dataclasses.dataclass(frozen=True)
class Configuration:
    """A stored configuration; ``position`` is where the module stores it
    (None for one not stored)."""

    name: str
    sections: tuple
    position: int = None

    def __post_init__(self):
        object.__setattr__(self, "sections", tuple(self.sections))

    @property
    def points(self):
        """The number of points of a spectrum scanned with this configuration."""
        return sum(section.patterns for section in self.sections)


_tables = {}


def _table(count, entry):
    with LOCK:
        return tuple(entry(i) for i in range(count()))


def scan_types():
    """The scan type names, by type number: ("Column", "Hadamard")."""
    if "types" not in _tables:
        names = _table(lib.getScanTypesNumber, lib.getScanTypesName)
        _tables["types"] = tuple(name.decode("ascii") for name in names)
    return _tables["types"]


def pattern_widths():
    """The selectable pattern widths in nm; entry i is a width of i + 2 pixels."""
    if "widths" not in _tables:
        _tables["widths"] = _table(lib.getWidthPixelsNumber, lib.getWidthPixel)
    return _tables["widths"]


def exposure_times():
    """The selectable exposure times in ms."""
    if "exposures" not in _tables:
        _tables["exposures"] = _table(lib.getExposureTimesNumber, lib.getExposureTime)
    return _tables["exposures"]


def pattern_range():
    """The smallest and the largest pattern count of a section (2, 624)."""
    if "patterns" not in _tables:
        low, high = ctypes.c_uint(), ctypes.c_uint()
        with LOCK:
            lib.getPatternsRange(ctypes.byref(low), ctypes.byref(high))
        _tables["patterns"] = (low.value, high.value)
    return _tables["patterns"]


def _table_index(table, value):
    for i, entry in enumerate(table):
        if abs(entry - value) < TABLE_TOLERANCE:
            return i
    return None


def whole_number(value, what, low, high):
    """``value`` as an int within low..high, or a ValueError naming ``what``."""
    try:
        number = operator.index(value)
    except TypeError:
        raise ValueError(f"{what} must be a whole number, not {value!r}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} {number} is outside {low} to {high}")
    return number


def scan_type_number(scan_type):
    """0 or 1 for a scan type given as its number or its name."""
    names = scan_types()
    if isinstance(scan_type, str):
        for number, name in enumerate(names):
            if name.lower() == scan_type.lower():
                return number
        raise ValueError(f"unknown scan type {scan_type!r} (Column or Hadamard)")
    return whole_number(scan_type, "scan type", 0, len(names) - 1)


def check_range(start_nm, end_nm):
    """The range as ints, or a ValueError with the reason."""
    start = whole_number(start_nm, "start wavelength (nm)", MIN_WAVELENGTH_NM, MAX_WAVELENGTH_NM)
    end = whole_number(end_nm, "end wavelength (nm)", MIN_WAVELENGTH_NM, MAX_WAVELENGTH_NM)
    if start > end:
        raise ValueError(f"start wavelength {start} nm is above the end {end} nm")
    return start, end


def check_name(name):
    if not isinstance(name, str) or not name:
        raise ValueError("a configuration needs a non-empty name")
    size = len(name.encode("utf-8"))
    if size > MAX_NAME_BYTES:
        raise ValueError(f"configuration name is {size} bytes long; "
                         f"the module keeps at most {MAX_NAME_BYTES}")
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in name):
        raise ValueError("configuration name holds a control character")
    return name.encode("utf-8")


def width_pixels(width_nm):
    """The pixel count of a pattern width given in nm (a value of
    :func:`pattern_widths`); ValueError otherwise."""
    try:
        index = _table_index(pattern_widths(), float(width_nm))
    except (TypeError, ValueError):
        index = None
    if index is None:
        raise ValueError(f"width {width_nm!r} nm is not a pattern width "
                         f"(quillon.pattern_widths() lists them)")
    return index + 2


def checked_section(section, number):
    """The section with its values checked and taken from the library's
    tables, plus its width in pixels; ValueError naming the section otherwise."""
    where = f"section {number}"
    if not isinstance(section, Section):
        raise ValueError(f"{where} is a {type(section).__name__}, not a quillon.Section")
    if section.type not in scan_types():
        raise ValueError(f"{where}: unknown scan type {section.type!r} (Column or Hadamard)")
    try:
        start, end = check_range(section.start_nm, section.end_nm)
        low, high = pattern_range()
        patterns = whole_number(section.patterns, "pattern count", low, high)
    except ValueError as error:
        raise ValueError(f"{where}: {error}") from None
    widths, exposures = pattern_widths(), exposure_times()
    try:
        width = width_pixels(section.width_nm) - 2
    except ValueError as error:
        raise ValueError(f"{where}: {error}") from None
    exposure = _table_index(exposures, float(section.exposure_ms))
    if exposure is None:
        raise ValueError(f"{where}: exposure {section.exposure_ms} ms is not an exposure time; "
                         f"valid times: {', '.join(f'{e:g}' for e in exposures)}")
    exact = Section(section.type, start, end, widths[width], patterns, exposures[exposure])
    return exact, width + 2
