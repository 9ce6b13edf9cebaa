"""Snapshots on real btrfs volumes (root, loop devices): frozen contents, several paths
in one set, the persistent kind, failures as exceptions, and trace lines in logging."""

import logging
import os
import subprocess

import pytest

import quorlin
from conftest import subvolumes

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
