"""Readers of recordings kept open in each process, for the pieces and windows
read there.

A piece is read by whichever thread or process runs it, from its path alone:
the reader it uses is borrowed from this process's pool, or opened if none is
free, and handed back afterwards. One reader serves one borrower at a time
(its position belongs to the read), so threads reading the same file in
parallel each get their own. At most MAX_IDLE readers stay open while idle;
the least recently used beyond that is closed, so the file descriptors held
are bounded by the borrowers plus MAX_IDLE.

The pool belongs to the process that made it: a child made by fork starts
with an empty one. Its parent's readers may be in the middle of a read (their
driver locks held by threads that do not exist in the child), so the child
never uses them; it opens its own from the paths.
"""

from __future__ import annotations

import collections
import os
import threading
from collections.abc import Iterator
from contextlib import contextmanager

import vantrel_core as vc

#: Readers kept open while no read needs them, per process.
MAX_IDLE = 16

# A file is known by its device and inode; its size and change time tell a
# reader opened before it grew (a recording still being written) from one
# that sees all of it.
_Key = tuple[int, int, int, int]


class _Pool:
    def __init__(self) -> None:
        self.pid = os.getpid()
        self.lock = threading.Lock()
        self.idle: collections.deque[tuple[_Key, vc.EvFileReader]] = collections.deque()
        self.opened = 0  # readers this pool opened, for tests and statistics


_pool = _Pool()


def _fresh_pool() -> None:
    global _pool
    _pool = _Pool()


os.register_at_fork(after_in_child=_fresh_pool)


def _this_process_pool() -> _Pool:
    pool = _pool
    if pool.pid != os.getpid():  # a child started by a fork that bypassed the hook
        _fresh_pool()
        pool = _pool
    return pool


def _key(path: str) -> _Key:
    st = os.stat(path)
    return st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns


def _open(path: str) -> vc.EvFileReader:
    from vantrel.handles import open_recording

    return open_recording(path).reader


@contextmanager
def borrow(path: str) -> Iterator[vc.EvFileReader]:
    """An opened reader of `path` for the duration of the block, for this
    thread alone. FileNotFoundError, IsADirectoryError or
    vantrel.UnreadableRecording when it cannot be opened."""
    pool = _this_process_pool()
    key = _key(path)
    reader = None
    with pool.lock:
        for i in range(len(pool.idle) - 1, -1, -1):
            if pool.idle[i][0] == key:
                reader = pool.idle[i][1]
                del pool.idle[i]
                break
    if reader is None:
        reader = _open(path)
        with pool.lock:
            pool.opened += 1
    try:
        yield reader
    finally:
        dropped = None
        with pool.lock:
            if pool is _pool:  # not forked away meanwhile
                pool.idle.append((key, reader))
                if len(pool.idle) > MAX_IDLE:
                    dropped = pool.idle.popleft()
        # Closed outside the lock: a reader's destructor closes its file.
        del dropped, reader


def release() -> int:
    """Closes every idle reader of this process; returns how many."""
    pool = _this_process_pool()
    with pool.lock:
        idle = list(pool.idle)
        pool.idle.clear()
    count = len(idle)
    del idle
    return count


def statistics() -> tuple[int, int, int]:
    """(process id, readers opened by this process's pool, readers idle now)."""
    pool = _this_process_pool()
    with pool.lock:
        return pool.pid, pool.opened, len(pool.idle)
