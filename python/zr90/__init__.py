"""ZR90 drives from Python: read, write, watch, fault words, settings files.

A thin layer over libzr90 (the C library of the ZR90 service tools), so that a
script does what `zr90` does, with the same link options and the same checks::

    import zr90

    with zr90.Link(interface="EZAL16", ip="10.0.0.2") as link:
        print(link.get("kqp"))                      # 1200
        link.set({"kqp": 1300}, axes=[0, 1])         # written and read back
        settings = link.save()                       # every EEPROM setting
        settings.write("drive.json")

Axes are given as one axis (``2``), an iterable (``[0, 2]``) or ``"all"`` (every
axis the link reaches). A failure raises LinkError (the link), AccessError (an
access, with its axis and parameter), SettingsError (a file, with its line and
column) or ValueRefused (a name, value or axis refused before anything was sent).
Ctrl-C during a wait for the drives raises KeyboardInterrupt within 100 ms.
"""

from __future__ import annotations

import ctypes
import math
import os
import signal
import socket
import threading
import time
from dataclasses import dataclass
from typing import Dict, Iterable, Iterator, List, Mapping, Optional, Sequence, Union

from . import _native as native
from ._native import lib

__all__ = ["Link", "Settings", "Parameter", "FaultWord", "Faults", "Difference", "Change", "Sample", "Error",
           "LinkError", "AccessError", "SettingsError", "ValueRefused", "Cancelled", "parameter", "parameters",
           "version"]

Axes = Union[int, Iterable[int], str]
Names = Union[str, Iterable[str]]
Value = Union[int, float, str]


def version() -> str:
    """The version of libzr90, "1.0"."""
    return lib.zr90_version().decode()


# ---- Exceptions -----------------------------------------------------------------


class Error(Exception):
    """A failure of libzr90: .code (its number), .code_name, .axis and .name (None
    when it concerns no axis or parameter) and .message."""

    def __init__(self, code: int, message: str, axis: Optional[int] = None, name: Optional[str] = None) -> None:
        self.code = code
        self.code_name = lib.zr90_code_name(code).decode()
        self.message = message
        self.axis = axis
        self.name = name
        super().__init__(self._text())

    def _text(self) -> str:
        where = f"axis {self.axis}: " if self.axis is not None else ""
        what = f"{self.name}: " if self.name and self.name not in self.message else ""
        return where + what + self.message


class LinkError(Error):
    """The link could not be opened or its settings are wrong."""


class AccessError(Error):
    """An access to a drive failed: no answer, a corrupt one, a value that read back
    different, a channel without a drive. .axis and .name say where. A restore
    that did not verify every change keeps the outcomes in .changes."""

    changes: List["Change"] = []


class SettingsError(Error):
    """A settings file refused, or one that cannot be written: .file, and .line and
    .column where the file is at fault (None when not known)."""

    def __init__(self, code: int, message: str, file: Optional[str], line: int, column: int) -> None:
        super().__init__(code, message)
        self.file = file
        self.line = line or None
        self.column = column or None


class ValueRefused(Error, ValueError):
    """An unknown parameter, a value its type cannot hold, an axis out of reach:
    refused before anything was sent."""


class Cancelled(Error):
    """Link.cancel() ended the call."""


_LINK_CODES = {native.CONFIG, native.OPEN}
_REFUSED_CODES = {native.ARGUMENT, native.UNKNOWN_NAME, native.BAD_VALUE}


def _raise(error: native.Error, file: Optional[str] = None) -> None:
    code = error.code
    message = error.message.decode(errors="replace")
    axis = error.axis if error.axis >= 0 else None
    name = error.name.decode() or None
    if code in (native.SETTINGS, native.FILE):
        raise SettingsError(code, message, file, error.line, error.column)
    if code in _REFUSED_CODES:
        raise ValueRefused(code, message, axis, name)
    if code == native.CANCELLED:
        raise Cancelled(code, message, axis, name)
    if code in _LINK_CODES and axis is None:
        raise LinkError(code, message, axis, name)
    raise AccessError(code, message, axis, name)


# ---- Ctrl-C -----------------------------------------------------------------------


