"""Runs the host's listeners for the library, so that an exception one raises is never lost.

The library calls back into Python through ctypes, which would print an exception and drop
it. Listeners therefore run through `deliver`, which hands what they raise to whoever drives
the main loop: asyncio's exception handler when the package's asyncio driver drains, or the
`drain()`/`run()` call of the host, which raises it once the other listeners have run.
"""

from __future__ import annotations

import asyncio
import logging
import threading
from typing import Any, Callable, List, Optional

logger = logging.getLogger("quorin")


class _Turn:
    """Where the exceptions of one drain go."""

    def __init__(self, loop: Optional[asyncio.AbstractEventLoop]) -> None:
        self.loop = loop
        self.errors: List[BaseException] = []


_local = threading.local()


def _current() -> Optional[_Turn]:
    return getattr(_local, "turn", None)


class turn:
    """Collects the exceptions of listeners run while it is entered, on this thread.

    With `loop`, an `Exception` goes to the loop's exception handler at once and only a
    `BaseException` such as `KeyboardInterrupt` is kept, as asyncio itself treats them.
    """

    def __init__(self, loop: Optional[asyncio.AbstractEventLoop] = None) -> None:
        self._turn = _Turn(loop)
        self._outer: Optional[_Turn] = None

    def __enter__(self) -> _Turn:
        self._outer = _current()
        _local.turn = self._turn
        return self._turn

    def __exit__(self, *_: object) -> None:
        _local.turn = self._outer


def deliver(listener: Callable[..., Any], *arguments: Any) -> None:
    """Calls `listener`; what it raises goes where the current drain sends it."""
    try:
        listener(*arguments)
    except BaseException as error:  # noqa: B902 - nothing may stop in ctypes' hands
        report(error, listener)


def report(error: BaseException, source: object) -> None:
    """Sends what a listener raised to the current drain, or logs it outside of one."""
    current = _current()
    if current is None:
        logger.error("a quorin listener %r raised outside of a drain", source, exc_info=error)
    elif current.loop is not None and isinstance(error, Exception):
        current.loop.call_exception_handler(
            {"message": f"quorin listener {source!r} raised", "exception": error}
        )
    else:
        current.errors.append(error)


def raise_collected(errors: List[BaseException]) -> None:
    """Raises the first of `errors`; the others are logged, since only one can be raised."""
    if not errors:
        return
    for later in errors[1:]:
        logger.error("another quorin listener raised in the same drain", exc_info=later)
    raise errors[0]
