"""Cloud reads awaited from asyncio, their pairing with the library's answers, and the
store's changes, quota refusals included."""

from __future__ import annotations

import asyncio
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable, List, Optional

import pytest

import quorin
from quorin._cloud import CloudReads
from conftest import child_environment

SAFETY = 20  # seconds: far beyond any answer here, and below the library's 30 s wait


async def started(*coroutines: "asyncio.Future[object]") -> List["asyncio.Task[object]"]:
    tasks = [asyncio.ensure_future(coroutine) for coroutine in coroutines]
    await asyncio.sleep(0)  # each runs up to its wait: its read is asked
    return tasks


def test_a_present_value_is_answered_at_once(client: quorin.Client) -> None:
    async def main() -> Optional[str]:
        client.cloud_set("greeting", "hello")
        return await client.cloud_get("greeting")

    assert asyncio.run(main()) == "hello"


def test_reads_of_one_key_and_of_many_are_each_answered_by_another_device(
        make_device: Callable[[str], quorin.Device]) -> None:
    reader, writer = make_device("reader").client(), make_device("writer").client()

    async def main() -> List[object]:
        tasks = await started(*(reader.cloud_get(key) for key in ("a", "a", "b", "a", "c")))
        assert reader._core.reads.waiting() == 5
        writer.cloud_set("a", "1")
        writer.cloud_set("b", "2")
        writer.cloud_set("c", "3")
        return list(await asyncio.wait_for(asyncio.gather(*tasks), SAFETY))

    assert asyncio.run(main()) == ["1", "1", "2", "1", "3"]
    assert reader._core.reads.waiting() == 0


def test_a_cancelled_read_leaves_the_others_answered(
        make_device: Callable[[str], quorin.Device]) -> None:
    reader, writer = make_device("reader").client(), make_device("writer").client()

    async def main() -> List[object]:
        first, second = await started(reader.cloud_get("key"), reader.cloud_get("key"))
        with pytest.raises(asyncio.TimeoutError):
            await asyncio.wait_for(first, 0.01)
        third, = await started(reader.cloud_get("key"))
        writer.cloud_set("key", "value")
        return list(await asyncio.wait_for(asyncio.gather(second, third), SAFETY))

    assert asyncio.run(main()) == ["value", "value"]


def test_a_read_waiting_at_dispose_raises(make_device: Callable[[str], quorin.Device]) -> None:
    client = make_device("device").client()

    async def main() -> None:
        waiting, = await started(client.cloud_get("absent"))
        client.dispose()
        with pytest.raises(quorin.QuorinError, match="disposed while the read waited"):
            await asyncio.wait_for(waiting, SAFETY)
        with pytest.raises(quorin.QuorinError, match="disposed"):
            await client.cloud_get("absent")

    asyncio.run(main())


def test_answers_pair_with_reads_in_order_and_a_cancelled_read_keeps_its_place() -> None:
    async def main() -> None:
        loop = asyncio.get_running_loop()
        reads = CloudReads()
        first, second, third = (loop.create_future() for _ in range(3))
        for future in (first, second):
            reads.read("k", future, lambda: None)
        first.cancel()
        # A value there already answers its own read, not the ones that wait before it.
        reads.read("k", third, lambda: reads.answer("k", "present"))
        assert third.result() == "present"
        reads.answer("k", None)  # the cancelled read's answer: taken by it
        assert not second.done()
        reads.answer("k", "late")
        assert second.result() == "late"
        reads.answer("k", "unasked")  # nobody waits: dropped
        assert reads.waiting() == 0

    asyncio.run(main())


def test_a_sync_host_reads_through_a_callback(make_device: Callable[[str], quorin.Device]) -> None:
    reader, writer = make_device("reader").client(), make_device("writer").client()
    heard: List[object] = []
    reader.cloud_set("here", "now")
    reader.cloud_fetch("here", lambda key, value: heard.append((key, value)))
    assert heard == [("here", "now")]
    reader.cloud_fetch("later", lambda key, value: (heard.append((key, value)), quorin.stop()))
    writer.cloud_set("later", "then")
    assert quorin.run(SAFETY)
    assert heard[1] == ("later", "then")


def test_another_devices_write_and_a_quota_refusal_are_changes(
        make_device: Callable[[str], quorin.Device]) -> None:
    watching, writer = make_device("watching").client(), make_device("writer").client()
    heard: List[quorin.CloudChange] = []
    watching.on("cloud_change", heard.append)

    async def main() -> List[quorin.CloudChange]:
        changes = []
        async with watching.cloud_changes() as stream:
            writer.cloud_set("shared", "v")
            watching.cloud_set("huge", "x" * (1024 * 1024 + 1))
            async for change in stream:
                changes.append(change)
                if "huge" in change.keys:
                    break
        return changes

    changes = asyncio.run(asyncio.wait_for(main(), SAFETY))
    assert changes[0].keys == ("shared",)
    assert changes[0].reason in (quorin.CloudChangeReason.SERVER,
                                 quorin.CloudChangeReason.INITIAL_SYNC)
    assert changes[-1] == quorin.CloudChange(quorin.CloudChangeReason.QUOTA_VIOLATION, ("huge",))
    assert changes[-1].reason == 2
    assert heard == changes


def test_a_stream_ends_when_its_client_is_disposed(client: quorin.Client) -> None:
    async def main() -> List[quorin.CloudChange]:
        stream = client.cloud_changes()
        client.dispose()
        return [change async for change in stream]

    assert asyncio.run(asyncio.wait_for(main(), SAFETY)) == []


WRITER = """
import sys, quorin
device = quorin.Device(sys.argv[1], cloud_account=sys.argv[2], key_store="key-file")
with device.client() as client:
    client.cloud_set("from-afar", "written")
"""


def test_a_read_is_answered_by_another_process_and_waits_without_cpu(
        tmp_path: Path, cloud: Path, client: quorin.Client) -> None:
    async def main() -> "tuple[Optional[str], float, float]":
        waiting, = await started(client.cloud_get("from-afar"))
        child = subprocess.Popen([sys.executable, "-c", WRITER, str(tmp_path / "afar"),
                                  str(cloud)], env=child_environment())
        cpu, wall = time.process_time(), time.monotonic()
        value = await asyncio.wait_for(waiting, SAFETY)
        cpu, wall = time.process_time() - cpu, time.monotonic() - wall
        assert child.wait(SAFETY) == 0
        return value, cpu, wall

    value, cpu, wall = asyncio.run(main())
    print(f"waited {wall:.3f}s using {cpu:.4f}s of CPU")
    assert value == "written"
    # The child takes a few hundred milliseconds to start: a loop that polled would spend
    # most of them on the processor.
    assert cpu < max(0.05, wall * 0.2), f"{cpu:.3f}s of CPU in {wall:.3f}s of waiting"
