"""Finding and loading libquillonlib, and the prototypes of its functions:
the quillon_* functions of quillon.h, through which modules are driven, and
the exports of quillonlib.h behind the fixed tables.

The 29 exports keep one session per process, so every sequence of them that
belongs together runs under ``LOCK``; quillon.h modules need no lock here.
"""

import ctypes
import os
import threading


LIBRARY_NAME = "libquillonlib.so.1"

LOCK = threading.RLock()

_c = ctypes
_uint = _c.c_uint
_uint_p = _c.POINTER(_c.c_uint)
_ushort_p = _c.POINTER(_c.c_ushort)
_double_p = _c.POINTER(_c.c_double)

class ModuleInfo(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char * 256), ("serial", ctypes.c_char * 64)]


class SectionStruct(ctypes.Structure):
    _fields_ = [("scan_type", ctypes.c_int), ("width_nm", ctypes.c_double),
                ("start_nm", ctypes.c_uint16), ("end_nm", ctypes.c_uint16),
                ("patterns", ctypes.c_uint16), ("exposure_ms", ctypes.c_double)]


class StoredConfig(ctypes.Structure):
    """quillon_stored_config of quillon.h."""
    _fields_ = [("name", ctypes.c_char_p), ("sections", ctypes.POINTER(SectionStruct)),
                ("section_count", ctypes.c_size_t), ("repeats", ctypes.c_uint16),
                ("record", ctypes.POINTER(ctypes.c_uint8)), ("record_length", ctypes.c_size_t)]


_module = ctypes.c_void_p
_size_p = ctypes.POINTER(ctypes.c_size_t)
_result = ctypes.c_int

# name: (result type, argument types)
_PROTOTYPES = {
    "quillon_result_text": (ctypes.c_char_p, [_result]),
    "quillon_list": (_result, [ctypes.POINTER(ModuleInfo), ctypes.c_size_t, _size_p]),
    "quillon_open": (_result, [ctypes.c_char_p, ctypes.POINTER(_module)]),
    "quillon_close": (None, [_module]),
    "quillon_module_identity": (_result, [_module, ctypes.POINTER(ModuleInfo)]),
    "quillon_versions": (_result, [_module, ctypes.POINTER(ctypes.c_uint32)]),
    "quillon_config_count": (_result, [_module, _size_p]),
    "quillon_config_name": (_result, [_module, ctypes.c_size_t, ctypes.c_char_p,
                                      ctypes.c_size_t]),
    "quillon_config_sections": (_result, [_module, ctypes.c_size_t,
                                          ctypes.POINTER(SectionStruct), ctypes.c_size_t, _size_p,
                                          ctypes.POINTER(ctypes.c_uint16)]),
    "quillon_config_add": (_result, [_module, ctypes.c_char_p, ctypes.POINTER(SectionStruct),
                                     ctypes.c_size_t, ctypes.c_uint16, _size_p, ctypes.c_char_p,
                                     ctypes.c_size_t]),
    "quillon_config_remove": (_result, [_module, ctypes.c_size_t]),
    "quillon_active_get": (_result, [_module, _size_p]),
    "quillon_config_record": (_result, [_module, ctypes.c_size_t, ctypes.POINTER(ctypes.c_uint8),
                                        ctypes.c_size_t, _size_p]),
    "quillon_configs_store": (_result, [_module, ctypes.POINTER(StoredConfig), ctypes.c_size_t,
                                        ctypes.c_int, ctypes.c_size_t, ctypes.c_char_p,
                                        ctypes.c_size_t]),
    "quillon_active_set": (_result, [_module, ctypes.c_size_t]),
    "quillon_point_count": (_result, [_module, _size_p]),
    "quillon_estimated_scan_time": (_result, [_module, ctypes.POINTER(ctypes.c_uint32)]),
    "quillon_max_patterns": (_result, [_module, ctypes.c_int, ctypes.c_uint16, ctypes.c_uint16,
                                       ctypes.c_double, ctypes.POINTER(ctypes.c_uint32)]),
    "quillon_lamp_set": (_result, [_module, ctypes.c_int]),
    "quillon_scan": (_result, [_module, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                               _size_p]),
    "quillon_cancel": (_result, [_module]),
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


def result_text(result):
    """The library's text of a quillon_result."""
    return lib.quillon_result_text(result).decode("utf-8", "replace")
