"""Quorlin: read live volumes as they were at one instant.

    import quorlin

    with quorlin.Snapshot(["/srv/db", "/home/mail"]) as snap:
        frozen = snap.path_of("/srv/db/state.sqlite")   # the file as it was at one instant
        ...
    # here the backup is complete and the snapshots are gone

A Snapshot takes one snapshot set of the volumes of its paths when the `with` block
begins (or at start()), and completes the backup, deleting the snapshots, when it ends
(or at complete()). Failures raise QuorlinError with the library's result and report
line. The library's trace lines go to the logger "quorlin": INFO gives the report
lines of failures and completions, DEBUG every step as well.

On Linux the paths lie on btrfs subvolumes and the process runs as root; on Windows it
runs as administrator. A Snapshot is used by one thread at a time.
"""

import logging
import os
import sys
from ctypes import byref, c_char_p, c_size_t, create_string_buffer

from . import _capi
from ._capi import (
    BACKUP_FULL,
    BACKUP_INCREMENTAL,
    BUFFER_TOO_SMALL,
    FAILED,
    LIBRARY_PATH,
    OK,
    REFUSED,
    WRONG_SEQUENCE,
)

__all__ = [
    "Snapshot",
    "QuorlinError",
    "library_version",
    "LIBRARY_PATH",
    "OK",
    "FAILED",
    "BUFFER_TOO_SMALL",
    "WRONG_SEQUENCE",
    "REFUSED",
    "TIMEOUT",
]
__version__ = "1.1.0"

# QuorlinError.code of a step that ran past the limit of Snapshot.set_timeout:
# HRESULT_FROM_WIN32(ERROR_TIMEOUT).
TIMEOUT = 0x800705B4
# The longest limit the library takes: its milliseconds fit a C int.
_LONGEST_TIMEOUT_S = 2147483

logger = logging.getLogger("quorlin")
_lib = _capi.lib


def library_version():
    """The loaded library's version, "1.1.0" style."""
    return _lib.quorlin_version().decode("ascii")


class QuorlinError(Exception):
    """A call of the library failed or was refused.

    result: FAILED (the backup was cleaned up), WRONG_SEQUENCE or REFUSED
    report: the library's report line, e.g. "There was a COM failure 0x8004230c -
            .\\QuorlinClass (505)" ("" when it had none)
    code, site: a COM failure's error code and site (0 otherwise)
    """

    def __init__(self, result, report="", code=0, site=0):
        self.result = result
        self.report = report
        self.code = code
        self.site = site
        text = _lib.quorlin_result_text(result).decode("utf-8")
        super().__init__("%s (result %d: %s)" % (report, result, text) if report else
                         "result %d: %s" % (result, text))


# The trace callback is process-wide in the library: one for the whole interpreter,
# kept alive here for as long as the library may call it.
_line_level = logging.INFO


def _log_line(_context, line):
    logger.log(_line_level, "%s", line.decode("utf-8", "replace"))


_trace_callback = _capi.TraceCallback(_log_line)


def _verbosity():
    """The library's verbosity for what the logger lets through, and the level of its lines."""
    if logger.isEnabledFor(logging.DEBUG):
        return _capi.TRACE_SERVICE_STEPS, logging.DEBUG
    if logger.isEnabledFor(logging.INFO):
        return _capi.TRACE_OUTCOMES, logging.INFO
    return _capi.TRACE_NONE, logging.INFO


def _encoded(path):
    """A path as the library takes it: UTF-8 bytes, without NUL. On POSIX, where names are
    bytes, any bytes: a str carries those that are not UTF-8 as U+DC80-U+DCFF, as
    os.fsdecode makes them ("surrogateescape"), which is the library's own mapping."""
    if isinstance(path, (str, bytes, os.PathLike)):
        path = os.fspath(path)
    else:
        raise TypeError("a path must be str, bytes or os.PathLike, not %s" % type(path).__name__)
    names_are_bytes = os.name != "nt"
    if isinstance(path, bytes):
        encoded = path
    else:
        try:
            encoded = path.encode("utf-8", "surrogateescape" if names_are_bytes else "strict")
        except UnicodeEncodeError:
            raise ValueError("path is not UTF-8: %r" % path) from None
    if not encoded or b"\0" in encoded:
        raise ValueError("path is empty or holds a NUL: %r" % path)
    if not names_are_bytes:
        try:
            encoded.decode("utf-8")
        except UnicodeDecodeError:
            raise ValueError("path is not UTF-8: %r" % path) from None
    return encoded


def _initialise_com():
    """COM on this thread, as the library needs it on Windows before a start call."""
    if sys.platform == "win32":
        import ctypes

        ctypes.windll.ole32.CoInitializeEx(None, 0)  # COINIT_MULTITHREADED; S_FALSE is fine


