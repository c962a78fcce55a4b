"""Exceptions raised by the package, and the library's result codes.

Every failure carries the ``quillon_result`` value the library returned
(``code``) and its text (``text``), both as the library gives them.
"""

# The quillon_result values (quillon.h).
OK = 0
NOT_FOUND = 1
BUSY = 2
ACCESS_DENIED = 3
TIMEOUT = 4
DISCONNECTED = 5
REFUSED = 6
INVALID_ARGUMENT = 7
BUFFER_TOO_SMALL = 8
CANCELLED = 9
NO_HID_LAYER = 10
NO_MEMORY = 11
NO_CONFIGURATION = 12
BAD_DATA = 13
INCOMPLETE = 14


class QuillonError(Exception):
    """A failure the library reported: ``code`` is its quillon_result value,
    ``text`` the library's text of it."""

    def __init__(self, message, code=0, text=""):
        self.code = code
        self.text = text
        super().__init__(f"{message}: {text}" if text else message)


class NoModuleError(QuillonError):
    """No module is attached, or none at the index, path or serial asked for."""


class ModuleBusyError(QuillonError):
    """The module is open already: in this process, or in another one."""


class AccessDeniedError(QuillonError):
    """The system refused access to the module (see the udev rule)."""


class ModuleTimeoutError(QuillonError):
    """The module did not answer in time."""


class ScanCancelledError(QuillonError):
    """Spectrometer.cancel() stopped the scan."""


_CLASSES = {
    NOT_FOUND: NoModuleError,
    NO_HID_LAYER: NoModuleError,
    BUSY: ModuleBusyError,
    ACCESS_DENIED: AccessDeniedError,
    TIMEOUT: ModuleTimeoutError,
    CANCELLED: ScanCancelledError,
}


def error_for(message, code, text):
    """The exception for a failure with quillon_result ``code``."""
    return _CLASSES.get(code, QuillonError)(message, code, text)
