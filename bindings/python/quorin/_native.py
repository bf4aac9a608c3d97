"""Loads libQuorinNative.so.1 and declares the C interface's prototypes.

Every `char*` the library returns is declared `c_void_p`, so that it reaches Python as the
address the library allocated and can be handed back to `qrn_string_free`.
"""

from __future__ import annotations

import ctypes
import os
from ctypes import (
    CFUNCTYPE,
    POINTER,
    Structure,
    c_bool,
    c_char_p,
    c_double,
    c_int,
    c_size_t,
    c_ubyte,
    c_void_p,
)
from typing import Any, Optional, Sequence, Tuple

ENVIRONMENT = "QUORIN_NATIVE_LIBRARY"
SONAME = "libQuorinNative.so.1"

ValueCallback = CFUNCTYPE(None, c_void_p, c_char_p, c_char_p)
LifecycleCallback = CFUNCTYPE(None, c_void_p)
ChangeCallback = CFUNCTYPE(None, c_void_p, c_int, POINTER(c_char_p), c_size_t)
DiagnosticCallback = CFUNCTYPE(None, c_void_p, c_char_p)


class DeviceOptions(Structure):
    """`qrn_device_options`, fields in the header's order."""

    _fields_ = [
        ("size", c_size_t),
        ("container", c_char_p),
        ("cloud_account", c_char_p),
        ("info_plist", c_char_p),
        ("key_store", c_char_p),
        ("keychain_key", POINTER(c_ubyte)),
        ("keychain_key_length", c_size_t),
    ]


_CLIENT = c_void_p
_TEXT = c_char_p

_PROTOTYPES: Sequence[Tuple[str, Any, Sequence[Any]]] = (
    ("qrn_string_free", None, (c_void_p,)),
    ("qrn_client_free", None, (_CLIENT,)),
    ("qrn_client_dispose", None, (_CLIENT,)),
    ("qrn_client_set_on_cloud_store_value_fetched", None, (_CLIENT, ValueCallback, c_void_p)),
    ("qrn_client_set_on_application_enter_foreground", None,
     (_CLIENT, LifecycleCallback, c_void_p)),
    ("qrn_client_set_on_application_enter_background", None,
     (_CLIENT, LifecycleCallback, c_void_p)),
    ("qrn_client_set_on_application_did_become_active", None,
     (_CLIENT, LifecycleCallback, c_void_p)),
    ("qrn_client_set_on_application_will_resign_active", None,
     (_CLIENT, LifecycleCallback, c_void_p)),
    ("qrn_client_set_on_cloud_store_change", None, (_CLIENT, ChangeCallback, c_void_p)),
    ("qrn_client_device_model", c_void_p, (_CLIENT,)),
    ("qrn_client_os_version", c_void_p, (_CLIENT,)),
    ("qrn_client_build_number", c_void_p, (_CLIENT,)),
    ("qrn_client_is_tablet", c_bool, (_CLIENT,)),
    ("qrn_client_language_with_region", c_void_p, (_CLIENT,)),
    ("qrn_client_idfa", c_void_p, (_CLIENT,)),
    ("qrn_client_idfv", c_void_p, (_CLIENT,)),
    ("qrn_client_encoded_device_identifier", c_void_p, (_CLIENT,)),
    ("qrn_client_store_country", c_void_p, (_CLIENT,)),
    ("qrn_client_is_application_installed_for_scheme", c_bool, (_CLIENT, _TEXT)),
    ("qrn_client_collect_migration_data", c_void_p, (_CLIENT,)),
    ("qrn_client_clear_data_after_migration", None, (_CLIENT,)),
    ("qrn_client_get_string_value_in_keychain_for_key", c_void_p, (_CLIENT, _TEXT)),
    ("qrn_client_set_string_value_in_keychain", None, (_CLIENT, _TEXT, _TEXT)),
    ("qrn_client_remove_value_in_keychain_for_key", None, (_CLIENT, _TEXT)),
    ("qrn_client_clear_keychains", None, (_CLIENT,)),
    ("qrn_client_fetch_value_from_cloud_store_for_key", None, (_CLIENT, _TEXT)),
    ("qrn_client_set_value_to_cloud_store", None, (_CLIENT, _TEXT, _TEXT)),
    ("qrn_client_remove_value_from_cloud_store_for_key", None, (_CLIENT, _TEXT)),
    ("qrn_device_open", c_int, (POINTER(DeviceOptions), POINTER(c_void_p))),
    ("qrn_device_create_client", _CLIENT, (c_void_p,)),
    ("qrn_device_free", None, (c_void_p,)),
    ("qrn_set_diagnostic_handler", None, (DiagnosticCallback, c_void_p)),
    ("qrn_post_application_event", c_bool, (c_int,)),
    ("qrn_main_loop_drain", c_size_t, ()),
    ("qrn_main_loop_fd", c_int, ()),
    ("qrn_main_loop_timeout_ms", c_int, ()),
)


def _open() -> ctypes.CDLL:
    path = os.environ.get(ENVIRONMENT)
    if path:
        try:
            # The loader would block for ever opening a FIFO, or read a device.
            if os.path.exists(path) and not os.path.isfile(path):
                raise OSError(f"{path}: not a regular file")
            return ctypes.CDLL(path)
        except OSError as error:
            raise ImportError(
                f"quorin: {ENVIRONMENT}={path!r} cannot be loaded ({error}); set it to the path "
                f"of {SONAME}, or unset it to find {SONAME} through the dynamic loader"
            ) from error
    try:
        return ctypes.CDLL(SONAME)
    except OSError as error:
        raise ImportError(
            f"quorin: {SONAME} was not found through the dynamic loader ({error}); install "
            f"the libquorinnative1 package, add the library's directory to LD_LIBRARY_PATH, "
            f"or set {ENVIRONMENT} to the library's path"
        ) from error


def _declare(library: ctypes.CDLL) -> None:
    for name, result, arguments in _PROTOTYPES:
        try:
            function = getattr(library, name)
        except AttributeError as error:
            raise ImportError(
                f"quorin: {library._name} lacks {name}: it is not libQuorinNative 1.1 or later"
            ) from error
        function.restype = result
        function.argtypes = arguments


def _load() -> ctypes.CDLL:
    library = _open()
    _declare(library)
    return library


lib = _load()


def library_version() -> str:
    """The library's `QuorinNativeVersionString`, as it is (it ends with a line feed)."""
    # An array, not a pointer: its address is where the text starts.
    start = ctypes.addressof(ctypes.c_char.in_dll(lib, "QuorinNativeVersionString"))
    return ctypes.string_at(start).decode("utf-8")


def version_number() -> float:
    """The library's `QuorinNativeVersionNumber`."""
    return c_double.in_dll(lib, "QuorinNativeVersionNumber").value


def take_string(address: Optional[int]) -> Optional[str]:
    """The string at `address`, which the library returned, released; None for NULL."""
    if not address:
        return None
    try:
        return ctypes.string_at(address).decode("utf-8")
    finally:
        lib.qrn_string_free(address)


def to_c(text: str, what: str) -> bytes:
    """`text` as the C interface takes it: UTF-8, with no NUL, which would end it early."""
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    if "\0" in text:
        raise ValueError(f"{what} holds a NUL character, which the library cannot take")
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError as error:
        raise ValueError(f"{what} is not valid Unicode text ({error.reason})") from None
