"""The C callbacks every client is given, and the registry they find their client in.

They are made once and live as long as the module, so the library can never call one that
Python collected. Each client's context is a number that names it here, held weakly, so a
collected client is simply not found.
"""

from __future__ import annotations

import itertools
import threading
import weakref
from typing import TYPE_CHECKING, Any, Dict, Optional, Tuple

from . import _dispatch
from ._cloud import CloudChange, CloudChangeReason
from ._events import CLOUD_CHANGE, LIFECYCLE_EVENTS
from ._native import ChangeCallback, LifecycleCallback, ValueCallback, lib

if TYPE_CHECKING:
    from ._client import _Core

_cores: Dict[int, "weakref.ref[_Core]"] = {}
# Reentrant: the collector may finalize a client, which unregisters it, on a thread that is
# registering another under the lock.
_cores_lock = threading.RLock()
_numbers = itertools.count(1)


def register(core: "_Core") -> int:
    """Files `core` under a new number, its context for the library."""
    with _cores_lock:
        number = next(_numbers)
        _cores[number] = weakref.ref(core)
    return number


def unregister(number: int) -> None:
    with _cores_lock:
        _cores.pop(number, None)


def _core(context: Optional[int]) -> "Optional[_Core]":
    reference = _cores.get(context or 0)
    return reference() if reference is not None else None


def _text(raw: Optional[bytes]) -> Optional[str]:
    return None if raw is None else raw.decode("utf-8")


@ValueCallback
def _on_value(context: Optional[int], key: bytes, value: Optional[bytes]) -> None:
    try:
        core = _core(context)
        if core is not None:
            core.reads.answer(key.decode("utf-8"), _text(value))
    except BaseException as error:  # noqa: B902 - ctypes would drop it
        _dispatch.report(error, "the cloud read's answer")


@ChangeCallback
def _on_change(context: Optional[int], reason: int, keys: Any, count: int) -> None:
    try:
        core = _core(context)
        if core is not None:
            names = tuple(keys[i].decode("utf-8") for i in range(count))
            core.listeners.emit(CLOUD_CHANGE, CloudChange(CloudChangeReason(reason), names))
    except BaseException as error:  # noqa: B902 - ctypes would drop it
        _dispatch.report(error, "the cloud change")


def _lifecycle(event: str) -> Any:
    @LifecycleCallback
    def trampoline(context: Optional[int]) -> None:
        try:
            core = _core(context)
            if core is not None:
                core.listeners.emit(event)
        except BaseException as error:  # noqa: B902 - ctypes would drop it
            _dispatch.report(error, event)

    return trampoline


_on_lifecycle = tuple(_lifecycle(event) for event in LIFECYCLE_EVENTS)

_SETTERS: Tuple[Tuple[Any, Any], ...] = (
    (lib.qrn_client_set_on_cloud_store_value_fetched, _on_value),
    (lib.qrn_client_set_on_cloud_store_change, _on_change),
    (lib.qrn_client_set_on_application_enter_foreground, _on_lifecycle[0]),
    (lib.qrn_client_set_on_application_enter_background, _on_lifecycle[1]),
    (lib.qrn_client_set_on_application_did_become_active, _on_lifecycle[2]),
    (lib.qrn_client_set_on_application_will_resign_active, _on_lifecycle[3]),
)


def install(handle: int, number: int) -> None:
    """Gives the client every trampoline, with `number` as their context. Main thread."""
    for setter, trampoline in _SETTERS:
        setter(handle, trampoline, number)
