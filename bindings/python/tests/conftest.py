"""Fixtures: scratch btrfs volumes in image files on loop devices, and a tmpfs, each
made for a test and removed after it (mount, loop device and image)."""

import contextlib
import fcntl
import os
import shutil
import subprocess
import tempfile
import threading

import pytest


def _btrfs_unavailable():
    """Why btrfs volumes cannot be made here; "" when they can."""
    if os.geteuid() != 0:
        return "needs root (to mount loop devices)"
    if not os.path.exists("/dev/loop-control"):
        return "needs loop devices"
    with open("/proc/filesystems") as filesystems:
        if "btrfs" not in filesystems.read().split():
            return "needs a kernel with btrfs"
    if shutil.which("mkfs.btrfs") is None:
        return "needs mkfs.btrfs (btrfs-progs)"
    return ""


def pytest_collection_modifyitems(items):
    reason = _btrfs_unavailable()
    if reason:
        for item in items:
            if "root" in item.keywords:
                item.add_marker(pytest.mark.skip(reason=reason))


def _run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


@pytest.fixture
def scratch():
    """A private folder for mounts, removed with whatever is mounted in it."""
    area = tempfile.mkdtemp(prefix="quorlin-python-")
    yield area
    for name in sorted(os.listdir(area), reverse=True):
        path = os.path.join(area, name)
        if os.path.ismount(path):
            subprocess.run(["umount", path], check=False)  # mount -o loop frees its device
    shutil.rmtree(area, ignore_errors=True)


@pytest.fixture
def btrfs(scratch):
    """The mount point of a fresh 256 MB btrfs volume."""
    image = os.path.join(scratch, "volume.img")
    mount_point = os.path.join(scratch, "volume")
    os.mkdir(mount_point)
    _run("truncate", "-s", "256M", image)
    _run("mkfs.btrfs", "-q", "-f", image)
    _run("mount", "-o", "loop", image, mount_point)
    return mount_point


@pytest.fixture
def tmpfs(scratch):
    """The mount point of a small tmpfs: a volume that cannot be snapshotted."""
    mount_point = os.path.join(scratch, "tmpfs")
    os.mkdir(mount_point)
    _run("mount", "-t", "tmpfs", "-o", "size=1m", "quorlin-python", mount_point)
    return mount_point


def subvolumes(mount_point):
    """The snapshots (read-only subvolumes) on a btrfs volume, as `btrfs subvolume list -r`
    shows them; the snapshot store is a subvolume too, and stays."""
    listing = subprocess.run(["btrfs", "subvolume", "list", "-r", mount_point], check=True,
                             capture_output=True, text=True).stdout
    return [line for line in listing.splitlines() if line.strip()]


@contextlib.contextmanager
def another_set_in_creation(seconds):
    """Holds the machine's snapshot-set lock, as a requester that creates a set does, for
    `seconds` (None: throughout)."""
    os.makedirs("/run/quorlin", mode=0o700, exist_ok=True)
    lock = os.open("/run/quorlin/snapshot-set.lock", os.O_RDWR | os.O_CREAT, 0o600)
    fcntl.flock(lock, fcntl.LOCK_EX)
    release = threading.Timer(seconds or 0, fcntl.flock, [lock, fcntl.LOCK_UN])
    if seconds is not None:
        release.start()
    try:
        yield
    finally:
        release.cancel()
        if seconds is not None:
            release.join()
        os.close(lock)
