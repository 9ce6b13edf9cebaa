"""Quorlin: read live volumes as they were at one instant.

    import quorlin

    with quorlin.Snapshot(["/srv/db", "/home/mail"]) as snap:
        frozen = snap.path_of("/srv/db/state.sqlite")   # the file as it was at one instant
        ...
    # here the backup is complete and the snapshots are gone

A Snapshot takes one snapshot set of the volumes of its paths when the `with` block
begins (or at start()), and completes the backup, deleting the snapshots, when it ends
(or at complete()). Failures raise QuorlinError with the library's result, report line
and explanation. The library's trace lines go to the logger "quorlin": INFO gives the
report lines of failures and completions, DEBUG every step as well; a retry is a
WARNING.

Snapshots that outlive a backup (those of Snapshot(writers=False), or left by a process
that died) are listed by list_held() and deleted by delete_held().

On Linux the paths lie on btrfs subvolumes and the process runs as root; on Windows it
runs as administrator. A Snapshot is used by one thread at a time.
"""

from __future__ import annotations

import ctypes
import logging
import os
import sys
import time
from ctypes import byref, c_char_p, c_long, c_size_t, create_string_buffer
from datetime import datetime, timezone
from types import TracebackType
from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Tuple, Type, Union

from . import _capi
from ._capi import (
    BACKUP_FULL,
    BACKUP_INCREMENTAL,
    BUFFER_TOO_SMALL,
    FAILED,
    LIBRARY_PATH,
    OK,
    OWNER_GONE,
    OWNER_LIVES,
    OWNER_UNKNOWN,
    REFUSED,
    WRONG_SEQUENCE,
)

__all__ = [
    "Snapshot",
    "QuorlinError",
    "HeldSnapshot",
    "list_held",
    "delete_held",
    "library_version",
    "retry_delay",
    "LIBRARY_PATH",
    "OK",
    "FAILED",
    "BUFFER_TOO_SMALL",
    "WRONG_SEQUENCE",
    "REFUSED",
    "TIMEOUT",
    "SNAPSHOT_SET_IN_PROGRESS",
    "WRITER_ERROR_RETRYABLE",
    "FLUSH_WRITES_TIMEOUT",
    "HOLD_WRITES_TIMEOUT",
    "RETRYABLE",
    "NO_SUCH_SET",
    "OWNER_RUNS",
    "INVALID_ARGUMENT",
    "OWNER_UNKNOWN",
    "OWNER_LIVES",
    "OWNER_GONE",
]
__version__ = "1.1.0"

# A path as a host names it: on POSIX, where names are bytes, bytes too.
PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# QuorlinError.code of a step that ran past the time limit: HRESULT_FROM_WIN32(ERROR_TIMEOUT).
TIMEOUT = _capi.ERROR_TIMEOUT
# The codes of failures that pass by themselves, so that the same start may succeed when
# tried again (QuorlinError.retryable): another snapshot set is being created (one at a
# time), a writer says its failure would not recur, the flush or the hold of writes timed
# out under load. Every other failure would come again.
SNAPSHOT_SET_IN_PROGRESS = 0x80042316
WRITER_ERROR_RETRYABLE = 0x800423F3
FLUSH_WRITES_TIMEOUT = 0x80042313
HOLD_WRITES_TIMEOUT = 0x80042314
RETRYABLE = frozenset(
    {SNAPSHOT_SET_IN_PROGRESS, WRITER_ERROR_RETRYABLE, FLUSH_WRITES_TIMEOUT, HOLD_WRITES_TIMEOUT})
# QuorlinError.code of delete_held(): no such set, its owner still runs (nothing was
# deleted), a malformed set id.
NO_SUCH_SET = 0x80042308
OWNER_RUNS = 0x800700AA
INVALID_ARGUMENT = 0x80070057

# The longest limit the library takes: its milliseconds fit a C int.
_LONGEST_TIMEOUT_S = 2147483
# The longest wait between two tries.
_LONGEST_RETRY_DELAY_S = 30

logger = logging.getLogger("quorlin")
_lib: Any = _capi.lib


def library_version() -> str:
    """The loaded library's version, "1.1.0" style."""
    return _text(_lib.quorlin_version())


