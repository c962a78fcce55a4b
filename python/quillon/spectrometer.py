"""Finding, opening and driving a module."""

import ctypes
import datetime
import warnings
import weakref

import numpy as np

from . import configuration as cfg
from ._library import (LOCK, RECOVERY_FINISHED, RECOVERY_REFUSED, RecoveryInfo,
                       clear_last_error, last_text, lib)
from .errors import (ENTITY_NOT_FOUND, INVALID_PARAMETER, RESOURCE_BUSY, ModuleBusyError,
                     NoModuleError, QuillonError, code_of, error_for, link_error)
from .spectrum import Spectrum

MAX_POSITIONS = 20  # configurations a module stores
_NAME_BUFFER = 256  # longer than any name; the library copies names without a NUL
_TYPE_BUFFER = 32


def list_modules():
    """The indices of the attached modules; empty when none is attached."""
    count = ctypes.c_uint()
    with LOCK:
        if lib.enumerateDevices(ctypes.byref(count)) != 0:
            text = last_text()
            if code_of(text) == ENTITY_NOT_FOUND:
                return []
            raise error_for("cannot look for modules", text)
    return list(range(count.value))


def _read_configurations():
    configs = []
    for i in range(lib.getScanSectionNumber()):
        name = ctypes.create_string_buffer(_NAME_BUFFER)
        if lib.getScanSectionName(i, name, _NAME_BUFFER - 1) != 0:
            continue
        sections = []
        for s in range(lib.getScanSectionNameNumber(name.value)):
            kind = ctypes.create_string_buffer(_TYPE_BUFFER)
            width, exposure = ctypes.c_double(), ctypes.c_double()
            start, end, patterns = ctypes.c_ushort(), ctypes.c_ushort(), ctypes.c_ushort()
            if lib.getScanSectionNameCfg(name.value, s, kind, _TYPE_BUFFER - 1, width, start, end,
                                         patterns, exposure) == 0:
                sections.append(cfg.Section(kind.value.decode("utf-8", "replace"), start.value,
                                            end.value, width.value, patterns.value,
                                            exposure.value))
        configs.append(cfg.Configuration(name.value.decode("utf-8", "replace"), sections))
    return configs


def _active_points():
    length = ctypes.c_uint(0)  # the library adds to it
    return length.value if lib.getFormattedSpectrumLengths(ctypes.byref(length)) == 0 else None