class _Interrupts:
    """Turns Ctrl-C during a call into zr90_cancel on the link that waits.

    While a call runs in C, Python's own handler cannot run; the signal's number
    is written to the wakeup socket instead, and a thread of ours that waits on it
    cancels the link. Once the call has returned, Python's handler raises
    KeyboardInterrupt as usual. Only the main thread gets signals, so only its
    calls are watched; a wakeup socket set by the program (asyncio's) is told too."""

    def __init__(self) -> None:
        self._reader, self._writer = socket.socketpair()
        self._writer.setblocking(False)
        self._waiting: Optional[int] = None  # the handle of the call in progress
        self._forward = -1
        self._to_clear: set = set()
        self._main = threading.main_thread().ident
        threading.Thread(target=self._watch, name="zr90-interrupts", daemon=True).start()

    def _watch(self) -> None:
        while True:
            data = self._reader.recv(64)
            if not data:
                return
            if self._forward >= 0:
                try:
                    os.write(self._forward, data)
                except OSError:
                    pass
            handle = self._waiting
            if handle is not None and signal.SIGINT in data:
                self.cancelled(handle)

    def cancelled(self, handle: int) -> None:
        """Cancels the link's wait; its next call starts afresh."""
        self._to_clear.add(handle)
        lib.zr90_cancel(handle)

    def call(self, handle: int, function, *arguments) -> int:
        # Only a link that was cancelled needs clearing: a call less on every read.
        if handle in self._to_clear:
            self._to_clear.discard(handle)
            lib.zr90_clear_cancel(handle)
        if threading.get_ident() != self._main:
            return function(*arguments)
        previous = signal.set_wakeup_fd(self._writer.fileno(), warn_on_full_buffer=False)
        # A call made from within another one (a signal handler's) must not forward to itself.
        self._forward = previous if previous != self._writer.fileno() else -1
        self._waiting = handle
        try:
            return function(*arguments)
        finally:
            self._waiting = None
            signal.set_wakeup_fd(previous)


_interrupts: Optional[_Interrupts] = None
_interrupts_made = threading.Lock()


def _watched() -> _Interrupts:
    global _interrupts
    if _interrupts is None:
        with _interrupts_made:
            if _interrupts is None:
                _interrupts = _Interrupts()
    return _interrupts


# ---- Parameters -------------------------------------------------------------------


@dataclass(frozen=True)
class Parameter:
    """A parameter of the drive's dictionary. memory is "ram", "eeprom" or None (no
    value in the drive); width is the bytes of its one access (0: no single value);
    lowest and highest bound the decimal values a write takes."""

    name: str
    address: int
    type: str
    memory: Optional[str]
    width: int
    signed: bool
    lowest: int
    highest: int


def _parameter(row: native.Parameter) -> Parameter:
    return Parameter(row.name.decode(), row.address, row.type.decode(), row.memory.decode() or None, row.width,
                     bool(row.is_signed), row.lowest, row.highest)


def parameters() -> List[Parameter]:
    """Every parameter of the dictionary, in its order."""
    rows = []
    for index in range(lib.zr90_parameter_count()):
        row = native.Parameter()
        lib.zr90_parameter_at(index, ctypes.byref(row))
        rows.append(_parameter(row))
    return rows


def parameter(name: str) -> Parameter:
    """One parameter by name (any letter case, "name+offset" allowed)."""
    row = native.Parameter()
    error = native.Error()
    if lib.zr90_parameter_info(name.encode(), ctypes.byref(row), ctypes.byref(error)) != native.OK:
        _raise(error)
    return _parameter(row)


# ---- Results ----------------------------------------------------------------------


@dataclass(frozen=True)
class FaultWord:
    """One fault or status word: role is "faults", "mask" or "status"; bits names the
    bits set (for the mask, the faults it leaves out)."""

    name: str
    role: str
    value: int
    bits: List[str]
    shows_fault: bool


@dataclass(frozen=True)
class Faults:
    """The fault and status words of one axis; any is True when a drive has a fault."""

    axis: int
    words: Dict[str, FaultWord]
    any: bool


@dataclass(frozen=True)
class Difference:
    """A setting in which two sides differ; None where that side lacks it."""

    axis: int
    name: str
    a: Optional[int]
    b: Optional[int]


_OUTCOMES = ["planned", "verified", "differs", "unconfirmed", "not written", "overwritten"]


