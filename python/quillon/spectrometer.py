"""Finding, opening and driving modules, several at once, through quillon.h."""

import concurrent.futures
import ctypes
import dataclasses
import datetime
import os
import stat
import threading
import time
import warnings

import numpy as np

from . import backup
from . import configuration as cfg
from ._library import (RECOVERY_FINISHED, RECOVERY_REFUSED, ModuleInfo, RecoveryInfo,
                       SectionStruct, lib, result_text)
from .errors import (BUFFER_TOO_SMALL, CANCELLED, INVALID_ARGUMENT, NOT_FOUND, OK,
                     NoModuleError, QuillonError, error_for)
from .spectrum import Spectrum

MAX_POSITIONS = 20  # configurations a module stores
_NAME_BUFFER = 64
_REASON_BUFFER = 256
# How often a scan on the main thread lets Python see Ctrl-C.
_INTERRUPT_POLL_S = 0.02


@dataclasses.dataclass(frozen=True)
class ModuleEntry:
    """An attached module: its path (what :class:`Spectrometer` opens) and its
    serial number ("" when it has none)."""

    path: str
    serial: str


def _check(result, message):
    if result != OK:
        raise error_for(message, result, result_text(result))


def list_modules():
    """The attached modules, in the order the system lists them; empty when
    none is attached."""
    count = ctypes.c_size_t()
    _check(lib.quillon_list(None, 0, ctypes.byref(count)), "cannot look for modules")
    infos = (ModuleInfo * max(count.value, 1))()
    _check(lib.quillon_list(infos, count.value, ctypes.byref(count)), "cannot look for modules")
    return [ModuleEntry(i.path.decode("utf-8", "replace"), i.serial.decode("utf-8", "replace"))
            for i in infos[:count.value]]


def _choose(index_or_path, serial):
    modules = list_modules()
    if serial is not None:
        for entry in modules:
            if entry.serial == serial:
                return entry
        raise NoModuleError(f"no module with serial number {serial!r} ({len(modules)} found)",
                            NOT_FOUND, result_text(NOT_FOUND))
    if isinstance(index_or_path, str):
        for entry in modules:
            if entry.path == index_or_path:
                return entry
        raise NoModuleError(f"no module at {index_or_path!r}", NOT_FOUND,
                            result_text(NOT_FOUND))
    index = cfg.whole_number(index_or_path, "module index", 0, 2**31 - 1)
    if index >= len(modules):
        raise NoModuleError(f"no module at index {index} ({len(modules)} found)", NOT_FOUND,
                            result_text(NOT_FOUND))
    return modules[index]


