"""Snapshots on real btrfs volumes (root, loop devices): frozen contents, several paths
in one set, the persistent kind, failures as exceptions, and trace lines in logging."""

import logging
import os
import re
import subprocess
import sys
import time

import pytest

import quorlin
from conftest import another_set_in_creation, subvolumes

pytestmark = pytest.mark.root


def _write(path, text):
    with open(path, "w") as file:
        file.write(text)


def _read(path):
    with open(path) as file:
        return file.read()


def test_a_snapshot_keeps_a_file_as_it_was_and_goes_at_the_end(btrfs):
    live = os.path.join(btrfs, "app.log")
    _write(live, "line 1\n")
    with quorlin.Snapshot(btrfs) as snap:
        _write(live, "line 1\nline 2\n")
        frozen = snap.path_of(live)
        assert frozen != live
        assert _read(frozen) == "line 1\n"
        assert snap.path_of(btrfs) == snap.paths[btrfs]
        assert len(subvolumes(btrfs)) == 1
    assert not os.path.exists(frozen)
    assert subvolumes(btrfs) == []
    assert _read(live) == "line 1\nline 2\n"


def test_several_paths_are_one_set_with_a_snapshot_each(btrfs):
    folders = [os.path.join(btrfs, name) for name in ("db", "mail")]
    for folder in folders:
        subprocess.run(["btrfs", "subvolume", "create", folder], check=True,
                       stdout=subprocess.DEVNULL)
        _write(os.path.join(folder, "data"), folder)
    with quorlin.Snapshot(folders) as snap:
        for folder in folders:
            _write(os.path.join(folder, "data"), "changed")
        frozen = [snap.path_of(os.path.join(folder, "data")) for folder in folders]
        assert [_read(path) for path in frozen] == folders
        assert len(set(os.path.dirname(path) for path in frozen)) == 2
        instant = snap.instant
        assert instant["file_systems"] == 1 and instant["tries"] >= 1
        assert instant["whole_set"] == (instant["one_transaction"] == 1)
        assert instant["window_ms"] > 0
    assert subvolumes(btrfs) == []


def test_a_snapshot_without_writers_is_persistent_until_completed(btrfs):
    _write(os.path.join(btrfs, "state"), "kept")
    snap = quorlin.Snapshot(btrfs, writers=False)
    snap.start()
    try:
        assert _read(snap.path_of(os.path.join(btrfs, "state"))) == "kept"
        assert any(".quorlin" in line for line in subvolumes(btrfs))
    finally:
        snap.complete()
    assert subvolumes(btrfs) == []


def test_an_exception_in_the_block_still_deletes_the_snapshots(btrfs):
    with pytest.raises(KeyError):
        with quorlin.Snapshot(btrfs):
            raise KeyError("the host's own failure")
    assert subvolumes(btrfs) == []


def test_a_path_outside_the_snapshot_has_no_snapshot_path(btrfs, tmpfs):
    with quorlin.Snapshot(btrfs) as snap:
        with pytest.raises(ValueError):
            snap.path_of(tmpfs)
        with pytest.raises(ValueError):
            snap.path_of(btrfs + "-sibling")  # a common prefix is not "below"


def test_a_volume_that_cannot_be_snapshotted_raises_with_the_report(tmpfs, caplog):
    caplog.set_level(logging.INFO, logger="quorlin")
    notes = os.path.join(tmpfs, "notes.txt")
    with open(notes, "w") as file:  # a path that exists: the library refuses one that does not
        file.write("x")
    with pytest.raises(quorlin.QuorlinError) as raised:
        with quorlin.Snapshot(notes):
            pytest.fail("a tmpfs cannot be snapshotted")
    error = raised.value
    report = "There was a COM failure 0x8004230c - .\\QuorlinClass (505)"
    assert (error.result, error.report, error.code, error.site) == (
        quorlin.FAILED, report, 0x8004230C, 505)
    # The first line is the report: freeing the agent after a failed start adds none, as
    # nothing is left to complete.
    record = caplog.records[0]
    assert (record.name, record.levelno, record.getMessage()) == ("quorlin", logging.INFO, report)


