"""Listeners of a client's events, and the application's lifecycle events."""

from __future__ import annotations

from typing import Any, Callable, Dict, List

from . import _dispatch
from ._native import lib, to_c

# The host's names of the lifecycle events, in `qrn_application_event` order.
LIFECYCLE_EVENTS = ("foreground", "background", "active", "resign")
CLOUD_CHANGE = "cloud_change"
EVENTS = LIFECYCLE_EVENTS + (CLOUD_CHANGE,)


def check_event(event: str) -> str:
    if event not in EVENTS:
        raise ValueError(f"unknown event {event!r}: expected one of {', '.join(EVENTS)}")
    return event


def post_application_event(event: str) -> None:
    """Tells every device in use that the application changed state, as the system would.

    `event` is ``"foreground"``, ``"background"``, ``"active"`` or ``"resign"``. Listeners
    run at the main loop's next turn. Any thread.
    """
    to_c(event, "event")
    if event not in LIFECYCLE_EVENTS:
        raise ValueError(
            f"unknown application event {event!r}: expected one of {', '.join(LIFECYCLE_EVENTS)}"
        )
    lib.qrn_post_application_event(LIFECYCLE_EVENTS.index(event))


class _Entry:
    __slots__ = ("listener", "active")

    def __init__(self, listener: Callable[..., Any]) -> None:
        self.listener = listener
        self.active = True


class Subscription:
    """What `Client.on` answers: calling it (or `cancel()`) removes the listener."""

    __slots__ = ("_entries", "_entry")

    def __init__(self, entries: List[_Entry], entry: _Entry) -> None:
        self._entries = entries
        self._entry = entry

    @property
    def active(self) -> bool:
        """Whether the listener is still called."""
        return self._entry.active

    def cancel(self) -> None:
        """Removes the listener; later calls do nothing."""
        if self._entry.active:
            self._entry.active = False
            self._entries.remove(self._entry)

    __call__ = cancel


class Listeners:
    """Every event's listeners, called in the order they were added."""

    def __init__(self) -> None:
        self._events: Dict[str, List[_Entry]] = {event: [] for event in EVENTS}

    def add(self, event: str, listener: Callable[..., Any]) -> Subscription:
        if not callable(listener):
            raise TypeError(f"the listener must be callable, not {type(listener).__name__}")
        entries = self._events[check_event(event)]
        entry = _Entry(listener)
        entries.append(entry)
        return Subscription(entries, entry)

    def emit(self, event: str, *arguments: Any) -> None:
        """Calls each listener; one removed by an earlier one in this emit is skipped."""
        for entry in list(self._events[event]):
            if entry.active:
                _dispatch.deliver(entry.listener, *arguments)

    def clear(self) -> None:
        for entries in self._events.values():
            for entry in entries:
                entry.active = False
            entries.clear()
