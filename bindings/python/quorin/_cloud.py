"""Cloud reads paired with the library's answers, and the store's changes as a stream."""

from __future__ import annotations

import asyncio
import collections
import enum
import threading
from typing import Any, Callable, Deque, Dict, Optional, Tuple, Union

from . import _dispatch

Waiter = Union["asyncio.Future[Optional[str]]", Callable[[str, Optional[str]], Any]]


class CloudChangeReason(enum.IntEnum):
    """Why the cloud store's values changed, numbered as the platform numbers them."""

    SERVER = 0
    """Another device wrote the keys."""
    INITIAL_SYNC = 1
    """The device's first exchange with its account found the keys."""
    QUOTA_VIOLATION = 2
    """The account refused this device's writes of the keys: they are over its quota."""
    ACCOUNT = 3
    """The device moved to another account."""


class CloudChange:
    """One external change of the cloud store: its reason and the keys it names."""

    __slots__ = ("reason", "keys")

    def __init__(self, reason: CloudChangeReason, keys: Tuple[str, ...]) -> None:
        self.reason = reason
        self.keys = keys

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, CloudChange):
            return NotImplemented
        return (self.reason, self.keys) == (other.reason, other.keys)

    def __hash__(self) -> int:
        return hash((self.reason, self.keys))

    def __repr__(self) -> str:
        return f"CloudChange({self.reason.name}, {self.keys!r})"


def _on_loop_of(future: "asyncio.Future[Any]", action: Callable[[], None]) -> None:
    loop = future.get_loop()
    try:
        here = asyncio.get_running_loop() is loop
    except RuntimeError:
        here = False
    if here:
        action()
    else:
        try:
            loop.call_soon_threadsafe(action)
        except RuntimeError:
            pass  # the loop closed: nobody awaits the future any more


def _settle(future: "asyncio.Future[Any]", value: Any = None,
            error: Optional[BaseException] = None) -> None:
    def act() -> None:
        if future.done():
            return
        if error is not None:
            future.set_exception(error)
        else:
            future.set_result(value)

    _on_loop_of(future, act)


class CloudReads:
    """The reads of one client that wait for the library's answer, key by key.

    The library answers every read of a key once, in the order of the reads, and a value
    that is already there before the read returns, on the reading thread. A read's place is
    kept after its future is cancelled, so that the answer meant for it is not taken by a
    later read of the same key.
    """

    def __init__(self) -> None:
        self._lock = threading.RLock()
        self._waiting: Dict[str, Deque[Waiter]] = {}
        # The read in progress on a thread, which an answer on that thread settles.
        self._reading: Optional[Tuple[int, str, Waiter]] = None
        self._answered = False

    def read(self, key: str, waiter: Waiter, fetch: Callable[[], None]) -> None:
        """Asks the library through `fetch`; `waiter` gets the answer, now or later."""
        with self._lock:
            self._reading = (threading.get_ident(), key, waiter)
            self._answered = False
            try:
                fetch()
            finally:
                self._reading = None
            if not self._answered:
                self._waiting.setdefault(key, collections.deque()).append(waiter)

    def answer(self, key: str, value: Optional[str]) -> None:
        """The library's answer to the oldest read of `key` not yet answered."""
        with self._lock:
            reading = self._reading
            if reading is not None and reading[:2] == (threading.get_ident(), key):
                self._answered = True
                waiter = reading[2]
            else:
                queue = self._waiting.get(key)
                if not queue:
                    return
                waiter = queue.popleft()
                if not queue:
                    del self._waiting[key]
        _resolve(waiter, key, value)

    def abandon(self, error: BaseException) -> None:
        """Fails every waiting future with `error`: no answer will come for them."""
        with self._lock:
            queues = list(self._waiting.values())
            self._waiting.clear()
        for queue in queues:
            for waiter in queue:
                if isinstance(waiter, asyncio.Future):
                    _settle(waiter, error=error)

    def waiting(self) -> int:
        """How many reads wait, cancelled ones included until their answer comes."""
        with self._lock:
            return sum(len(queue) for queue in self._waiting.values())


def _resolve(waiter: Waiter, key: str, value: Optional[str]) -> None:
    if isinstance(waiter, asyncio.Future):
        _settle(waiter, value)
    else:
        _dispatch.deliver(waiter, key, value)


_END = object()


class CloudChanges:
    """The client's cloud changes from the moment it was made, as an async iterator.

    ``async for change in client.cloud_changes(): ...`` gets each `CloudChange`; the
    iteration ends once the client is disposed or closed, or the stream is closed
    (`close()`, or leaving ``async with``). Changes wait in the stream until they are read.
    """

    def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
        self._loop = loop
        self._queue: "asyncio.Queue[Any]" = asyncio.Queue()
        self._ended = False
        self._unsubscribe: Callable[[], None] = lambda: None

    def _bind(self, unsubscribe: Callable[[], None]) -> None:
        self._unsubscribe = unsubscribe

    def _push(self, item: Any) -> None:
        try:
            here = asyncio.get_running_loop() is self._loop
        except RuntimeError:
            here = False
        if here:
            self._queue.put_nowait(item)
            return
        try:
            self._loop.call_soon_threadsafe(self._queue.put_nowait, item)
        except RuntimeError:
            pass  # the loop closed: nobody iterates any more

    def _end(self) -> None:
        if not self._ended:
            self._ended = True
            self._push(_END)

    def close(self) -> None:
        """Stops the stream: iteration ends after the changes already in it."""
        self._unsubscribe()
        self._end()

    async def aclose(self) -> None:
        """`close()`, for ``contextlib.aclosing`` and the like."""
        self.close()

    def __aiter__(self) -> "CloudChanges":
        return self

    async def __anext__(self) -> CloudChange:
        item = await self._queue.get()
        if item is _END:
            self._queue.put_nowait(_END)
            raise StopAsyncIteration
        return item

    async def __aenter__(self) -> "CloudChanges":
        return self

    async def __aexit__(self, *_: object) -> None:
        self.close()