def retry_delay(retry: int) -> int:
    """The wait in seconds before retry `retry` (1, 2, ...): 1, 2, 4, ... up to 30, the
    waits of the command's --retry."""
    return _LONGEST_RETRY_DELAY_S if retry >= 6 else 1 << (retry - 1)


def _text(value: Optional[bytes]) -> str:
    """A text of the library (UTF-8; paths on POSIX: their bytes, as os.fsdecode gives
    them); "" for NULL."""
    return (value or b"").decode("utf-8", "surrogateescape")


class QuorlinError(Exception):
    """A call of the library failed or was refused.

    result: FAILED (the backup was cleaned up), WRONG_SEQUENCE or REFUSED
    explanation: the library's English sentence(s) of what failed and what to try, which
            the message begins with
    report: the library's report line, e.g. "There was a COM failure 0x8004230c -
            .\\QuorlinClass (505)" ("" when it had none)
    code, site: the failure's error code (an HRESULT) and site (0 when it has none)
    retryable: whether the same call may succeed when tried again (code in RETRYABLE)
    """

    def __init__(self, result: int, report: str = "", code: int = 0, site: int = 0,
                 explanation: str = "") -> None:
        self.result = result
        self.report = report
        self.code = code
        self.site = site
        self.explanation = explanation
        details = []
        if report and report != explanation:
            details.append(report.rstrip("."))  # the details are one sentence
        elif code and not report:  # a bare code, as the held sets' calls answer
            details.append("error 0x%08X" % code)
        details.append("result %d: %s" % (result, _text(_lib.quorlin_result_text(result))))
        if explanation:
            super().__init__("%s (%s)" % (explanation, "; ".join(details)))
        else:
            super().__init__("; ".join(details))

    @property
    def retryable(self) -> bool:
        return self.result == FAILED and self.code in RETRYABLE


class HeldSnapshot(NamedTuple):
    """A snapshot that outlives a backup call, as list_held() finds it."""

    set_id: str  # "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", for delete_held()
    snapshot_id: str
    volume: str  # where it was taken: a mount point, or a volume name
    snapshot_path: str  # its device object
    persistent: bool  # False: it goes with its owner (auto-release)
    owner_pid: int  # the owner's process id as it saw it; 0: not known
    owner: int  # OWNER_LIVES, OWNER_GONE or OWNER_UNKNOWN
    created: Optional[datetime]  # when it was taken (UTC, whole seconds); None: not known


# The trace callback is process-wide in the library: one for the whole interpreter,
# kept alive here for as long as the library may call it.
_line_level = logging.INFO


def _log_line(_context: Optional[int], line: Optional[bytes]) -> None:
    logger.log(_line_level, "%s", (line or b"").decode("utf-8", "replace"))


_trace_callback = _capi.TraceCallback(_log_line)


def _verbosity() -> Tuple[int, int]:
    """The library's verbosity for what the logger lets through, and the level of its lines."""
    if logger.isEnabledFor(logging.DEBUG):
        return _capi.TRACE_SERVICE_STEPS, logging.DEBUG
    if logger.isEnabledFor(logging.INFO):
        return _capi.TRACE_OUTCOMES, logging.INFO
    return _capi.TRACE_NONE, logging.INFO


