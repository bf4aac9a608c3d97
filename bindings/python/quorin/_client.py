"""`Client`: one facade of the library on a device."""

from __future__ import annotations

import asyncio
import threading
import weakref
from typing import Any, Callable, List, Optional

from . import _mainloop, _trampolines
from ._cloud import CloudChanges, CloudReads
from ._errors import QuorinError
from ._events import CLOUD_CHANGE, Listeners, Subscription, check_event
from ._native import lib, take_string, to_c


class _Core:
    """What the trampolines reach: the handle, the listeners and the waiting reads."""

    def __init__(self, handle: int) -> None:
        self.handle: Optional[int] = handle
        self.lock = threading.RLock()
        self.listeners = Listeners()
        self.reads = CloudReads()
        self.streams: List[CloudChanges] = []
        self.disposed = False
        self.number = _trampolines.register(self)


def _release(handle: int, number: int, streams: List[CloudChanges]) -> None:
    # Holds no reference to the client, so that a listener closing over the client does
    # not keep it alive through its own finalizer.
    _trampolines.unregister(number)
    _mainloop.free_client(handle)
    for stream in streams:
        stream._end()


class Client:
    """A facade of the library on one device, made by `Device.client()`.

    Use it as a context manager (``with device.client() as client:``) or call `close()`;
    one that is collected without either is freed all the same, on the thread that drives
    the main loop (at its next drain when the collector runs on another thread).

    Threads: calls on one client run one at a time (a second thread waits for the first);
    listeners run on the thread that drives the main loop. After `dispose()` the keychain,
    the facts and the migration still work, cloud writes do nothing (as in the C interface)
    and `cloud_get` raises `QuorinError`, since nothing would answer it; after `close()`
    every call raises `QuorinError`.
    """

    def __init__(self, handle: int) -> None:
        """Adopts `handle`, a `qrn_client*`; use `Device.client()` instead."""
        core = _Core(handle)
        self._core = core
        self._finalizer = weakref.finalize(core, _release, handle, core.number, core.streams)
        _mainloop.main_thread_call(_trampolines.install, handle, core.number)
        _mainloop.attach()

    def _handle(self) -> int:
        handle = self._core.handle
        if handle is None:
            raise QuorinError("the client is closed")
        return handle

    def _call(self, function: Callable[..., Any], *arguments: Any) -> Any:
        with self._core.lock:
            return function(self._handle(), *arguments)

    def _text(self, function: Callable[..., Any], *arguments: Any) -> Optional[str]:
        return take_string(self._call(function, *arguments))

    def _fact(self, function: Callable[..., Any]) -> str:
        return self._text(function) or ""

    # ---- set-up and teardown ----

    def dispose(self) -> None:
        """Stops the client's events: no listener runs afterwards, waiting `cloud_get`
        calls raise `QuorinError`, and `cloud_changes()` streams end."""
        core = self._core
        _mainloop.main_thread_call(self._call, lib.qrn_client_dispose)
        core.disposed = True
        core.listeners.clear()
        core.reads.abandon(QuorinError("the client was disposed while the read waited"))
        for stream in core.streams:
            stream._end()

    def close(self) -> None:
        """Disposes and frees the client; later calls raise `QuorinError`. Repeatable."""
        if self._core.handle is None:
            return
        self.dispose()
        with self._core.lock:
            self._core.handle = None
        self._finalizer()

    @property
    def closed(self) -> bool:
        """Whether `close()` was called."""
        return self._core.handle is None

    def __enter__(self) -> "Client":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    # ---- device and environment facts, read on each call ----

    @property
    def device_model(self) -> str:
        """The device's model, as `uname` names the machine."""
        return self._fact(lib.qrn_client_device_model)

    @property
    def os_version(self) -> str:
        """The operating system's version."""
        return self._fact(lib.qrn_client_os_version)

    @property
    def build_number(self) -> str:
        """The Info.plist's ``CFBundleVersion``; ``""`` when the device names no Info.plist."""
        return self._fact(lib.qrn_client_build_number)

    @property
    def is_tablet(self) -> bool:
        """Whether the device is a tablet."""
        return bool(self._call(lib.qrn_client_is_tablet))

    @property
    def language_with_region(self) -> str:
        """The preferred language and region, such as ``"en-US"``."""
        return self._fact(lib.qrn_client_language_with_region)

    @property
    def idfa(self) -> Optional[str]:
        """The advertising identifier, or None when tracking is not allowed."""
        return self._text(lib.qrn_client_idfa)

    @property
    def idfv(self) -> Optional[str]:
        """The identifier for the vendor, or None."""
        return self._text(lib.qrn_client_idfv)

    @property
    def encoded_device_identifier(self) -> Optional[str]:
        """The device identifier the SDK reports, encoded, or None."""
        return self._text(lib.qrn_client_encoded_device_identifier)

    @property
    def store_country(self) -> Optional[str]:
        """The App Store storefront's country code, or None."""
        return self._text(lib.qrn_client_store_country)

    def is_application_installed(self, scheme: str) -> bool:
        """Whether an application handles URLs of `scheme` (such as ``"https"``)."""
        return bool(self._call(lib.qrn_client_is_application_installed_for_scheme,
                               to_c(scheme, "scheme")))

    # ---- the legacy SDK's data ----

    def collect_migration_data(self) -> Optional[str]:
        """Gathers the legacy SDK's data into JSON files; their directory, or None."""
        return self._text(lib.qrn_client_collect_migration_data)

    def clear_data_after_migration(self) -> None:
        """After a collection: erases the legacy data and the collected files."""
        self._call(lib.qrn_client_clear_data_after_migration)

    # ---- keychain: works in every state but closed ----

    def keychain_get(self, key: str) -> Optional[str]:
        """The keychain's value for `key`, or None."""
        return self._text(lib.qrn_client_get_string_value_in_keychain_for_key,
                          to_c(key, "key"))

    def keychain_set(self, key: str, value: str) -> None:
        """Keeps `value` in the keychain under `key`."""
        key_bytes, value_bytes = to_c(key, "key"), to_c(value, "value")
        self._call(lib.qrn_client_set_string_value_in_keychain, value_bytes, key_bytes)

    def keychain_remove(self, key: str) -> None:
        """Removes the keychain's value for `key`."""
        self._call(lib.qrn_client_remove_value_in_keychain_for_key, to_c(key, "key"))

    def clear_keychains(self) -> None:
        """Erases this SDK's keychain items and those of the SDK before it."""
        self._call(lib.qrn_client_clear_keychains)

    # ---- the cloud key-value store ----

    def cloud_set(self, key: str, value: str) -> None:
        """Writes `value` under `key` to the cloud store; nothing after `dispose()`."""
        key_bytes, value_bytes = to_c(key, "key"), to_c(value, "value")
        self._call(lib.qrn_client_set_value_to_cloud_store, value_bytes, key_bytes)

    def cloud_remove(self, key: str) -> None:
        """Removes `key` from the cloud store; nothing after `dispose()`."""
        self._call(lib.qrn_client_remove_value_from_cloud_store_for_key, to_c(key, "key"))

    async def cloud_get(self, key: str) -> Optional[str]:
        """The cloud store's value for `key`: at once when it is there, else when another
        device writes it, else None after 30 seconds.

        Any number of reads may wait at once, and cancelling one (`asyncio.wait_for`)
        leaves the others waiting. Raises `QuorinError` after `dispose()`.
        """
        data = to_c(key, "key")
        loop = _mainloop.attach()
        assert loop is not None  # a coroutine runs in a loop
        future: "asyncio.Future[Optional[str]]" = loop.create_future()
        self._read(key, data, future)
        return await future

    def cloud_fetch(self, key: str, callback: Callable[[str, Optional[str]], Any]) -> None:
        """`cloud_get` for hosts without asyncio: `callback(key, value)` runs once, before
        this returns when the value is there, else in a later `drain()` or `run()`."""
        if not callable(callback):
            raise TypeError(f"the callback must be callable, not {type(callback).__name__}")
        self._read(key, to_c(key, "key"), callback)

    def _read(self, key: str, data: bytes, waiter: Any) -> None:
        core = self._core
        with core.lock:
            handle = self._handle()
            if core.disposed:
                raise QuorinError("the client is disposed: its cloud store answers nothing")
            core.reads.read(key, waiter,
                            lambda: lib.qrn_client_fetch_value_from_cloud_store_for_key(
                                handle, data))

    def cloud_changes(self) -> CloudChanges:
        """The store's external changes from now on, as an async iterator of `CloudChange`:
        ``async for change in client.cloud_changes():``. Call it in a running loop."""
        loop = _mainloop.attach()
        if loop is None:
            raise QuorinError("cloud_changes() needs a running asyncio loop; "
                              "without one, use client.on('cloud_change', callback)")
        self._check_events()
        stream = CloudChanges(loop)
        subscription = self._core.listeners.add(CLOUD_CHANGE, stream._push)
        streams = self._core.streams
        streams.append(stream)

        def unsubscribe() -> None:
            subscription.cancel()
            if stream in streams:
                streams.remove(stream)

        stream._bind(unsubscribe)
        return stream

    # ---- events ----

    def on(self, event: str, listener: Callable[..., Any]) -> Subscription:
        """Calls `listener` on each `event`; answers a `Subscription` that removes it.

        Events: ``"foreground"``, ``"background"``, ``"active"`` and ``"resign"`` (called
        with no argument), and ``"cloud_change"`` (called with a `CloudChange`). Any number
        of listeners per event run in the order they were added, on the thread that drives
        the main loop; one that raises does not keep the others from running.
        """
        check_event(event)
        self._check_events()
        subscription = self._core.listeners.add(event, listener)
        _mainloop.attach()
        return subscription

    def _check_events(self) -> None:
        self._handle()
        if self._core.disposed:
            raise QuorinError("the client is disposed: it has no events any more")

    def __repr__(self) -> str:
        state = "closed" if self.closed else "disposed" if self._core.disposed else "open"
        return f"<quorin.Client {state}>"
