"""The C interface (quorlin/quorlin.h) through ctypes: every function with its argument
and result types declared, so that ctypes never guesses."""

from __future__ import annotations

import ctypes
from ctypes import (POINTER, c_char, c_char_p, c_double, c_int, c_long, c_size_t, c_ulong,
                    c_void_p, c_wchar, c_wchar_p)

from . import _loader

# Results (QUORLIN_* in quorlin.h).
OK = 0
FAILED = 1
BUFFER_TOO_SMALL = 2
WRONG_SEQUENCE = 99
REFUSED = 100

BACKUP_FULL = 1
BACKUP_INCREMENTAL = 2

TRACE_NONE = 0
TRACE_OUTCOMES = 2
TRACE_STEPS = 4
TRACE_SERVICE_REPORTS = 5
TRACE_SERVICE_STEPS = 6

OWNER_UNKNOWN = 0
OWNER_LIVES = 1
OWNER_GONE = 2

# quorlin_last_error_code after a step ran past its time limit.
ERROR_TIMEOUT = 0x800705B4


class Agent(ctypes.Structure):
    """quorlin_agent: opaque."""


class SetInstant(ctypes.Structure):
    """quorlin_set_instant: what a held snapshot set is."""

    _fields_ = [
        ("file_systems", c_int),
        ("one_transaction", c_int),
        ("whole_set", c_int),
        ("tries", c_int),
        ("window_ms", c_double),
    ]


class HeldSnapshot(ctypes.Structure):
    """quorlin_held_snapshot: a snapshot that outlives a backup call."""

    _fields_ = [
        ("set_id", c_char_p),
        ("snapshot_id", c_char_p),
        ("volume", c_char_p),
        ("snapshot_path", c_char_p),
        ("persistent", c_int),
        ("owner_pid", c_long),
        ("owner", c_int),
        ("created", c_double),
    ]


AgentPointer = POINTER(Agent)
TraceCallback = ctypes.CFUNCTYPE(None, c_void_p, c_char_p)
HeldCallback = ctypes.CFUNCTYPE(None, c_void_p, POINTER(HeldSnapshot))

_FUNCTIONS: dict[str, tuple[type[ctypes._CData] | None, list[type[ctypes._CData]]]] = {
    "quorlin_version": (c_char_p, []),
    "quorlin_result_text": (c_char_p, [c_int]),
    "quorlin_agent_new": (AgentPointer, []),
    "quorlin_agent_free": (None, [AgentPointer]),
    "quorlin_start": (c_int, [AgentPointer, c_char_p, POINTER(c_char), c_size_t, POINTER(c_size_t)]),
    "quorlin_start_no_writers": (
        c_int,
        [AgentPointer, c_char_p, POINTER(c_char), c_size_t, POINTER(c_size_t)],
    ),
    "quorlin_start_multi": (
        c_int,
        [AgentPointer, POINTER(c_char_p), c_size_t, POINTER(POINTER(c_char)), POINTER(c_size_t),
         POINTER(c_size_t)],
    ),
    "quorlin_snapshot_count": (c_size_t, [AgentPointer]),
    "quorlin_snapshot_path": (
        c_int,
        [AgentPointer, c_size_t, POINTER(c_char), c_size_t, POINTER(c_size_t)],
    ),
    "quorlin_complete": (c_int, [AgentPointer]),
    "quorlin_describe_set": (c_int, [AgentPointer, POINTER(SetInstant)]),
    "quorlin_set_id": (c_int, [AgentPointer, POINTER(c_char), c_size_t]),
    "quorlin_start_w": (c_int, [AgentPointer, c_wchar_p, POINTER(c_wchar), c_size_t, POINTER(c_size_t)]),
    "quorlin_start_no_writers_w": (
        c_int,
        [AgentPointer, c_wchar_p, POINTER(c_wchar), c_size_t, POINTER(c_size_t)],
    ),
    "quorlin_start_multi_w": (
        c_int,
        [AgentPointer, POINTER(c_wchar_p), c_size_t, POINTER(POINTER(c_wchar)), POINTER(c_size_t),
         POINTER(c_size_t)],
    ),
    "quorlin_snapshot_path_w": (
        c_int,
        [AgentPointer, c_size_t, POINTER(c_wchar), c_size_t, POINTER(c_size_t)],
    ),
    "quorlin_last_report": (c_char_p, [AgentPointer]),
    "quorlin_last_error_code": (c_ulong, [AgentPointer]),
    "quorlin_last_error_site": (c_int, [AgentPointer]),
    "quorlin_last_explanation": (c_char_p, [AgentPointer]),
    "quorlin_explain_code": (c_char_p, [c_ulong]),
    "quorlin_set_backup_type": (c_int, [AgentPointer, c_int]),
    "quorlin_set_verbosity": (c_int, [AgentPointer, c_int]),
    "quorlin_set_timeout": (c_int, [AgentPointer, c_int]),
    "quorlin_set_trace_console": (c_int, [AgentPointer, c_void_p]),
    "quorlin_set_trace_callback": (c_int, [AgentPointer, TraceCallback, c_void_p]),
    "quorlin_held_list": (c_ulong, [c_char_p, HeldCallback, c_void_p]),
    "quorlin_held_delete": (c_ulong, [c_char_p, c_char_p, POINTER(c_long)]),
}

lib, LIBRARY_PATH = _loader.load()
for _name, (_restype, _argtypes) in _FUNCTIONS.items():
    try:
        _function = getattr(lib, _name)
    except AttributeError:
        raise ImportError("%s lacks %s" % (LIBRARY_PATH, _name)) from None
    _function.restype = _restype
    _function.argtypes = _argtypes
