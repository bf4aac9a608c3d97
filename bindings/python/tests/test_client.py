"""A client's facts, keychain and migration, and what it does once disposed or closed."""

from __future__ import annotations

import threading
from typing import Callable, List

import pytest

import quorin


def test_facts_are_text_flags_or_none(client: quorin.Client) -> None:
    for text in (client.device_model, client.os_version, client.language_with_region):
        assert isinstance(text, str) and text
    assert client.build_number == ""  # the device names no Info.plist
    assert isinstance(client.is_tablet, bool)
    for nullable in (client.idfa, client.idfv, client.encoded_device_identifier,
                     client.store_country):
        assert nullable is None or isinstance(nullable, str)
    assert client.idfv == client.idfv  # kept in the container
    assert client.is_application_installed("quorin-no-such-scheme") is False


def test_the_keychain_takes_the_key_first(client: quorin.Client) -> None:
    client.keychain_set("token", "secret")
    assert client.keychain_get("token") == "secret"
    assert client.keychain_get("secret") is None
    client.keychain_set("token", "ünïcödé ✓")
    assert client.keychain_get("token") == "ünïcödé ✓"
    client.keychain_remove("token")
    assert client.keychain_get("token") is None


def test_clear_keychains_erases_every_item(client: quorin.Client) -> None:
    client.keychain_set("a", "1")
    client.keychain_set("b", "2")
    client.clear_keychains()
    assert (client.keychain_get("a"), client.keychain_get("b")) == (None, None)


@pytest.mark.parametrize("key, error", [("to\0ken", ValueError), ("\ud800", ValueError),
                                        (b"token", TypeError), (None, TypeError)])
def test_keys_the_library_cannot_take_are_refused_and_nothing_is_written(
        client: quorin.Client, key: object, error: type) -> None:
    with pytest.raises(error):
        client.keychain_set(key, "secret")  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="value holds a NUL"):
        client.keychain_set("to", "sec\0ret")
    assert client.keychain_get("to") is None


def test_a_migration_with_no_legacy_data(client: quorin.Client) -> None:
    directory = client.collect_migration_data()
    assert directory is None or isinstance(directory, str)
    client.clear_data_after_migration()


def test_after_dispose_the_keychain_works_and_the_cloud_refuses(client: quorin.Client) -> None:
    client.dispose()
    client.keychain_set("token", "still")
    assert client.keychain_get("token") == "still"
    client.cloud_set("key", "ignored")
    with pytest.raises(quorin.QuorinError, match="disposed"):
        client.cloud_fetch("key", lambda key, value: None)
    with pytest.raises(quorin.QuorinError, match="disposed"):
        client.on("active", lambda: None)
    assert "disposed" in repr(client)


def test_after_close_every_call_raises(make_device: Callable[[str], quorin.Device]) -> None:
    with make_device("device").client() as client:
        client.keychain_set("token", "kept")
    assert client.closed
    for call in (lambda: client.keychain_get("token"), lambda: client.device_model,
                 lambda: client.cloud_set("k", "v"), client.dispose):
        with pytest.raises(quorin.QuorinError, match="closed"):
            call()
    client.close()  # again: nothing


def test_calls_from_several_threads_on_one_client_take_turns(client: quorin.Client) -> None:
    failures: List[str] = []

    def work(number: int) -> None:
        for round in range(30):
            key = f"key-{number}"
            client.keychain_set(key, f"{number}-{round}")
            if client.keychain_get(key) != f"{number}-{round}":
                failures.append(key)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
