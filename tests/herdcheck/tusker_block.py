"""The feeder's block as a program without the herdlab library finds it on
Linux: the file herdlab-map-<uid>-<escaped name> in the user's own place for
named objects ($XDG_RUNTIME_DIR/herdlab, else $HOME/.herdlab), held with a
shared flock as every holder of a block holds it."""

import fcntl
import mmap
import os

RING_SLOTS = 8
_PLAIN = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-")


def user_place():
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/"):
        return os.path.join(runtime, "herdlab")
    return os.path.join(os.environ.get("HOME", ""), ".herdlab")


def block_file(name):
    """The block of a child's name: its length as one byte, then the name in
    Windows-1251; each byte outside [A-Za-z0-9._-] escaped as %XX."""
    raw = bytes([len(name)]) + name.encode("cp1251")
    escaped = "".join(chr(b) if b in _PLAIN else "%%%02X" % b for b in raw)
    return os.path.join(user_place(), "herdlab-map-%d-%s" % (os.getuid(), escaped))


def open_ring(name):
    """The ring's 8 bytes, mapped read-write, and the open file that holds it."""
    fd = os.open(block_file(name), os.O_RDWR | os.O_CLOEXEC)
    fcntl.flock(fd, fcntl.LOCK_SH)
    return mmap.mmap(fd, RING_SLOTS), fd