def _encoded(path: PathLike) -> bytes:
    """A path as the library takes it: UTF-8 bytes, without NUL. On POSIX, where names are
    bytes, any bytes: a str carries those that are not UTF-8 as U+DC80-U+DCFF, as
    os.fsdecode makes them ("surrogateescape"), which is the library's own mapping."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError("a path must be str, bytes or os.PathLike, not %s" % type(path).__name__)
    name = os.fspath(path)
    names_are_bytes = os.name != "nt"
    if isinstance(name, bytes):
        encoded = name
    else:
        try:
            encoded = name.encode("utf-8", "surrogateescape" if names_are_bytes else "strict")
        except UnicodeEncodeError:
            raise ValueError("path is not UTF-8: %r" % name) from None
    if not encoded or b"\0" in encoded:
        raise ValueError("path is empty or holds a NUL: %r" % name)
    if not names_are_bytes:
        try:
            encoded.decode("utf-8")
        except UnicodeDecodeError:
            raise ValueError("path is not UTF-8: %r" % name) from None
    return encoded


def _initialise_com() -> None:
    """COM on this thread, as the library needs it on Windows before a start call."""
    if sys.platform == "win32":
        ctypes.windll.ole32.CoInitializeEx(None, 0)  # COINIT_MULTITHREADED; S_FALSE is fine


class Snapshot:
    """One snapshot set of the volumes of `paths` (a path, or a list of paths).

    writers=False snapshots a single path without involving the writers, in a
    persistent context (it survives the process until completed). incremental=True
    asks the writers for an incremental backup. timeout: as set_timeout(). retry: how
    often a start that failed for a reason that passes by itself (QuorlinError.retryable)
    is tried again, after the waits of retry_delay().
    """

    def __init__(self, paths: Union[PathLike, Iterable[PathLike]], writers: bool = True,
                 incremental: bool = False, timeout: Optional[float] = None,
                 retry: int = 0) -> None:
        if isinstance(paths, (str, bytes, os.PathLike)):
            paths = [paths]
        self._sources: List[Union[str, bytes]] = [
            os.fspath(path) if isinstance(path, os.PathLike) else path for path in paths]
        self._encoded = [_encoded(path) for path in self._sources]
        if not self._encoded:
            raise ValueError("a Snapshot needs at least one path")
        if not writers and len(self._encoded) != 1:
            raise ValueError("a Snapshot without writers takes exactly one path")
        if isinstance(retry, bool) or not isinstance(retry, int):
            raise TypeError("retry must be a whole number, not %s" % type(retry).__name__)
        if retry < 0:
            raise ValueError("retry must not be negative")
        self._writers = writers
        self._incremental = incremental
        self._retries = retry
        self._timeout_ms = 0
        self.set_timeout(timeout)
        self._agent: Any = None
        self._snapshots: List[str] = []

    # --- the backup ---

    def set_timeout(self, seconds: Optional[float]) -> None:
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

    def start(self) -> None:
        """Takes the snapshots. Raises QuorlinError when the library fails or refuses (a path
        that does not exist is refused before any snapshot work, result REFUSED); with
        retry, a retryable failure is tried again, after a WARNING on the logger, and raises
        only once no retry is left."""
        if self._agent is not None:
            raise RuntimeError("this Snapshot is already started")
        _initialise_com()
        retry = 0
        while True:
            try:
                self._agent = self._start_agent()
                return
            except QuorlinError as error:
                retry += 1
                if not error.retryable or retry > self._retries:
                    raise
                seconds = retry_delay(retry)
                logger.warning("%s Trying again in %d s (retry %d of %d).",
                               error.explanation or "%s." % error, seconds, retry,
                               self._retries)
                time.sleep(seconds)

    def _start_agent(self) -> Any:
        agent = _lib.quorlin_agent_new()
        if not agent:
            raise MemoryError("quorlin_agent_new")
        try:
            self._start(agent)
        except BaseException:
            _lib.quorlin_agent_free(agent)  # completes whatever is held
            raise
        return agent

    def _start(self, agent: Any) -> None:
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

    def complete(self) -> None:
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

    def __enter__(self) -> Snapshot:
        self.start()
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        try:
            self.complete()
        except QuorlinError:
            if exc_type is None:
                raise
            # The block's own exception says more; the snapshots are deleted all the same.

    def __del__(self) -> None:
        agent, self._agent = getattr(self, "_agent", None), None
        if agent is not None and _lib is not None:
            _lib.quorlin_agent_free(agent)

    # --- the snapshot paths ---

    @property
    def paths(self) -> Dict[Union[str, bytes], str]:
        """{source path: snapshot path} for the paths given, while the backup is held."""
        self._require_started()
        return dict(zip(self._sources, self._snapshots))

    def path_of(self, path: PathLike) -> str:
        """Where `path` (one of the paths given, or anything below one) is in the snapshot."""
        self._require_started()
        target = os.path.abspath(os.fsdecode(path))
        best: Optional[Tuple[str, str]] = None
        for source, snapshot in zip(self._sources, self._snapshots):
            root = os.path.abspath(os.fsdecode(source))
            try:
                inside = os.path.commonpath([root, target]) == root
            except ValueError:  # different drives
                inside = False
            if inside and (best is None or len(root) > len(best[0])):
                best = (root, snapshot)
        if best is None:
            raise ValueError("%s is not below any path of this snapshot" % os.fsdecode(path))
        root, snapshot = best
        rest = os.path.relpath(target, root)
        return snapshot if rest == os.curdir else os.path.join(snapshot, rest)

    @property
    def instant(self) -> Dict[str, Union[int, float]]:
        """What the held set is: {"file_systems", "one_transaction" (how many of them came out
        as one instant), "whole_set", "tries", "window_ms"}."""
        self._require_started()
        instant = _capi.SetInstant()
        _check(self._agent, _lib.quorlin_describe_set(self._agent, byref(instant)))
        return {name: getattr(instant, name) for name, _ in instant._fields_}

    @property
    def set_id(self) -> str:
        """The identity of the held set, as list_held() gives it (HeldSnapshot.set_id)."""
        self._require_started()
        set_id = create_string_buffer(37)
        result = _lib.quorlin_set_id(self._agent, set_id, len(set_id))
        if result != OK:
            raise QuorlinError(result)
        return _text(set_id.value)

    def _require_started(self) -> None:
        if self._agent is None:
            raise RuntimeError("this Snapshot holds no backup (not started, or completed)")


def _check(agent: Any, result: int) -> None:
    if result != OK:
        raise QuorlinError(result, _text(_lib.quorlin_last_report(agent)),
                           int(_lib.quorlin_last_error_code(agent)),
                           int(_lib.quorlin_last_error_site(agent)),
                           _text(_lib.quorlin_last_explanation(agent)))


def _snapshot_path(agent: Any, index: int) -> str:
    """Held snapshot path `index`, fetched in a buffer of the size it needs."""
    needed = c_size_t(0)
    _check(agent, _lib.quorlin_snapshot_path(agent, index, None, 0, byref(needed)))
    buffer = create_string_buffer(needed.value)
    _check(agent, _lib.quorlin_snapshot_path(agent, index, buffer, needed.value, None))
    return _text(buffer.value)


# --- snapshots held on the volumes ---


def _check_code(code: int) -> None:
    """Raises QuorlinError for the failure code of a call on the held snapshots."""
    if code != 0:
        raise QuorlinError(FAILED, code=code, explanation=_text(_lib.quorlin_explain_code(code)))


def _held_snapshot(snapshot: Any) -> HeldSnapshot:
    return HeldSnapshot(
        set_id=_text(snapshot.set_id), snapshot_id=_text(snapshot.snapshot_id),
        volume=_text(snapshot.volume), snapshot_path=_text(snapshot.snapshot_path),
        persistent=bool(snapshot.persistent), owner_pid=int(snapshot.owner_pid),
        owner=int(snapshot.owner),
        created=datetime.fromtimestamp(snapshot.created, timezone.utc) if snapshot.created
        else None)


def list_held(path: Optional[PathLike] = None) -> List[HeldSnapshot]:
    """The snapshots held on the volume of `path` (None: on every volume), oldest first.
    Raises QuorlinError when the snapshot service cannot tell (code 0x80004001 where it
    cannot be asked)."""
    encoded = None if path is None else _encoded(path)
    found: List[HeldSnapshot] = []

    def collect(_context: Optional[int], snapshot: Any) -> None:
        found.append(_held_snapshot(snapshot.contents))

    _check_code(int(_lib.quorlin_held_list(encoded, _capi.HeldCallback(collect), None)))
    return sorted(found, key=lambda held: (held.created.timestamp() if held.created else 0.0,
                                           held.set_id))


def delete_held(set_id: Optional[str] = None, path: Optional[PathLike] = None) -> int:
    """Deletes the held set `set_id` (None: the auto-release snapshots whose owner is gone)
    on the volume of `path` (None: wherever it is), durably, and returns how many snapshots
    went. Raises QuorlinError with code NO_SUCH_SET, OWNER_RUNS (nothing deleted) or
    INVALID_ARGUMENT (a malformed set id), among others."""
    encoded = None if path is None else _encoded(path)
    deleted = c_long(0)
    set_bytes = None if set_id is None else set_id.encode("ascii", "replace")
    _check_code(int(_lib.quorlin_held_delete(encoded, set_bytes, byref(deleted))))
    return deleted.value