def test_every_step_is_logged_at_debug(btrfs, caplog):
    caplog.set_level(logging.DEBUG, logger="quorlin")
    with quorlin.Snapshot(btrfs):
        pass
    lines = [record.getMessage() for record in caplog.records if record.name == "quorlin"]
    assert lines[0] == "Calling CreateVssBackupComponents"
    assert "Backup successfully completed." in lines
    assert all("\r" not in line and "\n" not in line for line in lines)


def _leave_a_set(path, writers):
    """Starts a Snapshot of `path` in a process that then dies without completing it."""
    code = ("import os, sys, quorlin\n"
            "snap = quorlin.Snapshot(sys.argv[1], writers=sys.argv[2] == '1')\n"
            "snap.start()\n"
            "os._exit(0)\n")
    subprocess.run([sys.executable, "-c", code, path, "1" if writers else "0"], check=True)


@pytest.mark.parametrize("writers, persistent, by_id", [
    (False, True, True),  # a persistent set stays until deleted by its id
    (True, False, False),  # an auto-release set whose owner died: an orphan
    (True, False, True),
])
def test_a_set_that_outlives_its_process_is_listed_and_deleted(btrfs, writers, persistent,
                                                               by_id):
    before = time.time()
    _leave_a_set(btrfs, writers)
    held = quorlin.list_held(btrfs)
    assert len(held) == 1 and held[0] in quorlin.list_held()
    snapshot = held[0]
    assert (snapshot.volume, snapshot.persistent) == (btrfs, persistent)
    assert re.fullmatch(r"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}", snapshot.set_id)
    assert snapshot.owner == quorlin.OWNER_GONE and snapshot.owner_pid > 0
    assert snapshot.created is not None and snapshot.created.timestamp() >= int(before)
    assert quorlin.delete_held(snapshot.set_id if by_id else None, btrfs) == 1
    assert quorlin.list_held(btrfs) == [] and subvolumes(btrfs) == []


@pytest.mark.parametrize("set_id, code", [
    ("00000000-0000-0000-0000-000000000000", quorlin.NO_SUCH_SET),
    ("not-a-set", quorlin.INVALID_ARGUMENT),
    (None, quorlin.OWNER_RUNS),  # the set of this process, which still runs
])
def test_a_set_that_cannot_be_deleted_raises_with_the_code(btrfs, set_id, code):
    with quorlin.Snapshot(btrfs) as snap:
        held = quorlin.list_held(btrfs)
        assert [(snapshot.set_id, snapshot.owner) for snapshot in held] == [
            (snap.set_id, quorlin.OWNER_LIVES)]
        with pytest.raises(quorlin.QuorlinError) as raised:
            quorlin.delete_held(set_id or snap.set_id, btrfs)
        assert (raised.value.result, raised.value.code) == (quorlin.FAILED, code)
        assert str(raised.value).startswith(raised.value.explanation)
        assert "0x%08X" % code in str(raised.value)
        assert quorlin.list_held(btrfs) == held


@pytest.mark.parametrize("retry, hold, warnings", [
    (0, None, 0),
    (2, None, 2),  # the retries run out
    (3, 0.5, 1),  # the other set is taken meanwhile
])
def test_retry_waits_out_another_set_in_creation(btrfs, caplog, retry, hold, warnings):
    snap = quorlin.Snapshot(btrfs, retry=retry)
    with another_set_in_creation(hold):
        try:
            snap.start()
        except quorlin.QuorlinError as error:
            assert hold is None
            assert (error.code, error.retryable) == (quorlin.SNAPSHOT_SET_IN_PROGRESS, True)
        else:
            assert hold is not None
            snap.complete()
    retries = [record.getMessage() for record in caplog.records
               if record.levelno == logging.WARNING]
    assert len(retries) == warnings
    for number, line in enumerate(retries, 1):
        assert line.endswith(" Trying again in %d s (retry %d of %d)."
                             % (quorlin.retry_delay(number), number, retry))
    assert subvolumes(btrfs) == []
