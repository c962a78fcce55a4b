"""quillon: a near-infrared spectrometer module from Python, over quillonlib.

    import quillon
    with quillon.Spectrometer() as sp:
        spectrum = sp.scan()
    print(spectrum.wavelengths, spectrum.intensities)

The shared library is found through QUILLONLIB_LIBRARY (a path to
libquillonlib.so.1), else beside the installed package, else by the dynamic
linker. QUILLONLIB_SIMULATOR=1 drives the simulated module instead of USB.
"""

from .configuration import (Configuration, Section, exposure_times, pattern_range,
                            pattern_widths, scan_types)
from .errors import (AccessDeniedError, ModuleBusyError, ModuleTimeoutError, NoModuleError,
                     QuillonError)
from .files import read_spectrum
from .spectrometer import Spectrometer, list_modules
from .spectrum import Spectrum

__all__ = [
    "AccessDeniedError", "Configuration", "ModuleBusyError", "ModuleTimeoutError",
    "NoModuleError", "QuillonError", "Section", "Spectrometer", "Spectrum", "exposure_times",
    "list_modules", "pattern_range", "pattern_widths", "read_spectrum", "scan_types",
]
