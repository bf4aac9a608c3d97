"""Clients dropped without dispose: freed on the main-loop thread, leaking nothing."""

from __future__ import annotations

import asyncio
import gc
import os
import threading
from typing import Any, Callable, List

import pytest

import quorin
from conftest import run_python
from quorin import _mainloop, _trampolines

CLIENTS = 10_000


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def open_descriptors() -> int:
    return len(os.listdir("/proc/self/fd"))


def test_dropped_clients_leave_memory_and_descriptors_flat(
        make_device: Callable[[str], quorin.Device]) -> None:
    device = make_device("device")

    def drop(count: int) -> None:
        # In batches: a client dropped at once waits for its own set-up to end first.
        for _ in range(0, count, 50):
            batch = [device.client() for _ in range(50)]
            batch[0].keychain_get("token")
            del batch
            quorin.drain()
        gc.collect()

    drop(CLIENTS // 5)
    memory, descriptors, registered = resident_bytes(), open_descriptors(), len(_trampolines._cores)
    drop(CLIENTS - CLIENTS // 5)
    growth = resident_bytes() - memory
    assert growth < 8 * 1024 * 1024, f"{growth} bytes more after {CLIENTS} clients"
    assert open_descriptors() == descriptors
    assert len(_trampolines._cores) == registered


class RecordingLibrary:
    """The library, with the thread of each qrn_client_free recorded."""

    def __init__(self, library: Any) -> None:
        self._library = library
        self.freed_on: List[threading.Thread] = []

    def qrn_client_free(self, handle: int) -> None:
        self.freed_on.append(threading.current_thread())
        self._library.qrn_client_free(handle)

    def __getattr__(self, name: str) -> Any:
        return getattr(self._library, name)


@pytest.fixture
def recording(monkeypatch: pytest.MonkeyPatch) -> RecordingLibrary:
    library = RecordingLibrary(_mainloop.lib)
    monkeypatch.setattr(_mainloop, "lib", library)
    return library


def test_a_client_finalized_on_another_thread_during_a_drain_is_freed_by_the_drain(
        make_device: Callable[[str], quorin.Device], recording: RecordingLibrary) -> None:
    device = make_device("device")
    host = device.client()
    held = [device.client()]
    seen: List[int] = []

    def drop_elsewhere() -> None:
        worker = threading.Thread(target=lambda: (held.clear(), gc.collect()))
        worker.start()
        worker.join()
        seen.append(len(recording.freed_on))

    host.on("active", drop_elsewhere)
    quorin.post_application_event("active")
    quorin.drain()
    assert seen == [0]  # not freed off the draining thread while it drained
    assert recording.freed_on == [threading.current_thread()]


def test_a_client_finalized_between_drains_is_freed_at_once(
        make_device: Callable[[str], quorin.Device], recording: RecordingLibrary) -> None:
    held = [make_device("device").client()]
    worker = threading.Thread(target=lambda: (held.clear(), gc.collect()))
    worker.start()
    worker.join()
    assert recording.freed_on == [worker]


def test_a_free_deferred_by_a_main_thread_call_wakes_the_asyncio_loop(
        make_device: Callable[[str], quorin.Device], recording: RecordingLibrary) -> None:
    device = make_device("device")

    async def main() -> None:
        loop = asyncio.get_running_loop()
        host = device.client()  # made in the loop: the package drains from it
        held = [device.client()]
        done = asyncio.Event()
        await asyncio.sleep(0)  # the package's first turn, on attaching, has run

        def elsewhere() -> None:
            with _mainloop.loop_lock:  # as dispose() on this thread would
                dropper = threading.Thread(target=lambda: (held.clear(), gc.collect()))
                dropper.start()
                dropper.join()
            assert recording.freed_on == []
            # Queued after the wake: the loop has drained once this is set.
            loop.call_soon_threadsafe(done.set)

        worker = threading.Thread(target=elsewhere)
        worker.start()
        await asyncio.wait_for(done.wait(), 20)
        worker.join()
        assert recording.freed_on == [threading.current_thread()]
        host.close()

    asyncio.run(main())


def test_a_dropped_device_keeps_its_clients_working(tmp_path: Any) -> None:
    device = quorin.Device(tmp_path / "device", cloud_account=tmp_path / "cloud",
                           key_store="key-file")
    client = device.client()
    del device
    gc.collect()
    client.keychain_set("token", "kept")
    assert client.keychain_get("token") == "kept"
    client.close()


def test_a_client_collected_while_another_is_registered_is_freed() -> None:
    # The collector may run at any allocation, the registry's own included: a client kept
    # alive only by a cycle is then finalized on a thread that is filing another.
    result = run_python("""
import faulthandler, gc, tempfile
faulthandler.dump_traceback_later(10, exit=True)
import quorin
from quorin import _trampolines
root = tempfile.mkdtemp()
device = quorin.Device(root + "/device", cloud_account=root + "/cloud", key_store="key-file")
gc.disable()
def cycle():
    client = device.client()
    client.on("active", lambda: client)
cycle()
with _trampolines._cores_lock:
    gc.collect()
print(len(_trampolines._cores))
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "0"