@dataclass(frozen=True)
class Change:
    """A setting a restore changes, and what came of it: "planned" (dry run),
    "verified", "differs", "unconfirmed", "not written" or "overwritten"."""

    axis: int
    name: str
    old: int
    new: int
    outcome: str


@dataclass(frozen=True)
class Sample:
    """One round of a watch: ms since the first, and the values as get gives them."""

    ms: float
    values: object


def _axes_list(axes: Axes, reach: int) -> List[int]:
    if isinstance(axes, str):
        if axes != "all":
            raise ValueRefused(native.ARGUMENT, f'axes are a number, a list or "all", not "{axes}"')
        return list(range(reach))
    if isinstance(axes, int):
        return [axes]
    chosen = sorted(set(int(axis) for axis in axes))
    if not chosen:
        raise ValueRefused(native.ARGUMENT, "no axis given")
    return chosen


def _value_text(value: Value) -> bytes:
    if isinstance(value, bool):
        value = int(value)
    if isinstance(value, float) and not math.isfinite(value):
        raise ValueRefused(native.BAD_VALUE, f"{value} is not a number a drive holds")
    return str(value).encode()


def _uint8_array(values: Sequence[int]):
    return (ctypes.c_uint8 * len(values))(*values)


# ---- Settings ---------------------------------------------------------------------


class Settings:
    """A drive's settings per axis: taken from the drives (Link.save), read from a
    file (Settings.load), written to one, compared, restored. settings[axis] is a
    dict name -> value (EEPROM settings, then RAM values when saved with them)."""

    def __init__(self, handle: int, source: Optional[str] = None) -> None:
        self._handle = handle
        self.source = source

    @classmethod
    def load(cls, path: Union[str, os.PathLike]) -> "Settings":
        """A settings file read and checked whole (SettingsError with its line and column)."""
        handle = ctypes.c_void_p()
        error = native.Error()
        text = os.fspath(path)
        if lib.zr90_settings_load(text.encode(), ctypes.byref(handle), ctypes.byref(error)) != native.OK:
            _raise(error, text)
        return cls(handle.value, text)

    def write(self, path: Union[str, os.PathLike]) -> None:
        """Writes the settings as a file, replacing one there at once (never half written)."""
        error = native.Error()
        text = os.fspath(path)
        if lib.zr90_settings_write(self._handle, text.encode(), ctypes.byref(error)) != native.OK:
            _raise(error, text)

    @property
    def axes(self) -> List[int]:
        found = (ctypes.c_uint8 * 8)()
        return list(found[: lib.zr90_settings_axes(self._handle, found)])

    def __getitem__(self, axis: int) -> Dict[str, int]:
        if axis not in self.axes:
            raise KeyError(axis)
        values: Dict[str, int] = {}
        setting = native.Setting()
        for index in range(lib.zr90_settings_count(self._handle, axis)):
            lib.zr90_settings_at(self._handle, axis, index, ctypes.byref(setting))
            values[setting.name.decode()] = setting.value
        return values

    def diff(self, other: Union["Settings", "Link"]) -> List[Difference]:
        """Every setting in which these settings and other differ. other is more
        settings, or a Link: the live drives of these settings' axes, compared on the
        settings these hold."""
        if isinstance(other, Link):
            other = other.save_like(self)
        found = ctypes.POINTER(native.Difference)()
        count = ctypes.c_size_t()
        error = native.Error()
        if lib.zr90_diff(self._handle, other._handle, ctypes.byref(found), ctypes.byref(count),
                         ctypes.byref(error)) != native.OK:
            _raise(error)
        try:
            return [Difference(d.axis, d.name.decode(), d.a if d.in_a else None, d.b if d.in_b else None)
                    for d in found[: count.value]]
        finally:
            lib.zr90_free(found)

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            lib.zr90_settings_free(self._handle)
            self._handle = None


# ---- Links ------------------------------------------------------------------------


