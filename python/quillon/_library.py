"""Finding and loading libquillonlib, and the prototypes of its exports.

The library keeps one session per process and serves one caller at a time,
so every sequence of calls that belongs together runs under ``LOCK``.
"""

import ctypes
import os
import threading

from .errors import CODE_TEXTS

LIBRARY_NAME = "libquillonlib.so.1"

LOCK = threading.RLock()

_c = ctypes
_uint = _c.c_uint
_uint_p = _c.POINTER(_c.c_uint)
_ushort_p = _c.POINTER(_c.c_ushort)
_double_p = _c.POINTER(_c.c_double)

# name: (result type, argument types)
_PROTOTYPES = {
    "enumerateDevices": (_c.c_int, [_uint_p]),
    "openSpectrometer": (_c.c_int, [_c.c_int]),
    "closeSpectrometer": (None, []),
    "getScanTypesNumber": (_c.c_int, []),
    "getScanTypesName": (_c.c_char_p, [_c.c_int]),
    "getWidthPixelsNumber": (_uint, []),
    "getWidthPixel": (_c.c_double, [_c.c_int]),
    "getExposureTimesNumber": (_uint, []),
    "getExposureTime": (_c.c_double, [_c.c_int]),
    "getPatternsRange": (_c.c_int, [_uint_p, _uint_p]),
    "getActiveScanIndex": (_c.c_int, [_c.POINTER(_c.c_int)]),
    "setActiveScanIndex": (_c.c_int, [_c.c_ubyte]),
    "getEstimatedScanTime": (_c.c_int, []),
    "getVersions": (_c.c_int, [_uint_p] * 7),
    "setLampStatus": (_c.c_int, [_c.c_int]),
    "getMaxPattern": (_c.c_int, [_c.c_char_p, _c.c_int, _c.c_int, _c.c_ubyte, _uint, _c.c_ubyte]),
    "getFormattedSpectrumLengths": (_c.c_int, [_uint_p]),
    "setSpectrumAverageTime": (_c.c_int, [_c.c_ushort]),
    "getFormattedSpectrum": (_c.c_int, [_c.c_void_p, _c.c_void_p]),
    "getLastException": (_c.c_char_p, []),
    "setLogSwitch": (None, [_c.c_int]),
    "getScanSectionName": (_c.c_int, [_c.c_int, _c.c_char_p, _uint]),
    "getScanSectionNameNumber": (_c.c_int, [_c.c_char_p]),
    "getScanSectionNumber": (_c.c_int, []),
    "getScanSectionNameCfg": (
        _c.c_int,
        [_c.c_char_p, _c.c_int, _c.c_char_p, _uint, _double_p, _ushort_p, _ushort_p, _ushort_p,
         _double_p],
    ),
    "getRemainPatternNum": (_c.c_int, [_c.c_char_p, _c.c_ubyte, _ushort_p]),
    "setTgtCfg": (
        _c.c_int,
        [_c.c_char_p, _c.c_int, _c.c_char_p, _c.c_ushort, _c.c_ushort, _c.c_double, _c.c_ushort,
         _c.c_double],
    ),
    "setTgtCfgs": (_c.c_int, [_c.c_char_p, _c.c_ushort]),
    "removeTgtCfg": (_c.c_int, [_c.c_char_p]),
}


class RecoveryInfo(_c.Structure):
    """quillon_recovery_info of quillon.h."""
    _fields_ = [("kind", _c.c_int), ("restored", _c.c_uint32), ("detail", _c.c_char * 512)]


RECOVERY_FINISHED = 2
RECOVERY_REFUSED = 3

# What opening did with a save an earlier process left unfinished (NULL: the
# module opened through openSpectrometer).
_PROTOTYPES["quillon_recovery"] = (_c.c_int, [_c.c_void_p, _c.POINTER(RecoveryInfo)])


def _installed_paths(here):
    # An installed copy of the package carries the library's path relative to itself.
    try:
        from ._installed import LIBRARY_RELATIVE
    except ImportError:
        return []
    return [os.path.normpath(os.path.join(here, LIBRARY_RELATIVE, LIBRARY_NAME))]


def candidate_paths():
    """Where the library is looked for, in order."""
    chosen = os.environ.get("QUILLONLIB_LIBRARY")
    if chosen:
        return [chosen]
    here = os.path.dirname(os.path.abspath(__file__))
    return _installed_paths(here) + [os.path.join(here, LIBRARY_NAME), LIBRARY_NAME]


def _load():
    tried = []
    for path in candidate_paths():
        if os.sep in path and not os.path.exists(path):
            tried.append(f"{path} (no such file)")
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{path} ({error})")
    raise ImportError(
        "quillon cannot load the quillonlib library; tried: " + "; ".join(tried) +
        ". Set QUILLONLIB_LIBRARY to the path of libquillonlib.so.1.")


lib = _load()
for _name, (_result, _arguments) in _PROTOTYPES.items():
    _function = getattr(lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments


def last_text():
    text = lib.getLastException()
    return text.decode("utf-8", "replace") if text else CODE_TEXTS[0]


def clear_last_error():
    """Stores "no error" as the last failure, for calls that fail without
    storing a code of their own."""
    low, high = _c.c_uint(), _c.c_uint()
    lib.getPatternsRange(_c.byref(low), _c.byref(high))
