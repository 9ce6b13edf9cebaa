"""What needs no root: finding the library, the package's own argument checks, and the C
interface's refusals through ctypes."""

import ctypes
import ctypes.util
import importlib.metadata
import os
import shutil
import subprocess
import sys

import pytest

import quorlin
from quorlin import _capi


def test_the_package_is_the_installed_one_and_matches_its_library():
    assert "site-packages" in quorlin.__file__
    assert quorlin.__version__ == importlib.metadata.version("quorlin")
    assert quorlin.library_version() == quorlin.__version__
    assert quorlin.LIBRARY_PATH == os.environ["QUORLIN_LIBRARY"]


def _import_in_a_fresh_interpreter(environment, path_entry=None):
    environment = dict(environment)
    if path_entry:
        environment["PYTHONPATH"] = path_entry
    return subprocess.run(
        [sys.executable, "-c", "import quorlin; print(quorlin.LIBRARY_PATH)"],
        env=environment, capture_output=True, text=True)


def _without(name):
    return {key: value for key, value in os.environ.items() if key != name}


@pytest.mark.parametrize("value, reason", [
    ("libquorlin.so.1", "not a full path"),
    ("/nonexistent/libquorlin.so.1", "no such file"),
    (os.__file__, "invalid ELF header"),  # a file, but no library
])
def test_a_library_named_in_the_environment_that_will_not_do_is_an_import_error(value, reason):
    environment = dict(os.environ, QUORLIN_LIBRARY=value)
    run = _import_in_a_fresh_interpreter(environment)
    assert run.returncode != 0
    assert "ImportError" in run.stderr
    assert "QUORLIN_LIBRARY=%s: " % value in run.stderr
    assert reason in run.stderr
    assert "beside the package" not in run.stderr  # an explicit name is the only candidate


def test_the_library_beside_the_package_is_found(tmp_path):
    package = tmp_path / "quorlin"
    shutil.copytree(os.path.dirname(quorlin.__file__), package,
                    ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["QUORLIN_LIBRARY"], package / "libquorlin.so.1")
    run = _import_in_a_fresh_interpreter(_without("QUORLIN_LIBRARY"), str(tmp_path))
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == str(package / "libquorlin.so.1")


def test_without_a_library_the_import_error_names_every_candidate(tmp_path):
    if ctypes.util.find_library("quorlin"):
        pytest.skip("this machine has a libquorlin installed, which the loader finds")
    package = tmp_path / "quorlin"
    shutil.copytree(os.path.dirname(quorlin.__file__), package,
                    ignore=shutil.ignore_patterns("__pycache__"))
    run = _import_in_a_fresh_interpreter(_without("QUORLIN_LIBRARY"), str(tmp_path))
    assert run.returncode != 0
    assert "beside the package: %s: no such file" % (package / "libquorlin.so.1") in run.stderr
    assert "the system loader: libquorlin.so.1: " in run.stderr
    assert "Set QUORLIN_LIBRARY to its full path" in run.stderr


@pytest.mark.parametrize("paths, error", [
    ([], ValueError),
    ("", ValueError),
    (["/srv/a\0b"], ValueError),
    (["/srv/\ud800"], ValueError),  # a lone surrogate that stands for no byte
    ([42], TypeError),
    ([None], TypeError),
])
def test_paths_the_library_cannot_take_are_refused_before_it_is_called(paths, error):
    with pytest.raises(error):
        quorlin.Snapshot(paths)


@pytest.mark.parametrize("path, encoded", [
    (b"/srv/\xff", b"/srv/\xff"),  # not UTF-8
    ("/srv/\udcff", b"/srv/\xff"),  # the same name as os.fsdecode gives it
    ("/srv/caf\u00e9", b"/srv/caf\xc3\xa9"),
])
def test_names_that_are_bytes_reach_the_library_as_those_bytes(path, encoded):
    if os.name == "nt":
        pytest.skip("names are UTF-16 on Windows")
    assert quorlin._encoded(path) == encoded


def test_a_snapshot_without_writers_takes_one_path():
    with pytest.raises(ValueError):
        quorlin.Snapshot(["/a", "/b"], writers=False)
    quorlin.Snapshot(["/a"], writers=False)


