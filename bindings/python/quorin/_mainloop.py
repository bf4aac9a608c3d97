"""Drives the library's main loop: from asyncio, or through `run` and `drain`.

The C interface calls a thread "the main thread" while it drains the loop, and lets some
calls (setting callbacks, disposing or freeing a client) run only there or while no thread
drains. `loop_lock` is held for every drain and for those calls, which makes that rule hold
whichever Python thread makes them.
"""

from __future__ import annotations

import asyncio
import collections
import math
import os
import select
import threading
import time
from typing import Any, Callable, Deque, List, Optional

from . import _dispatch
from ._errors import QuorinError
from ._native import lib

loop_lock = threading.RLock()

# Clients finalized while another thread drained, freed by the next drain.
_unfreed: Deque[int] = collections.deque()


def main_thread_call(function: Callable[..., Any], *arguments: Any) -> Any:
    """Calls `function` as a main-thread call: between drains, or inside one on its thread."""
    with loop_lock:
        return function(*arguments)


def free_client(handle: int) -> None:
    """Frees a client now where that is a main-thread call, else at the next drain."""
    if loop_lock.acquire(blocking=False):
        try:
            lib.qrn_client_free(handle)
        finally:
            loop_lock.release()
        return
    _unfreed.append(handle)
    _wake()


def _free_unfreed() -> None:
    while _unfreed:
        lib.qrn_client_free(_unfreed.popleft())


def _drain_once(loop: Optional[asyncio.AbstractEventLoop]) -> "tuple[int, List[BaseException]]":
    with loop_lock, _dispatch.turn(loop) as turn:
        _free_unfreed()
        ran = lib.qrn_main_loop_drain()
        _free_unfreed()
    return ran, turn.errors


def drain() -> int:
    """Runs the library's ready tasks and due timers without waiting; answers how many ran.

    Listeners run on the calling thread, inside this call. When one raises, the others
    still run and the first exception is raised from here (any later ones are logged to
    the "quorin" logger).
    """
    ran, errors = _drain_once(None)
    _dispatch.raise_collected(errors)
    return ran


def main_loop_fd() -> int:
    """The descriptor that polls readable while the library has work for `drain`."""
    fd = lib.qrn_main_loop_fd()
    if fd < 0:
        raise QuorinError("the library's main loop has no descriptor: the process is out of them")
    return fd


class _Run:
    def __init__(self) -> None:
        self.stopped = False


_runs: List[_Run] = []
_runs_lock = threading.Lock()
_wake_read, _wake_write = os.pipe()
os.set_blocking(_wake_read, False)
os.set_blocking(_wake_write, False)


def _wake() -> None:
    try:
        os.write(_wake_write, b"\0")
    except BlockingIOError:
        pass  # a full pipe wakes the run all the same
    driver = _driver
    if driver is not None:
        driver.wake()


def _clear_wakes() -> None:
    try:
        while os.read(_wake_read, 512):
            pass
    except BlockingIOError:
        pass


def stop() -> None:
    """Makes the innermost `run` in progress return True; with none in progress, nothing.

    Any thread, and from listeners.
    """
    with _runs_lock:
        if not _runs:
            return
        _runs[-1].stopped = True
    _wake()


def _wait_ms(deadline: Optional[float]) -> int:
    timer = lib.qrn_main_loop_timeout_ms()
    if deadline is None:
        return timer
    left = max(0, math.ceil((deadline - time.monotonic()) * 1000))
    return left if timer < 0 else min(timer, left)


def run(seconds: Optional[float] = None) -> bool:
    """Runs the library's main loop on this thread for `seconds`, or until `stop()` for None.

    Answers True when `stop()` ended it. It sleeps in `poll` between turns, so a signal
    such as Ctrl-C interrupts it. A listener's exception ends the run and is raised from
    here once the other listeners of that turn ran.
    """
    deadline = None if seconds is None else time.monotonic() + max(0.0, seconds)
    watch = select.poll()
    watch.register(main_loop_fd(), select.POLLIN)
    watch.register(_wake_read, select.POLLIN)
    this = _Run()
    with _runs_lock:
        _runs.append(this)
    try:
        while True:
            drain()
            if this.stopped:
                return True
            wait = _wait_ms(deadline)
            if wait == 0 and deadline is not None and time.monotonic() >= deadline:
                return False
            watch.poll(wait)
            _clear_wakes()
    finally:
        with _runs_lock:
            _runs.remove(this)


class _AsyncioDriver:
    """Drains the library's loop from an asyncio loop: a reader on its descriptor, and a
    timer armed for its next due time after each drain. No thread and no polling."""

    def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
        self.loop = loop
        self._timer: Optional[asyncio.TimerHandle] = None
        self._fd = main_loop_fd()
        loop.add_reader(self._fd, self._turn)
        loop.call_soon(self._turn)

    def _turn(self) -> None:
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        try:
            _, errors = _drain_once(self.loop)
            _dispatch.raise_collected(errors)
        finally:
            timeout = lib.qrn_main_loop_timeout_ms()
            if timeout >= 0:
                self._timer = self.loop.call_later(timeout / 1000, self._turn)

    def wake(self) -> None:
        """From any thread: drains at the loop's next turn."""
        try:
            self.loop.call_soon_threadsafe(self._turn)
        except RuntimeError:
            pass  # the loop closed: whoever drains next frees what waits

    def detach(self) -> None:
        if self._timer is not None:
            self._timer.cancel()
        if not self.loop.is_closed():
            self.loop.remove_reader(self._fd)

    def usable(self) -> bool:
        return not self.loop.is_closed()


_driver: Optional[_AsyncioDriver] = None
_attach_lock = threading.Lock()


def attach() -> Optional[asyncio.AbstractEventLoop]:
    """Drives the library's loop from the running asyncio loop, if there is one and no other
    open loop drives it yet; answers the running loop (None outside of one)."""
    global _driver
    try:
        loop = asyncio.get_running_loop()
    except RuntimeError:
        return None
    driver = _driver
    if driver is not None and driver.loop is loop:
        return loop
    with _attach_lock:
        if _driver is not None and (_driver.loop is loop or _driver.usable()):
            return loop
        if _driver is not None:
            _driver.detach()
        _driver = _AsyncioDriver(loop)
    return loop


def detach() -> None:
    """Stops driving the library's loop from asyncio; the next client or await made inside
    a running loop attaches again."""
    global _driver
    with _attach_lock:
        if _driver is not None:
            _driver.detach()
            _driver = None