class Spectrometer:
    """An open module. One at a time per process; usable from several threads.

    >>> with quillon.Spectrometer() as sp:
    ...     spectrum = sp.scan()
    """

    # The Spectrometer that holds the module in this process, weakly: one that
    # is dropped without close() closes the module when it is collected.
    _open = None

    @staticmethod
    def _holder():
        return Spectrometer._open() if Spectrometer._open is not None else None

    def __init__(self, index=0):
        self.index = cfg.whole_number(index, "module index", -2**31, 2**31 - 1)
        self._closed = True
        with LOCK:
            holder = Spectrometer._holder()
            if holder is not None:
                raise ModuleBusyError(f"module {holder.index} is open already in this process; "
                                      f"close it first", RESOURCE_BUSY)
            count = ctypes.c_uint()
            if lib.enumerateDevices(ctypes.byref(count)) != 0:
                raise error_for("no module found", last_text())
            if lib.openSpectrometer(self.index) != 0:
                text = last_text()
                lib.closeSpectrometer()  # opening may fail after the handle was taken
                if code_of(text) == INVALID_PARAMETER:
                    raise NoModuleError(f"no module at index {self.index} "
                                        f"({count.value} found)", INVALID_PARAMETER, text)
                raise error_for(f"cannot open module {self.index}", text)
            self._closed = False
            Spectrometer._open = weakref.ref(self)
            self._warn_recovered()
            try:
                self._position = self._read_active_position()
                self._versions = self._read_versions()
            except QuillonError:
                self.close()
                raise
            self._name_active()

    def _warn_recovered(self):
        """Opening finishes a save that an earlier process was killed in (or
        refuses a journal that does not fit the module): the caller hears of it."""
        info = RecoveryInfo()
        if lib.quillon_recovery(None, ctypes.byref(info)) != 0:
            return
        if info.kind == RECOVERY_FINISHED and info.restored > 0:
            warnings.warn(f"Restored {info.restored} configurations that an interrupted save "
                          f"had not finished writing", RuntimeWarning, stacklevel=3)
        elif info.kind == RECOVERY_REFUSED:
            warnings.warn(info.detail.decode("utf-8", "replace"), RuntimeWarning, stacklevel=3)

    # ---- lifecycle --------------------------------------------------------

    def close(self):
        """Closes the module; closing a closed Spectrometer does nothing."""
        with LOCK:
            if self._closed:
                return
            self._closed = True
            lib.closeSpectrometer()
            if Spectrometer._holder() in (self, None):
                Spectrometer._open = None

    @property
    def closed(self):
        return self._closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass

    def __repr__(self):
        state = "closed" if self._closed else f"open, active position {self._position}"
        return f"<quillon.Spectrometer module {self.index}, {state}>"

    def _check_open(self):
        if self._closed:
            raise ValueError("operation on a closed Spectrometer")

    # ---- module state -----------------------------------------------------

    def _read_active_position(self):
        index = ctypes.c_int(-1)
        lib.getActiveScanIndex(ctypes.byref(index))
        if index.value < 0:
            raise link_error("cannot read the active position", index.value)
        return index.value

    def _read_versions(self):
        words = [ctypes.c_uint() for _ in range(7)]
        clear_last_error()
        if lib.getVersions(*[ctypes.byref(w) for w in words]) != 0:
            raise error_for("cannot read the module's versions", last_text())
        return tuple(w.value for w in words)

    def _name_active(self):
        # The library activates by position but lists by name; the name is
        # known when the active position's point count fits one configuration.
        points = _active_points()
        fitting = [c.name for c in _read_configurations() if c.points == points]
        self._active_name = fitting[0] if len(fitting) == 1 else None

    @property
    def versions(self):
        """The module's seven version words."""
        with LOCK:
            self._check_open()
            return self._versions

    @property
    def estimated_scan_time_ms(self):
        with LOCK:
            self._check_open()
            result = lib.getEstimatedScanTime()
        if result < 0:
            raise link_error("cannot read the estimated scan time", result)
        return result

    @property
    def active_position(self):
        """The position of the configuration that scans use."""
        with LOCK:
            self._check_open()
            return self._read_active_position()

    @property
    def configurations(self):
        """The stored configurations, in the library's listing order (by name)."""
        with LOCK:
            self._check_open()
            return _read_configurations()

    def activate(self, position):
        """Makes the configuration at ``position`` the one that scans use."""
        position = cfg.whole_number(position, "position", 0, MAX_POSITIONS - 1)
        with LOCK:
            self._check_open()
            # Names are listed once each, so at least this many positions hold one.
            known = lib.getScanSectionNumber()
            previous = self._position
            if lib.setActiveScanIndex(position) != 0:
                raise error_for(f"the module refused position {position}", last_text())
            self._position = position
            if position >= known and _active_points() is None:
                lib.setActiveScanIndex(previous)
                self._position = previous
                raise ValueError(f"position {position} holds no configuration")
            self._name_active()

    def set_lamp(self, on):
        with LOCK:
            self._check_open()
            lib.setLampStatus(1 if on else 0)

    def max_patterns(self, start_nm, end_nm, width_px, scan_type):
        """The largest pattern count of a section of this range, width (pixels)
        and scan type (0 or "Column", 1 or "Hadamard"); 0 when none fits."""
        start, end = cfg.check_range(start_nm, end_nm)
        widths = len(cfg.pattern_widths())
        width = cfg.whole_number(width_px, "width (pixels)", 2, widths + 1)
        kind = cfg.scan_type_number(scan_type)
        with LOCK:
            self._check_open()
            return max(0, lib.getMaxPattern(b"", start, end, width, kind, 1))

    def add_configuration(self, name, sections, repeats=1):
        """Stores a new configuration of one to five sections after the
        existing ones. Every value is checked before anything is sent; when the
        module or the library refuses it, nothing of it stays behind."""
        encoded = cfg.check_name(name)
        sections = list(sections)
        if not 1 <= len(sections) <= cfg.MAX_SECTIONS:
            raise ValueError(f"{len(sections)} sections given; a configuration has 1 to "
                             f"{cfg.MAX_SECTIONS}")
        repeats = cfg.whole_number(repeats, "repeats", 1, 65535)
        checked = [cfg.checked_section(s, i + 1) for i, s in enumerate(sections)]
        total, most = sum(s.patterns for s, _ in checked), cfg.pattern_range()[1]
        if total > most:
            raise ValueError(f"the sections hold {total} patterns together; "
                             f"a configuration has at most {most}")
        with LOCK:
            self._check_open()
            if any(c.name == name for c in _read_configurations()):
                raise ValueError(f"a configuration named {name!r} is stored already")
            for i, (s, width_px) in enumerate(checked):
                kind = cfg.scan_type_number(s.type)
                fits = lib.getMaxPattern(encoded, s.start_nm, s.end_nm, width_px, kind,
                                         repeats & 0xFF)
                if s.patterns > fits:
                    raise ValueError(f"section {i + 1}: {s.start_nm}-{s.end_nm} nm at width "
                                     f"{s.width_nm:.2f} holds at most {max(fits, 0)} {s.type} "
                                     f"patterns, not {s.patterns}")
            self._commit(encoded, name, [s for s, _ in checked], repeats)

    def _commit(self, encoded, name, sections, repeats):
        clear_last_error()
        taken = all(
            lib.setTgtCfg(encoded, i, s.type.encode("ascii"), s.start_nm, s.end_nm, s.width_nm,
                          s.patterns, s.exposure_ms) == 0 for i, s in enumerate(sections))
        if taken and lib.setTgtCfgs(encoded, repeats) == 0:
            self._name_active()
            return
        error = error_for(f"the configuration {name!r} was not stored", last_text())
        # Refused sections stay in the library's view of the configurations
        # (and a refused commit may leave the module short of the list);
        # reopening reads both back from the module.
        lib.closeSpectrometer()
        if lib.openSpectrometer(self.index) != 0:
            text = last_text()
            self._closed = True
            Spectrometer._open = None
            raise error_for(f"{error}; reopening the module failed", text)
        self._position = self._read_active_position()
        self._name_active()
        raise error

    def remove_configuration(self, name):
        """Removes the stored configuration ``name``."""
        with LOCK:
            self._check_open()
            if not any(c.name == name for c in _read_configurations()):
                raise ValueError(f"no stored configuration is named {name!r}")
            if lib.removeTgtCfg(name.encode("utf-8")) != 0:
                raise error_for(f"cannot remove {name!r}", last_text())
            # The configurations behind it move up one position.
            self._position = self._read_active_position()
            self._name_active()

    # ---- measuring ----------------------------------------------------------

    def scan(self, average=1):
        """Scans with the active configuration; with ``average`` > 1 the mean
        of that many scans (float64 intensities)."""
        average = cfg.whole_number(average, "average", 1, 65535)
        with LOCK:
            self._check_open()
            points = _active_points()
            if points is None:
                raise QuillonError(f"no configuration at the active position {self._position}")
            wavelengths = np.empty(points, dtype=np.float64)
            counts = np.empty(points, dtype=np.int32)
            started = datetime.datetime.now(datetime.timezone.utc)
            total = None
            for k in range(average):
                if lib.getFormattedSpectrum(wavelengths.ctypes.data, counts.ctypes.data) != 0:
                    raise error_for("scan failed", last_text())
                if average == 1:
                    break
                if total is None:
                    first, total = wavelengths.copy(), counts.astype(np.float64)
                elif not np.array_equal(first, wavelengths):
                    raise QuillonError("the wavelengths changed between the averaged scans")
                else:
                    total += counts
            values = counts if total is None else total / average
            return Spectrum(wavelengths, values, position=self._position, started=started,
                            configuration=self._active_name, versions=self._versions)
