"""Finding and loading Quorlin's library.

Candidates, in order: the full path in QUORLIN_LIBRARY (when it is set, it is the only
one: a library named explicitly that cannot be used is an error, not a hint), the
library beside this package's files, then what the system's loader finds. The first
that loads and has the C interface of this major version wins; ImportError names every
candidate tried and why it was passed over.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Iterator

ENVIRONMENT = "QUORLIN_LIBRARY"
MAJOR_VERSION = 1


def _file_names() -> list[str]:
    if sys.platform == "win32":
        return ["quorlin.dll"]
    if sys.platform == "darwin":
        return ["libquorlin.%d.dylib" % MAJOR_VERSION, "libquorlin.dylib"]
    return ["libquorlin.so.%d" % MAJOR_VERSION]


def _candidates() -> Iterator[tuple[str, str]]:
    """(what, name) pairs: `name` is given to the loader, `what` says where it came from."""
    named = os.environ.get(ENVIRONMENT)
    if named is not None:
        yield "%s=%s" % (ENVIRONMENT, named), named
        return
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _file_names():
        path = os.path.join(here, name)
        yield "beside the package: %s" % path, path
    found = ctypes.util.find_library("quorlin")
    if found:
        yield "ctypes.util.find_library('quorlin'): %s" % found, found
    for name in _file_names():
        yield "the system loader: %s" % name, name


def _load(name: str) -> ctypes.CDLL:
    """The loaded library, or raises OSError/ImportError saying why it will not do."""
    if sys.platform == "win32":
        library = ctypes.CDLL(name, winmode=0)  # the standard search, PATH included
    else:
        library = ctypes.CDLL(name)
    if not hasattr(library, "quorlin_version"):
        raise ImportError("no C interface (a library older than 1.1)")
    library.quorlin_version.restype = ctypes.c_char_p
    library.quorlin_version.argtypes = []
    version = bytes(library.quorlin_version()).decode("ascii")
    if version.split(".")[0] != str(MAJOR_VERSION):
        raise ImportError("version %s, not %d.x" % (version, MAJOR_VERSION))
    return library


def load() -> tuple[ctypes.CDLL, str]:
    """(library, where it was found)."""
    tried: list[str] = []
    for what, name in _candidates():
        if what.startswith(ENVIRONMENT) and not os.path.isabs(name):
            tried.append("%s: not a full path" % what)
            continue
        if os.path.isabs(name) and not os.path.exists(name):
            tried.append("%s: no such file" % what)
            continue
        try:
            return _load(name), name
        except (OSError, ImportError) as error:
            tried.append("%s: %s" % (what, error))
    raise ImportError(
        "quorlin cannot find Quorlin's library (libquorlin.so.%d / quorlin.dll); tried:\n  "
        % MAJOR_VERSION
        + "\n  ".join(tried)
        + "\nSet %s to its full path, or install it (Debian: libquorlin%d)."
        % (ENVIRONMENT, MAJOR_VERSION)
    )
