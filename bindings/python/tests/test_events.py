"""Lifecycle listeners, and what happens to the exceptions they raise."""

from __future__ import annotations

import asyncio
import gc
import logging
from typing import Any, Dict, List

import pytest

import quorin


class Boom(Exception):
    pass


def raise_boom() -> None:
    raise Boom("from a listener")


def test_every_listener_runs_in_order_until_unsubscribed(client: quorin.Client) -> None:
    heard: List[str] = []
    first = client.on("active", lambda: heard.append("first"))
    client.on("active", lambda: heard.append("second"))
    client.on("resign", lambda: heard.append("resign"))
    quorin.post_application_event("active")
    quorin.drain()
    assert heard == ["first", "second"]
    first()
    assert not first.active
    first.cancel()  # again: nothing
    quorin.post_application_event("active")
    quorin.post_application_event("resign")
    quorin.drain()
    assert heard == ["first", "second", "second", "resign"]


def test_each_event_reaches_its_own_listeners(client: quorin.Client) -> None:
    heard: List[str] = []
    for event in ("foreground", "background", "active", "resign"):
        client.on(event, lambda event=event: heard.append(event))
    for event in ("resign", "background", "foreground", "active"):
        quorin.post_application_event(event)
    quorin.drain()
    assert heard == ["resign", "background", "foreground", "active"]


def test_unknown_events_are_refused(client: quorin.Client) -> None:
    with pytest.raises(ValueError, match="expected one of foreground"):
        quorin.post_application_event("sleep")
    with pytest.raises(ValueError, match="unknown event"):
        client.on("sleep", lambda: None)
    with pytest.raises(TypeError):
        client.on("active", "not callable")  # type: ignore[arg-type]


def test_a_listener_removed_by_an_earlier_one_does_not_run(client: quorin.Client) -> None:
    heard: List[str] = []
    later: List[quorin.Subscription] = []
    client.on("active", lambda: later[0]())
    later.append(client.on("active", lambda: heard.append("removed")))
    quorin.post_application_event("active")
    quorin.drain()
    assert heard == []


def test_a_listener_only_the_client_holds_is_kept_and_called(client: quorin.Client) -> None:
    heard: List[str] = []

    class Listener:
        def __call__(self) -> None:
            heard.append("called")

    client.on("active", Listener())
    gc.collect()
    quorin.post_application_event("active")
    quorin.drain()
    assert heard == ["called"]


def test_drain_raises_what_a_listener_raised_after_the_others_ran(
        client: quorin.Client, caplog: pytest.LogCaptureFixture) -> None:
    heard: List[str] = []
    client.on("active", raise_boom)
    client.on("active", lambda: heard.append("after"))
    client.on("active", lambda: (_ for _ in ()).throw(KeyError("second")))
    quorin.post_application_event("active")
    with caplog.at_level(logging.ERROR, logger="quorin"):
        with pytest.raises(Boom, match="from a listener"):
            quorin.drain()
    assert heard == ["after"]
    assert any(record.exc_info and record.exc_info[0] is KeyError for record in caplog.records)
    assert quorin.drain() == 0


def test_run_ends_on_a_listeners_exception_and_raises_it(client: quorin.Client) -> None:
    client.on("active", raise_boom)
    quorin.post_application_event("active")
    with pytest.raises(Boom):
        quorin.run(20)


def test_run_answers_whether_stop_ended_it(client: quorin.Client) -> None:
    client.on("active", quorin.stop)
    quorin.post_application_event("active")
    assert quorin.run(20) is True
    quorin.stop()  # no run in progress: not kept for the next one
    assert quorin.run(0.01) is False


def test_under_asyncio_an_exception_reaches_the_loops_handler(client: quorin.Client) -> None:
    heard: List[str] = []
    handled: List[Dict[str, Any]] = []

    async def main() -> None:
        loop = asyncio.get_running_loop()
        loop.set_exception_handler(lambda _, context: handled.append(context))
        done = loop.create_future()
        client.on("background", raise_boom)
        client.on("background", lambda: (heard.append("after"), done.set_result(None)))
        quorin.post_application_event("background")
        await asyncio.wait_for(done, 20)

    asyncio.run(main())
    assert heard == ["after"]
    assert len(handled) == 1 and isinstance(handled[0]["exception"], Boom)


def test_asyncio_drives_listeners_without_drain_or_run(
        make_device: Any) -> None:
    async def main() -> List[str]:
        # Made inside the loop: the package attaches itself to it.
        client = make_device("device").client()
        heard: List[str] = []
        done = asyncio.get_running_loop().create_future()
        client.on("foreground", lambda: (heard.append("foreground"), done.set_result(None)))
        quorin.post_application_event("foreground")
        await asyncio.wait_for(done, 20)
        client.close()
        return heard

    assert asyncio.run(main()) == ["foreground"]
    # A second loop, after the first one closed, is attached in its turn.
    assert asyncio.run(main()) == ["foreground"]
