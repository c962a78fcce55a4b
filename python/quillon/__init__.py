"""quillon: a near-infrared spectrometer module from Python, over quillonlib.

    import quillon
    with quillon.Spectrometer() as sp:         # or Spectrometer(1), (path), (serial="A1")
        sp.activate("Hadamard 900-1700")
        spectrum = sp.scan()                   # Ctrl-C stops the scan at once
    print(spectrum.wavelengths, spectrum.intensities)

The shared library is found through QUILLONLIB_LIBRARY (a path to
libquillonlib.so.1), else beside the installed package, else by the dynamic
linker. QUILLONLIB_SIMULATOR=1 drives the simulated module instead of USB.
"""

from .configuration import (Configuration, Section, exposure_times, pattern_range,
                            pattern_widths, scan_types)
from .errors import (AccessDeniedError, ModuleBusyError, ModuleTimeoutError, NoModuleError,
                     QuillonError, ScanCancelledError)
from .files import read_spectrum
from .spectrometer import ModuleEntry, Spectrometer, list_modules
from .spectrum import Spectrum

__all__ = [
    "AccessDeniedError", "Configuration", "ModuleBusyError", "ModuleEntry", "ModuleTimeoutError",
    "NoModuleError", "QuillonError", "ScanCancelledError", "Section", "Spectrometer", "Spectrum",
    "exposure_times", "list_modules", "pattern_range", "pattern_widths", "read_spectrum",
    "scan_types",
]
