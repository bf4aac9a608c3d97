"""`Device`: a device of the host's own, opened from its options and checked at once."""

from __future__ import annotations

import ctypes
import os
import weakref
from typing import Optional, Union

from ._client import Client
from ._errors import DeviceError, QuorinError
from ._native import DeviceOptions, lib

PathLike = Union[str, "os.PathLike[str]"]

_STATUS_NAMES = {
    -1: "INVALID_OPTIONS",
    -2: "RELATIVE_CONTAINER",
    -3: "FAILED",
    -4: "UNUSABLE_CONTAINER",
    -5: "UNUSABLE_CLOUD_ACCOUNT",
}
KEY_STORES = ("secret-service", "key-file")
_URL_SCHEMES = ("redis://", "rediss://", "unix://")


def _text(value: Optional[PathLike], what: str) -> Optional[bytes]:
    if value is None:
        return None
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError(f"{what} must be a str or a path, not {type(value).__name__}")
    text = os.fspath(value)
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str or a path, not bytes")
    if not text or "\0" in text:
        raise DeviceError("INVALID_OPTIONS", f"{what} {text!r} is empty or holds a NUL: "
                                             "name it with a non-empty absolute path")
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError:
        raise DeviceError("INVALID_OPTIONS", f"{what} {text!r} is not valid Unicode text") \
            from None


def _invalid_reason(cloud_account: Optional[str], info_plist: Optional[str],
                    key_store: Optional[str], keychain_key: Optional[bytes]) -> str:
    if key_store is not None and key_store not in KEY_STORES:
        return f"key_store {key_store!r} is unknown: use one of {', '.join(KEY_STORES)}"
    if key_store is not None and keychain_key is not None:
        return "key_store and keychain_key were both given: give one of them"
    if keychain_key is not None and len(keychain_key) != 32:
        return f"keychain_key is {len(keychain_key)} bytes long: it must be 32"
    if info_plist is not None and not os.path.isabs(info_plist):
        return f"info_plist {info_plist!r} is relative: give an absolute path"
    if cloud_account is not None and "://" in cloud_account:
        if not cloud_account.startswith(_URL_SCHEMES):
            return (f"cloud_account {cloud_account!r} is a URL of an unknown scheme: use "
                    f"{', '.join(_URL_SCHEMES)} or an absolute directory")
        return (f"cloud_account {cloud_account!r} is refused: a URL needs ?account=NAME, "
                "and its ca=, cert= and key= files absolute paths")
    if cloud_account is not None and not os.path.isabs(cloud_account):
        return f"cloud_account {cloud_account!r} is relative: give an absolute directory"
    return "the options are refused"


def _refusal(status: int, container: str, cloud_account: Optional[str],
             info_plist: Optional[str], key_store: Optional[str],
             keychain_key: Optional[bytes]) -> DeviceError:
    name = _STATUS_NAMES.get(status, f"STATUS_{status}")
    if name == "RELATIVE_CONTAINER":
        message = f"container {container!r} is not an absolute path: give it as one"
    elif name == "UNUSABLE_CONTAINER":
        message = (f"container {container!r} cannot be used: its parent directory must "
                   "exist, and it must be a directory this process can read and write")
    elif name == "UNUSABLE_CLOUD_ACCOUNT":
        message = (f"cloud_account {cloud_account!r} cannot be used: its parent directory "
                   "must exist, and nothing but a directory may stand in its place")
    elif name == "FAILED":
        message = "the device could not be set up: memory or file descriptors ran out"
    else:
        message = _invalid_reason(cloud_account, info_plist, key_store, keychain_key)
    return DeviceError(name, message)


class Device:
    """A device: a container directory and the cloud account its store syncs through.

    The options are those of the `quorin` host: `container` is an absolute path, made on
    first use only where its parent directory exists; `cloud_account` an absolute directory
    or a ``redis://``, ``rediss://`` or ``unix://`` URL with ``?account=NAME`` (None for the
    user's default account); `info_plist` the application's Info.plist; `key_store`
    ``"secret-service"`` or ``"key-file"``, or else `keychain_key`, 32 bytes of the host's
    own. They are checked at once: `DeviceError` says what to change, and nothing is made.
    Several devices may be open in one process; each client keeps to its own.
    """

    def __init__(self, container: PathLike, *, cloud_account: Optional[PathLike] = None,
                 info_plist: Optional[PathLike] = None, key_store: Optional[str] = None,
                 keychain_key: Optional[bytes] = None) -> None:
        if keychain_key is not None and not isinstance(keychain_key, (bytes, bytearray)):
            raise TypeError(f"keychain_key must be bytes, not {type(keychain_key).__name__}")
        options = DeviceOptions()
        options.size = ctypes.sizeof(DeviceOptions)
        options.container = _text(container, "container")
        options.cloud_account = _text(cloud_account, "cloud_account")
        options.info_plist = _text(info_plist, "info_plist")
        options.key_store = _text(key_store, "key_store")
        if keychain_key is not None:
            key = (ctypes.c_ubyte * len(keychain_key)).from_buffer_copy(keychain_key)
            options.keychain_key = ctypes.cast(key, ctypes.POINTER(ctypes.c_ubyte))
            options.keychain_key_length = len(keychain_key)
        handle = ctypes.c_void_p()
        status = lib.qrn_device_open(ctypes.byref(options), ctypes.byref(handle))
        if status != 0:
            raise _refusal(status, os.fspath(container),
                           None if cloud_account is None else os.fspath(cloud_account),
                           None if info_plist is None else os.fspath(info_plist),
                           key_store, None if keychain_key is None else bytes(keychain_key))
        self._handle: Optional[int] = handle.value
        self._finalizer = weakref.finalize(self, lib.qrn_device_free, handle.value)

    def client(self) -> Client:
        """A new `Client` on this device, whatever device was made last."""
        if self._handle is None:
            raise QuorinError("the device is closed")
        handle = lib.qrn_device_create_client(self._handle)
        if not handle:
            raise QuorinError("the client could not be made: memory ran out")
        return Client(handle)

    def close(self) -> None:
        """Releases the device; its clients keep it until they are freed. Repeatable."""
        self._handle = None
        self._finalizer()

    def __enter__(self) -> "Device":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<quorin.Device {'closed' if self._handle is None else 'open'}>"