class Snapshot:
    """One snapshot set of the volumes of `paths` (a path, or a list of paths).

    writers=False snapshots a single path without involving the writers, in a
    persistent context (it survives the process until completed). incremental=True
    asks the writers for an incremental backup.
    """

    def __init__(self, paths, writers=True, incremental=False):
        if isinstance(paths, (str, bytes, os.PathLike)):
            paths = [paths]
        self._sources = [os.fspath(path) if isinstance(path, os.PathLike) else path
                         for path in paths]
        self._encoded = [_encoded(path) for path in self._sources]
        if not self._encoded:
            raise ValueError("a Snapshot needs at least one path")
        if not writers and len(self._encoded) != 1:
            raise ValueError("a Snapshot without writers takes exactly one path")
        self._writers = writers
        self._incremental = incremental
        self._timeout_ms = 0
        self._agent = None
        self._snapshots = []

    # --- the backup ---

    def set_timeout(self, seconds):
        """Limits each step that start() and complete() wait for (the writers, the snapshot
        itself) to `seconds`; None or 0: no limit, the default. A step that runs past it is
        cancelled and raises QuorlinError with code TIMEOUT (the snapshots are deleted).
        Takes effect at the next start()."""
        if seconds is None:
            seconds = 0
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
            raise TypeError("seconds must be a number, not %s" % type(seconds).__name__)
        if not 0 <= seconds <= _LONGEST_TIMEOUT_S:
            raise ValueError("seconds must lie between 0 and %d" % _LONGEST_TIMEOUT_S)
        self._timeout_ms = int(round(seconds * 1000))
        if seconds > 0 and self._timeout_ms == 0:
            self._timeout_ms = 1

    def start(self):
        """Takes the snapshots. Raises QuorlinError when the library fails or refuses."""
        if self._agent is not None:
            raise RuntimeError("this Snapshot is already started")
        _initialise_com()
        agent = _lib.quorlin_agent_new()
        if not agent:
            raise MemoryError("quorlin_agent_new")
        try:
            self._start(agent)
        except BaseException:
            _lib.quorlin_agent_free(agent)  # completes whatever is held
            raise
        self._agent = agent

    def _start(self, agent):
        global _line_level
        verbosity, _line_level = _verbosity()
        _lib.quorlin_set_verbosity(agent, verbosity)
        _lib.quorlin_set_trace_callback(agent, _trace_callback, None)
        _lib.quorlin_set_backup_type(
            agent, BACKUP_INCREMENTAL if self._incremental else BACKUP_FULL)
        _lib.quorlin_set_timeout(agent, self._timeout_ms)
        if len(self._encoded) > 1:
            paths = (c_char_p * len(self._encoded))(*self._encoded)
            result = _lib.quorlin_start_multi(agent, paths, len(self._encoded), None, None, None)
        elif self._writers:
            result = _lib.quorlin_start(agent, self._encoded[0], None, 0, None)
        else:
            result = _lib.quorlin_start_no_writers(agent, self._encoded[0], None, 0, None)
        _check(agent, result)
        self._snapshots = [_snapshot_path(agent, i) for i in range(len(self._encoded))]

    def complete(self):
        """Ends the backup and deletes the snapshots. Raises QuorlinError when completion fails
        (the snapshots are deleted all the same)."""
        agent, self._agent = self._agent, None
        self._snapshots = []
        if agent is None:
            return
        try:
            _check(agent, _lib.quorlin_complete(agent))
        finally:
            _lib.quorlin_agent_free(agent)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, exc_type, exc, traceback):
        try:
            self.complete()
        except QuorlinError:
            if exc_type is None:
                raise
            # The block's own exception says more; the snapshots are deleted all the same.
        return False

    def __del__(self):
        agent, self._agent = getattr(self, "_agent", None), None
        if agent is not None and _lib is not None:
            _lib.quorlin_agent_free(agent)

    # --- the snapshot paths ---

    @property
    def paths(self):
        """{source path: snapshot path} for the paths given, while the backup is held."""
        self._require_started()
        return dict(zip(self._sources, self._snapshots))

    def path_of(self, path):
        """Where `path` (one of the paths given, or anything below one) is in the snapshot."""
        self._require_started()
        target = os.path.abspath(os.fsdecode(path))
        best = None
        for source, snapshot in zip(self._sources, self._snapshots):
            root = os.path.abspath(os.fsdecode(source))
            try:
                inside = os.path.commonpath([root, target]) == root
            except ValueError:  # different drives
                inside = False
            if inside and (best is None or len(root) > len(best[0])):
                best = (root, snapshot)
        if best is None:
            raise ValueError("%s is not below any path of this snapshot" % path)
        root, snapshot = best
        rest = os.path.relpath(target, root)
        return snapshot if rest == os.curdir else os.path.join(snapshot, rest)

    @property
    def instant(self):
        """What the held set is: {"file_systems", "one_transaction" (how many of them came out
        as one instant), "whole_set", "tries", "window_ms"}."""
        self._require_started()
        instant = _capi.SetInstant()
        _check(self._agent, _lib.quorlin_describe_set(self._agent, byref(instant)))
        return {name: getattr(instant, name) for name, _ in instant._fields_}

    def _require_started(self):
        if self._agent is None:
            raise RuntimeError("this Snapshot holds no backup (not started, or completed)")


def _check(agent, result):
    if result != OK:
        raise QuorlinError(result, _lib.quorlin_last_report(agent).decode("utf-8", "replace"),
                           _lib.quorlin_last_error_code(agent), _lib.quorlin_last_error_site(agent))


def _snapshot_path(agent, index):
    """Held snapshot path `index`, fetched in a buffer of the size it needs."""
    needed = c_size_t(0)
    _check(agent, _lib.quorlin_snapshot_path(agent, index, None, 0, byref(needed)))
    buffer = create_string_buffer(needed.value)
    _check(agent, _lib.quorlin_snapshot_path(agent, index, buffer, needed.value, None))
    return buffer.value.decode("utf-8", "surrogateescape")
