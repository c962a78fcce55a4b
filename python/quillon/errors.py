"""Exceptions raised by the package, and the library's failure codes.

The library reports a failure as a result of -1 and a text that
``getLastException()`` returns; it has no call that hands out the code
itself. The code is therefore found from the text, which is unique per code.
"""

# The library's failure codes and their texts.
CODE_TEXTS = {
    0: "no error",
    101001: "Input/output error",
    101002: "Invalid parameter",
    101003: "Access denied (insufficient permissions)",
    101004: "No such device (it may have been disconnected)",
    101005: "Entity not found",
    101006: "Resource busy",
    101007: "Operation timed out",
    101008: "Overflow",
    101009: "Pipe error",
    101010: "System call interrupted (perhaps due to signal)",
    101011: "USB insufficient memory",
    101012: "Operation not supported or unimplemented on this platform",
    102001: "device index error",
    102002: "device not found",
    102003: "device handle error",
    102004: "device pointer error",
    102005: "device param[in] error",
    102006: "device param[out] error",
    102007: "device return error",
    102008: "NIR insufficient memory",
}
_CODES_BY_TEXT = {text: code for code, text in CODE_TEXTS.items()}

NO_SUCH_DEVICE = 101004
ENTITY_NOT_FOUND = 101005
INVALID_PARAMETER = 101002
ACCESS_DENIED = 101003
RESOURCE_BUSY = 101006
TIMED_OUT = 101007


class QuillonError(Exception):
    """A failure the library reported. ``code`` is its failure code (0 when
    the library stored none for this failure), ``text`` the library's text."""

    def __init__(self, message, code=0, text=None):
        self.code = code
        self.text = CODE_TEXTS.get(code, "unknow") if text is None else text
        detail = f"{message}: {self.text}" if self.text and self.text != "no error" else message
        super().__init__(detail)


class NoModuleError(QuillonError):
    """No module is attached, or none at the index asked for."""


class ModuleBusyError(QuillonError):
    """The module is open already: in this process, or in another one."""


class AccessDeniedError(QuillonError):
    """The system refused access to the module (see the udev rule)."""


class ModuleTimeoutError(QuillonError):
    """The module did not answer in time."""


_CLASSES = {
    NO_SUCH_DEVICE: NoModuleError,
    ENTITY_NOT_FOUND: NoModuleError,
    RESOURCE_BUSY: ModuleBusyError,
    ACCESS_DENIED: AccessDeniedError,
    TIMED_OUT: ModuleTimeoutError,
}


def code_of(text):
    """The failure code whose text is ``text``; -1 for "unknow"."""
    return _CODES_BY_TEXT.get(text, -1)


def error_for(message, text):
    """The exception for a failure whose library text is ``text``."""
    code = code_of(text)
    return _CLASSES.get(code, QuillonError)(message, code, text)


# Negative results of the calls that hand back the link's own result instead
# of storing a failure code, as the failure code that says the same.
_LINK_CODES = {-1: 101001, -2: 102007, -3: 102007, -4: TIMED_OUT}


def link_error(message, result):
    code = _LINK_CODES.get(result, 102007)
    return _CLASSES.get(code, QuillonError)(message, code)
