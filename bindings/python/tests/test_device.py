"""Devices: checked at once, refused with a status and what to fix, several side by side."""

from __future__ import annotations

from pathlib import Path

import pytest

import quorin


def refusal(**options: object) -> quorin.DeviceError:
    container = options.pop("container")
    with pytest.raises(quorin.DeviceError) as raised:
        quorin.Device(container, **options)  # type: ignore[arg-type]
    return raised.value


def test_a_relative_container_is_refused(tmp_path: Path) -> None:
    error = refusal(container="device")
    assert error.status == "RELATIVE_CONTAINER"
    assert "'device' is not an absolute path" in str(error)
    assert isinstance(error, quorin.QuorinError)


def test_a_container_whose_parent_is_missing_is_refused_and_not_made(tmp_path: Path) -> None:
    error = refusal(container=tmp_path / "missing" / "device")
    assert error.status == "UNUSABLE_CONTAINER"
    assert "parent directory must exist" in str(error)
    assert not (tmp_path / "missing").exists()


def test_a_cloud_account_whose_parent_is_missing_is_refused(tmp_path: Path) -> None:
    error = refusal(container=tmp_path / "device", cloud_account=tmp_path / "no" / "cloud")
    assert error.status == "UNUSABLE_CLOUD_ACCOUNT"
    assert "cloud_account" in str(error)
    assert not (tmp_path / "no").exists() and not (tmp_path / "device").exists()


@pytest.mark.parametrize(
    "options, hint",
    [
        ({"keychain_key": b"k" * 31}, "31 bytes long: it must be 32"),
        ({"key_store": "key-file", "keychain_key": b"k" * 32}, "give one of them"),
        ({"key_store": "vault"}, "'vault' is unknown"),
        ({"info_plist": "Info.plist"}, "'Info.plist' is relative"),
        ({"cloud_account": "cloud"}, "'cloud' is relative"),
        ({"cloud_account": "http://host/"}, "unknown scheme"),
        ({"cloud_account": ""}, "is empty"),
        ({"cloud_account": "/tmp/a\0b"}, "holds a NUL"),
    ],
)
def test_invalid_options_say_which_option_to_change(tmp_path: Path, options: dict,
                                                     hint: str) -> None:
    error = refusal(container=tmp_path / "device", **options)
    assert error.status == "INVALID_OPTIONS"
    assert hint in str(error)
    assert not (tmp_path / "device").exists()


def test_wrong_types_are_type_errors(tmp_path: Path) -> None:
    with pytest.raises(TypeError):
        quorin.Device(42)  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        quorin.Device(tmp_path / "device", keychain_key="k" * 32)  # type: ignore[arg-type]


def test_devices_side_by_side_keep_their_own_keychains(tmp_path: Path) -> None:
    key = bytes(range(32))
    first = quorin.Device(str(tmp_path / "first"), cloud_account=tmp_path / "cloud",
                          keychain_key=key)
    second = quorin.Device(tmp_path / "second", cloud_account=tmp_path / "cloud",
                           key_store="key-file")
    with first.client() as one, second.client() as two:
        one.keychain_set("token", "one")
        two.keychain_set("token", "two")
        first.close()
        assert one.keychain_get("token") == "one"
        assert two.keychain_get("token") == "two"
        with pytest.raises(quorin.QuorinError, match="closed"):
            first.client()
    second.close()


def test_a_host_key_opens_the_same_keychain_again(tmp_path: Path) -> None:
    key = bytes(range(32))
    with quorin.Device(tmp_path / "device", keychain_key=key,
                       cloud_account=tmp_path / "cloud") as device:
        with device.client() as client:
            client.keychain_set("token", "kept")
    with quorin.Device(tmp_path / "device", keychain_key=key,
                       cloud_account=tmp_path / "cloud") as device:
        with device.client() as client:
            assert client.keychain_get("token") == "kept"