@pytest.mark.parametrize("seconds, error, milliseconds", [
    (None, None, 0),
    (0, None, 0),
    (2, None, 2000),
    (0.0004, None, 1),  # a limit, however short, is never none
    (1.5, None, 1500),
    (2147483, None, 2147483000),
    (2147484, ValueError, None),
    (-1, ValueError, None),
    ("2", TypeError, None),
    (True, TypeError, None),
])
def test_a_timeout_is_whole_milliseconds_within_what_the_library_takes(seconds, error,
                                                                       milliseconds):
    snapshot = quorlin.Snapshot("/srv/db")
    if error is not None:
        with pytest.raises(error):
            snapshot.set_timeout(seconds)
    else:
        snapshot.set_timeout(seconds)
        assert snapshot._timeout_ms == milliseconds


def test_paths_are_only_there_while_the_backup_is_held():
    snapshot = quorlin.Snapshot("/srv/db")
    with pytest.raises(RuntimeError):
        snapshot.path_of("/srv/db")
    with pytest.raises(RuntimeError):
        snapshot.paths
    snapshot.complete()  # nothing to complete: nothing happens


def test_every_function_is_declared():
    for name, (restype, argtypes) in _capi._FUNCTIONS.items():
        function = getattr(_capi.lib, name)
        assert function.restype is restype, name
        assert function.argtypes == argtypes, name
    assert len(_capi._FUNCTIONS) == 28


def test_the_c_interface_refuses_missing_arguments_and_says_why():
    lib = _capi.lib
    agent = lib.quorlin_agent_new()
    try:
        needed = ctypes.c_size_t(7)
        assert lib.quorlin_start(agent, None, None, 0, ctypes.byref(needed)) == quorlin.REFUSED
        assert lib.quorlin_last_report(agent) == b"Invalid parameter."
        assert needed.value == 7
        # Where names are bytes the path is taken, and refused as one that names nothing.
        not_utf8 = b"Invalid parameter." if os.name == "nt" else b"The path does not exist."
        assert lib.quorlin_start(agent, b"/\xff", None, 0, None) == quorlin.REFUSED
        assert lib.quorlin_last_report(agent) == not_utf8
        assert lib.quorlin_snapshot_path(agent, 0, None, 0, None) == quorlin.REFUSED
        assert lib.quorlin_complete(agent) == quorlin.REFUSED
        assert lib.quorlin_last_report(agent) == b"Invalid data."
        assert lib.quorlin_last_error_code(agent) == 0
        assert lib.quorlin_start(None, b"/", None, 0, None) == quorlin.REFUSED
        assert lib.quorlin_last_report(None) == b""
    finally:
        lib.quorlin_agent_free(agent)


@pytest.mark.parametrize("arguments, message", [
    ((quorlin.FAILED, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)", 0x8004230C,
      505, "The volume does not support snapshots."),
     "The volume does not support snapshots. (There was a COM failure 0x8004230c - "
     ".\\QuorlinClass (505); result 1: %s)"),
    ((quorlin.REFUSED, "Invalid parameter.", 0, 0, "Invalid parameter."),
     "Invalid parameter. (result 100: %s)"),  # the report is not said twice
    ((quorlin.REFUSED, "Invalid data."), "Invalid data; result 100: %s"),
    ((quorlin.FAILED, "", 0x800700AA), "error 0x800700AA; result 1: %s"),
    ((quorlin.REFUSED,), "result 100: %s"),
])
def test_an_error_carries_the_result_and_report(arguments, message):
    error = quorlin.QuorlinError(*arguments)
    text = _capi.lib.quorlin_result_text(arguments[0]).decode("utf-8")
    assert str(error) == message % text
    defaults = (None, "", 0, 0, "")
    assert (error.result, error.report, error.code, error.site, error.explanation) == (
        tuple(arguments) + defaults[len(arguments):])


@pytest.mark.parametrize("retry, error", [
    (0, None), (3, None), (-1, ValueError), (1.5, TypeError), (True, TypeError), ("2", TypeError),
])
def test_retry_is_a_count_of_further_tries(retry, error):
    if error is None:
        assert quorlin.Snapshot("/srv/db", retry=retry)._retries == retry
    else:
        with pytest.raises(error):
            quorlin.Snapshot("/srv/db", retry=retry)