class Link:
    """A link to the drives, open until close() (or the end of a with block).

    What is not given is taken as zr90 takes it: from the environment (INTERFACE,
    PROTOCOL, COMPORT, BAUDRATE, BAUDRATEMUL, IPADDR), else the default; on a card
    the card's protocol. Link(interface="EZAL16", ip="10.0.0.2") reaches a card.
    link names a link of the user's links file (as zr90 --link; see zr90 links),
    which fills in what the other arguments leave out. channels (card links) is a bit per axis to start; all eight by default.
    Threads may share a link: their calls take turns."""

    def __init__(self, interface: Optional[str] = None, protocol: Optional[str] = None, port: Optional[str] = None,
                 baud: Optional[int] = None, baud_mul: Optional[float] = None, ip: Optional[str] = None,
                 link: Optional[str] = None, channels: int = 0) -> None:
        def text(value: object) -> Optional[bytes]:
            return None if value is None else str(value).encode()

        self._handle: Optional[int] = None
        self._turns = threading.RLock()
        #: Where the last restore kept the drives' own settings, if it made a backup.
        self.backup: Optional[str] = None
        options = native.Options(text(interface), text(protocol), text(port), text(baud), text(baud_mul), text(ip),
                                 text(link), channels)
        handle = lib.zr90_link_new()
        if not handle:
            raise MemoryError("libzr90: no memory for a link")
        self._interrupts = _watched()
        error = native.Error()
        # Opened on a handle of its own, so that Ctrl-C ends a slow open too.
        code = self._interrupts.call(handle, lib.zr90_link_open, handle, ctypes.byref(options), ctypes.byref(error))
        if code != native.OK:
            lib.zr90_close(handle)
            if error.code in _REFUSED_CODES or error.code == native.CANCELLED:
                _raise(error)
            raise LinkError(error.code, error.message.decode(errors="replace"))
        self._handle = handle

    @classmethod
    def from_environment(cls) -> "Link":
        """The link the environment names, as parmpeek and zr90 find it."""
        return cls()

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Closes the link once its call in progress has ended; later calls raise LinkError."""
        if self._handle is None:
            return
        with self._turns:
            if self._handle is not None:
                lib.zr90_close(self._handle)
                self._handle = None

    def __del__(self) -> None:
        self.close()

    def _open_handle(self) -> int:
        if self._handle is None:
            raise LinkError(native.OPEN, "the link is closed")
        return self._handle

    @property
    def description(self) -> str:
        """The link in words: "card 10.0.0.2 (UDP port 27181): SSZAL hardware found"."""
        return lib.zr90_description(self._open_handle()).decode()

    @property
    def notices(self) -> List[str]:
        """What the open had to say: defaults assumed, oddities of the hardware."""
        return lib.zr90_notices(self._open_handle()).decode().splitlines()

    @property
    def axis_count(self) -> int:
        """How many axes the link reaches: 1, or 8 on a card."""
        return lib.zr90_axis_count(self._open_handle())

    def cancel(self) -> None:
        """Ends the wait of the call in progress (from another thread); it raises Cancelled."""
        self._interrupts.cancelled(self._open_handle())

    def _call(self, function, *arguments) -> None:
        error = native.Error()
        # libzr90 takes one call on a link at a time: threads that share it take turns.
        with self._turns:
            handle = self._open_handle()
            code = self._interrupts.call(handle, function, handle, *arguments, ctypes.byref(error))
        if code != native.OK:
            _raise(error)

    def _axes(self, axes: Axes) -> List[int]:
        return _axes_list(axes, self.axis_count)

    def get(self, names: Names, axes: Axes = 0) -> object:
        """Reads parameters. One name on one axis gives its value; several names a
        dict name -> value; several axes (a list, "all") a dict axis -> that."""
        if isinstance(names, str) and isinstance(axes, int):
            value = ctypes.c_int64()
            self._call(lib.zr90_get, names.encode(), axes, ctypes.byref(value))
            return value.value
        name_list = [names] if isinstance(names, str) else list(names)
        axis_list = self._axes(axes)
        encoded = (ctypes.c_char_p * len(name_list))(*[name.encode() for name in name_list])
        readings = (native.Reading * (len(name_list) * len(axis_list)))()
        self._call(lib.zr90_get_many, encoded, len(name_list), _uint8_array(axis_list), len(axis_list), readings)
        per_axis: Dict[int, object] = {}
        for a, axis in enumerate(axis_list):
            values = {name: readings[n * len(axis_list) + a].value for n, name in enumerate(name_list)}
            per_axis[axis] = values[name_list[0]] if isinstance(names, str) else values
        return per_axis[axis_list[0]] if isinstance(axes, int) else per_axis

    def set(self, values: Mapping[str, Value], axes: Axes = 0, verify: bool = True) -> None:
        """Writes each value on each axis and, with verify, reads it back (AccessError
        when it reads back different). Values are numbers or text as zr90 set takes
        them ("0x4B0"); every one is checked before the first write."""
        items = list(values.items())
        axis_list = self._axes(axes)
        assignments = (native.Assignment * len(items))(*[(name.encode(), _value_text(value)) for name, value in items])
        self._call(lib.zr90_set_many, assignments, len(items), _uint8_array(axis_list), len(axis_list), int(verify),
                   None)

    def watch(self, names: Names, axes: Axes = 0, interval_ms: int = 100,
              count: Optional[int] = None) -> Iterator[Sample]:
        """Reads the names every interval_ms, count times (None: until the loop
        ends), each round a Sample with the values as get gives them."""
        start = time.monotonic()
        taken = 0
        while count is None or taken < count:
            due = start + taken * interval_ms / 1000.0
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            values = self.get(names, axes)
            yield Sample(round((time.monotonic() - start) * 1000.0, 3), values)
            taken += 1

    def faults(self, axes: Axes = 0) -> Union[Faults, Dict[int, Faults]]:
        """The fault and status words decoded: a Faults for one axis, a dict axis ->
        Faults for several."""
        found: Dict[int, Faults] = {}
        for axis in self._axes(axes):
            report = native.Faults()
            self._call(lib.zr90_read_faults, axis, ctypes.byref(report))
            words = {}
            for word in report.words[: report.count]:
                name = word.name.decode()
                words[name] = FaultWord(name, ["faults", "mask", "status"][word.role], word.value,
                                        word.bits.decode().split(), bool(word.shows_fault))
            found[axis] = Faults(axis, words, bool(report.any_fault))
        return found[axes] if isinstance(axes, int) else found

    def save(self, axes: Axes = "all", ram: bool = False) -> Settings:
        """Every EEPROM setting of the axes ("all": each axis whose drive answered
        when the link opened) and with ram the RAM values too."""
        handle = ctypes.c_void_p()
        if axes == "all":
            self._call(lib.zr90_save, None, 0, int(ram), ctypes.byref(handle))
        else:
            axis_list = self._axes(axes)
            self._call(lib.zr90_save, _uint8_array(axis_list), len(axis_list), int(ram), ctypes.byref(handle))
        return Settings(handle.value)

    def save_like(self, like: Settings) -> Settings:
        """The drives' settings as like holds them: its axes, its settings, RAM where it has RAM."""
        handle = ctypes.c_void_p()
        self._call(lib.zr90_save_like, like._handle, ctypes.byref(handle))
        return Settings(handle.value)

    def restore(self, settings: Settings, dry_run: bool = False, backup_dir: Optional[Union[str, os.PathLike]] = None,
                axes: Optional[Axes] = None, from_axis: Optional[int] = None) -> List[Change]:
        """Puts settings back into the drives: only what differs is written, each
        write read back. With backup_dir the drives' own settings are kept there
        first (NAME.before-YYYYMMDDTHHMMSS.json; see .backup). dry_run only plans.
        The changes with their outcomes; AccessError (with .changes) when one did not
        verify. from_axis copies that axis's settings onto every one of axes."""
        axis_list = None if axes is None else self._axes(axes)
        options = native.RestoreOptions(
            _uint8_array(axis_list) if axis_list else None, len(axis_list or []),
            -1 if from_axis is None else from_axis, int(dry_run),
            None if backup_dir is None else os.fspath(backup_dir).encode())
        found = ctypes.POINTER(native.Change)()
        count = ctypes.c_size_t()
        backup = ctypes.create_string_buffer(4096)
        error = native.Error()
        with self._turns:
            handle = self._open_handle()
            code = self._interrupts.call(handle, lib.zr90_restore, handle, settings._handle, ctypes.byref(options),
                                         ctypes.byref(found), ctypes.byref(count), backup, len(backup),
                                         ctypes.byref(error))
        try:
            changes = [Change(c.axis, c.name.decode(), c.old_value, c.new_value, _OUTCOMES[c.outcome])
                       for c in found[: count.value]]
        finally:
            lib.zr90_free(found)
        self.backup = backup.value.decode() or None
        if code != native.OK:
            try:
                _raise(error)
            except Error as failure:
                failure.changes = changes  # type: ignore[attr-defined]
                raise
        return changes
