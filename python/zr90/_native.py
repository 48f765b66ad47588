"""The C interface of libzr90 as ctypes sees it: the library found and loaded, its
structures and its functions' signatures. Mirrors zr90.h."""

from __future__ import annotations

import ctypes
import os
from typing import List, Optional

c_char_p = ctypes.c_char_p
c_int = ctypes.c_int
c_int64 = ctypes.c_int64
c_uint8 = ctypes.c_uint8
c_size_t = ctypes.c_size_t
c_void_p = ctypes.c_void_p

OK = 0
ARGUMENT = 1
UNKNOWN_NAME = 2
BAD_VALUE = 3
CONFIG = 4
OPEN = 5
TIMEOUT = 6
CORRUPT = 7
MODULE = 8
UNSUPPORTED = 9
NONVOLATILE = 10
CANCELLED = 11
NOT_STARTED = 12
MISMATCH = 13
SETTINGS = 14
FILE = 15
NO_MEMORY = 16


class Error(ctypes.Structure):
    _fields_ = [("code", c_int), ("axis", c_int), ("name", ctypes.c_char * 64),
                ("message", ctypes.c_char * 1024), ("line", c_int), ("column", c_int)]


class Options(ctypes.Structure):
    _fields_ = [("interface_kind", c_char_p), ("protocol", c_char_p), ("port", c_char_p), ("baud", c_char_p),
                ("baud_mul", c_char_p), ("ip", c_char_p), ("link", c_char_p), ("channels", c_uint8)]


class Reading(ctypes.Structure):
    _fields_ = [("code", c_int), ("axis", c_uint8), ("value", c_int64)]


class Assignment(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("value", c_char_p)]


class Write(ctypes.Structure):
    _fields_ = [("code", c_int), ("axis", c_uint8), ("written", c_int), ("read_back", c_int64)]


class FaultWord(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("role", c_int), ("value", ctypes.c_uint16), ("shows_fault", c_int),
                ("bits", ctypes.c_char * 512)]


class Faults(ctypes.Structure):
    _fields_ = [("count", c_size_t), ("words", FaultWord * 4), ("any_fault", c_int)]


class Parameter(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("address", ctypes.c_uint16), ("type", c_char_p), ("memory", c_char_p),
                ("width", c_int), ("is_signed", c_int), ("lowest", c_int64), ("highest", ctypes.c_uint64)]


class Setting(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("ram", c_int), ("value", c_int64)]


class Difference(ctypes.Structure):
    _fields_ = [("axis", c_uint8), ("name", c_char_p), ("in_a", c_int), ("in_b", c_int), ("a", c_int64),
                ("b", c_int64)]


class Change(ctypes.Structure):
    _fields_ = [("axis", c_uint8), ("name", c_char_p), ("old_value", c_int64), ("new_value", c_int64),
                ("outcome", c_int)]


class RestoreOptions(ctypes.Structure):
    _fields_ = [("axes", ctypes.POINTER(c_uint8)), ("axis_count", c_size_t), ("from_axis", c_int),
                ("dry_run", c_int), ("backup_dir", c_char_p)]


P = ctypes.POINTER
_SIGNATURES = {
    "zr90_version": (c_char_p, []),
    "zr90_code_name": (c_char_p, [c_int]),
    "zr90_open": (c_int, [P(Options), P(c_void_p), P(Error)]),
    "zr90_link_new": (c_void_p, []),
    "zr90_link_open": (c_int, [c_void_p, P(Options), P(Error)]),
    "zr90_close": (None, [c_void_p]),
    "zr90_cancel": (None, [c_void_p]),
    "zr90_clear_cancel": (None, [c_void_p]),
    "zr90_description": (c_char_p, [c_void_p]),
    "zr90_notices": (c_char_p, [c_void_p]),
    "zr90_axis_count": (ctypes.c_uint, [c_void_p]),
    "zr90_not_started": (c_uint8, [c_void_p]),
    "zr90_get": (c_int, [c_void_p, c_char_p, ctypes.c_uint, P(c_int64), P(Error)]),
    "zr90_get_many": (c_int, [c_void_p, P(c_char_p), c_size_t, P(c_uint8), c_size_t, P(Reading), P(Error)]),
    "zr90_set_many": (c_int, [c_void_p, P(Assignment), c_size_t, P(c_uint8), c_size_t, c_int, P(Write), P(Error)]),
    "zr90_read_faults": (c_int, [c_void_p, ctypes.c_uint, P(Faults), P(Error)]),
    "zr90_parameter_count": (c_size_t, []),
    "zr90_parameter_at": (c_int, [c_size_t, P(Parameter)]),
    "zr90_parameter_info": (c_int, [c_char_p, P(Parameter), P(Error)]),
    "zr90_save": (c_int, [c_void_p, P(c_uint8), c_size_t, c_int, P(c_void_p), P(Error)]),
    "zr90_save_like": (c_int, [c_void_p, c_void_p, P(c_void_p), P(Error)]),
    "zr90_settings_load": (c_int, [c_char_p, P(c_void_p), P(Error)]),
    "zr90_settings_write": (c_int, [c_void_p, c_char_p, P(Error)]),
    "zr90_settings_free": (None, [c_void_p]),
    "zr90_settings_axes": (c_size_t, [c_void_p, P(c_uint8)]),
    "zr90_settings_count": (c_size_t, [c_void_p, ctypes.c_uint]),
    "zr90_settings_at": (c_int, [c_void_p, ctypes.c_uint, c_size_t, P(Setting)]),
    "zr90_diff": (c_int, [c_void_p, c_void_p, P(P(Difference)), P(c_size_t), P(Error)]),
    "zr90_restore": (c_int, [c_void_p, c_void_p, P(RestoreOptions), P(P(Change)), P(c_size_t), c_char_p, c_size_t,
                             P(Error)]),
    "zr90_free": (None, [c_void_p]),
}


def _candidates() -> List[str]:
    """Where the library is looked for, in order: beside the package (a build or a
    copied tree), the library folder of the prefix the package is installed under,
    the folder of the Windows zip, then the system's loader by name."""
    here = os.path.dirname(os.path.abspath(__file__))
    names = ["zr90.dll"] if os.name == "nt" else ["libzr90.so.1", "libzr90.so"]
    folders = [here, os.path.join(here, "..", "..", ".."), os.path.join(here, "..", "..")]
    paths = [os.path.normpath(os.path.join(folder, name)) for folder in folders for name in names]
    return [path for path in paths if os.path.isfile(path)] + names


def load() -> ctypes.CDLL:
    tried: List[str] = []
    library: Optional[ctypes.CDLL] = None
    for candidate in _candidates():
        try:
            library = ctypes.CDLL(candidate)
            break
        except OSError as error:
            tried.append(f"{candidate}: {error}")
    if library is None and os.environ.get("ZR90_LIBRARY"):
        try:
            library = ctypes.CDLL(os.environ["ZR90_LIBRARY"])
        except OSError as error:
            tried.append(f"ZR90_LIBRARY={os.environ['ZR90_LIBRARY']}: {error}")
    if library is None:
        raise ImportError("libzr90 was not found; set ZR90_LIBRARY to its path. Tried: " + "; ".join(tried))
    for name, (result, arguments) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


lib = load()