class Spectrometer:
    """An open module. Several may be open at once, each on its own module;
    each may be used from several threads (its calls take turns).

    >>> with quillon.Spectrometer() as sp:
    ...     spectrum = sp.scan()

    ``Spectrometer(1)`` opens the second module of :func:`list_modules`,
    ``Spectrometer(path)`` the one at that path, ``Spectrometer(serial="A1")``
    the one with that serial number.
    """

    def __init__(self, index_or_path=0, serial=None):
        entry = _choose(index_or_path, serial)
        self.path, self.serial = entry.path, entry.serial
        self._handle = ctypes.c_void_p()
        _check(lib.quillon_open(entry.path.encode("utf-8"), ctypes.byref(self._handle)),
               f"cannot open the module at {entry.path}")
        self._closing = threading.Lock()
        self._helper = None  # the thread main-thread scans run on
        self._warn_recovered()
        self._versions = None
        try:
            words = (ctypes.c_uint32 * 7)()
            _check(lib.quillon_versions(self._handle, words), "cannot read the module's versions")
            self._versions = tuple(words)
        except QuillonError:
            self.close()
            raise

    def _warn_recovered(self):
        """Opening finishes a save that an earlier process was killed in (or
        refuses a journal that does not fit the module): the caller hears of it."""
        info = RecoveryInfo()
        if lib.quillon_recovery(self._handle, ctypes.byref(info)) != 0:
            return
        if info.kind == RECOVERY_FINISHED and info.restored > 0:
            warnings.warn(f"Restored {info.restored} configurations that an interrupted save "
                          f"had not finished writing", RuntimeWarning, stacklevel=3)
        elif info.kind == RECOVERY_REFUSED:
            warnings.warn(info.detail.decode("utf-8", "replace"), RuntimeWarning, stacklevel=3)

    # ---- lifecycle --------------------------------------------------------

    def close(self):
        """Closes the module; closing a closed Spectrometer does nothing."""
        with self._closing:
            handle, self._handle = self._handle, None
            helper, self._helper = self._helper, None
        if helper is not None:
            helper.shutdown(wait=True)
        if handle:
            lib.quillon_close(handle)

    @property
    def closed(self):
        return not self._handle

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
        if self.closed:
            return f"<quillon.Spectrometer {self.serial or self.path}, closed>"
        return f"<quillon.Spectrometer {self.serial or self.path}, open>"

    def _h(self):
        handle = self._handle
        if not handle:
            raise ValueError("operation on a closed Spectrometer")
        return handle

    # ---- module state -----------------------------------------------------

    @property
    def versions(self):
        """The module's seven version words."""
        self._h()
        return self._versions

    @property
    def estimated_scan_time_ms(self):
        ms = ctypes.c_uint32()
        _check(lib.quillon_estimated_scan_time(self._h(), ctypes.byref(ms)),
               "cannot read the estimated scan time")
        return ms.value

    @property
    def active_position(self):
        """The position of the configuration that scans use."""
        position = ctypes.c_size_t()
        _check(lib.quillon_active_get(self._h(), ctypes.byref(position)),
               "cannot read the active position")
        return position.value

    @property
    def configurations(self):
        """The stored configurations in position order, each with ``.position``."""
        handle = self._h()
        count = ctypes.c_size_t()
        _check(lib.quillon_config_count(handle, ctypes.byref(count)),
               "cannot count the configurations")
        configs = []
        for p in range(count.value):
            name = ctypes.create_string_buffer(_NAME_BUFFER)
            _check(lib.quillon_config_name(handle, p, name, _NAME_BUFFER),
                   f"cannot read the name at position {p}")
            sections = (SectionStruct * cfg.MAX_SECTIONS)()
            n = ctypes.c_size_t()
            _check(lib.quillon_config_sections(handle, p, sections, cfg.MAX_SECTIONS,
                                               ctypes.byref(n), None),
                   f"cannot read the sections at position {p}")
            types = cfg.scan_types()
            configs.append(cfg.Configuration(
                name.value.decode("utf-8", "replace"),
                [cfg.Section(types[s.scan_type] if 0 <= s.scan_type < len(types) else "?",
                             s.start_nm, s.end_nm, s.width_nm, s.patterns, s.exposure_ms)
                 for s in sections[:n.value]],
                position=p))
        return configs

    def _position_of(self, position_or_name):
        configs = self.configurations
        if isinstance(position_or_name, str):
            found = [c.position for c in configs if c.name == position_or_name]
            if not found:
                raise ValueError(f"no stored configuration is named {position_or_name!r}")
            if len(found) > 1:
                raise ValueError(f"positions {', '.join(map(str, found))} are all named "
                                 f"{position_or_name!r}; give the position")
            return found[0]
        position = cfg.whole_number(position_or_name, "position", 0, MAX_POSITIONS - 1)
        if position >= len(configs):
            raise ValueError(f"position {position} holds no configuration")
        return position

    def activate(self, position_or_name):
        """Makes a stored configuration the one that scans use: by position, or
        by name when only one configuration carries that name."""
        position = self._position_of(position_or_name)
        _check(lib.quillon_active_set(self._h(), position),
               f"the module refused position {position}")

    def set_lamp(self, on):
        _check(lib.quillon_lamp_set(self._h(), 1 if on else 0), "cannot switch the lamp")

    def max_patterns(self, start_nm, end_nm, width_nm=None, scan_type="Column", *, width_px=None):
        """The largest pattern count of a section of this range, pattern width
        and scan type (0 or "Column", 1 or "Hadamard"); 0 when none fits. The
        width is in nm, a value of :func:`pattern_widths` as in
        :class:`Section`, or in pixels by the keyword ``width_px``."""
        start, end = cfg.check_range(start_nm, end_nm)
        widths = cfg.pattern_widths()
        if (width_nm is None) == (width_px is None):
            raise ValueError("give the width either in nm or, by keyword, as width_px")
        if width_px is not None:
            width = cfg.whole_number(width_px, "width (pixels)", 2, len(widths) + 1)
        else:
            width = cfg.width_pixels(width_nm)
        kind = cfg.scan_type_number(scan_type)
        most = ctypes.c_uint32()
        _check(lib.quillon_max_patterns(self._h(), kind, start, end, widths[width - 2],
                                        ctypes.byref(most)), "cannot compute the pattern count")
        return most.value

    def add_configuration(self, name, sections, repeats=1):
        """Stores a new configuration of one to five sections after the
        existing ones and returns its position. Every value is checked before
        anything is sent; when the module or the library refuses it, nothing
        of it stays behind."""
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
        if any(c.name == name for c in self.configurations):
            raise ValueError(f"a configuration named {name!r} is stored already")
        for i, (s, width_px) in enumerate(checked):
            fits = self.max_patterns(s.start_nm, s.end_nm, scan_type=s.type, width_px=width_px)
            if s.patterns > fits:
                raise ValueError(f"section {i + 1}: {s.start_nm}-{s.end_nm} nm at width "
                                 f"{s.width_nm:.2f} holds at most {fits} {s.type} "
                                 f"patterns, not {s.patterns}")
        structs = (SectionStruct * len(checked))(*[
            SectionStruct(cfg.scan_type_number(s.type), s.width_nm, s.start_nm, s.end_nm,
                          s.patterns, s.exposure_ms) for s, _ in checked])
        position = ctypes.c_size_t()
        reason = ctypes.create_string_buffer(_REASON_BUFFER)
        result = lib.quillon_config_add(self._h(), encoded, structs, len(checked), repeats,
                                        ctypes.byref(position), reason, _REASON_BUFFER)
        if result != OK:
            why = reason.value.decode("utf-8", "replace") or result_text(result)
            raise error_for(f"the configuration {name!r} was not stored", result, why)
        return position.value

    def remove_configuration(self, position_or_name):
        """Removes a stored configuration, by position or by its unique name;
        the ones after it move up one position."""
        position = self._position_of(position_or_name)
        _check(lib.quillon_config_remove(self._h(), position),
               f"cannot remove the configuration at position {position}")

    def export_configurations(self, path):
        """Writes the stored configurations and the active position to
        ``path`` in the file format of ``quillon config export``."""
        handle = self._h()
        configs = self.configurations
        records, repeats = [], []
        for c in configs:
            image = (ctypes.c_uint8 * backup.MAX_RECORD)()
            length, count, times = ctypes.c_size_t(), ctypes.c_size_t(), ctypes.c_uint16()
            _check(lib.quillon_config_record(handle, c.position, image, backup.MAX_RECORD,
                                             ctypes.byref(length)),
                   f"cannot read the record at position {c.position}")
            sections = (SectionStruct * cfg.MAX_SECTIONS)()
            _check(lib.quillon_config_sections(handle, c.position, sections, cfg.MAX_SECTIONS,
                                               ctypes.byref(count), ctypes.byref(times)),
                   f"cannot read the repeats at position {c.position}")
            records.append(bytes(image[:length.value]))
            repeats.append(times.value)
        backup.write_backup(path, backup.backup_document(configs, records, repeats,
                                                         self.active_position))

    def import_configurations(self, path, replace=False):
        """Stores the configurations of a backup file after the stored ones,
        or instead of all of them and with the file's active position
        (``replace``). Everything is checked first: a faulty file (a
        ValueError naming it) stores nothing. The save is journaled."""
        document = backup.read_backup(path)
        configs, count, keep = backup.stored_configs(document, os.fspath(path))
        reason = ctypes.create_string_buffer(512)
        result = lib.quillon_configs_store(self._h(), configs, count, 1 if replace else 0,
                                           document["active_position"] if replace else 0,
                                           reason, len(reason))
        del keep
        if result == INVALID_ARGUMENT:
            raise ValueError(f"{os.fspath(path)}: {reason.value.decode('utf-8', 'replace')}")
        _check(result, f"cannot store the configurations of {os.fspath(path)}")

    # ---- measuring ----------------------------------------------------------

    def cancel(self):
        """Stops a scan running on this module (from any thread): it raises
        :class:`ScanCancelledError`. The module stays usable."""
        handle = self._handle
        if handle:
            lib.quillon_cancel(handle)

    def _scan_once(self, handle, wavelengths, counts):
        got = ctypes.c_size_t()
        outcome = {}

        def run():
            outcome["result"] = lib.quillon_scan(handle, wavelengths.ctypes.data,
                                                 counts.ctypes.data, len(wavelengths),
                                                 ctypes.byref(got))

        if threading.current_thread() is not threading.main_thread():
            run()
        else:
            # Ctrl-C reaches Python only between its own steps: the scan runs on
            # a helper thread while this one waits, and a KeyboardInterrupt
            # cancels it before it goes on up.
            if self._helper is None:
                self._helper = concurrent.futures.ThreadPoolExecutor(
                    max_workers=1, thread_name_prefix="quillon scan")
            done = self._helper.submit(run)
            try:
                while not concurrent.futures.wait([done], _INTERRUPT_POLL_S).done:
                    pass
            except BaseException:
                lib.quillon_cancel(handle)
                concurrent.futures.wait([done])
                raise
        result = outcome.get("result", CANCELLED)
        if result == BUFFER_TOO_SMALL:
            # Another thread activated a longer configuration meanwhile.
            raise QuillonError("the active configuration changed during the scan", result,
                               result_text(result))
        _check(result, "scan failed" if result != CANCELLED else "scan cancelled")
        return got.value

    def scan(self, average=1, *, sample=None, comment=None, warmup=0):
        """Scans with the active configuration; with ``average`` > 1 the mean
        of that many scans (float64 intensities). ``sample`` and ``comment``
        go with the spectrum (and into its files). ``warmup`` > 0 switches the
        lamp on and waits that many seconds before scanning, so the lamp's
        light has settled; the lamp is then left on. Ctrl-C stops it at once
        (KeyboardInterrupt), and so does :meth:`cancel` from another thread."""
        average = cfg.whole_number(average, "average", 1, 65535)
        for name, text in (("sample", sample), ("comment", comment)):
            if text is not None and not isinstance(text, str):
                raise ValueError(f"{name} is a {type(text).__name__}, not a text")
        warmup = float(warmup)
        if not 0 <= warmup <= 3600:
            raise ValueError(f"warmup {warmup:g} s is not within 0 to 3600 s")
        if warmup > 0:
            self.set_lamp(True)
            time.sleep(warmup)
        _warn_about_hadamard_table()
        handle = self._h()
        position = self.active_position
        count = ctypes.c_size_t()
        result = lib.quillon_point_count(handle, ctypes.byref(count))
        name = ctypes.create_string_buffer(_NAME_BUFFER)
        if result == OK:
            result = lib.quillon_config_name(handle, position, name, _NAME_BUFFER)
        if result != OK:
            raise error_for(f"no configuration at the active position {position}", result,
                            result_text(result))
        wavelengths = np.empty(count.value, dtype=np.float64)
        counts = np.empty(count.value, dtype=np.int32)
        started = datetime.datetime.now(datetime.timezone.utc)
        total = None
        for _ in range(average):
            points = self._scan_once(handle, wavelengths, counts)
            if average == 1:
                break
            if total is None:
                first, total = wavelengths[:points].copy(), counts[:points].astype(np.float64)
            elif not np.array_equal(first, wavelengths[:points]):
                raise QuillonError("the wavelengths changed between the averaged scans")
            else:
                total += counts[:points]
        values = counts[:points] if total is None else total / average
        return Spectrum(wavelengths[:points], values, position=position, started=started,
                        configuration=name.value.decode("utf-8", "replace"),
                        versions=self._versions, sample=sample, comment=comment)


_warned_tables = set()


def _warn_about_hadamard_table():
    """The library decodes with its built-in table when the file that
    QUILLONLIB_HADAMARD_TABLE names cannot be used, and says so only in its
    log; a file that cannot even be opened is told here, once per path."""
    path = os.environ.get("QUILLONLIB_HADAMARD_TABLE")
    if not path or path in _warned_tables:
        return
    try:
        info = os.stat(path)
        reason = None if stat.S_ISREG(info.st_mode) else "not a regular file"
        if reason is None and not os.access(path, os.R_OK):
            reason = "the file cannot be read"
    except OSError as error:
        reason = error.strerror.lower() if error.strerror else str(error)
    if reason is not None:
        _warned_tables.add(path)
        warnings.warn(f"QUILLONLIB_HADAMARD_TABLE {path} refused: {reason}; Hadamard sections "
                      f"are decoded with the built-in table", RuntimeWarning, stacklevel=3)
