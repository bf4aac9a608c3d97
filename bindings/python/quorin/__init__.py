"""QuorinNative for Python: the SDK's native core, typed and asyncio-native.

A `Device` names a container directory and its cloud account; `device.client()` makes a
`Client`, which reads the device's facts, keeps values in the keychain and the cloud
key-value store, hears the application's lifecycle events and the store's changes, and
migrates the legacy SDK's data. Inside a running asyncio loop the package drains the
library's main loop from that loop; without asyncio, call `run()` or `drain()`.

The library is `QUORIN_NATIVE_LIBRARY` when that is set (a path), else
``libQuorinNative.so.1`` through the dynamic loader. Its diagnostic lines go to the
`logging` logger ``"quorin"``.
"""

from ._native import library_version
from . import _diagnostics  # noqa: F401 - routes the library's lines from import on
from ._client import Client
from ._cloud import CloudChange, CloudChangeReason, CloudChanges
from ._device import Device
from ._errors import DeviceError, QuorinError
from ._events import Subscription, post_application_event
from ._mainloop import drain, main_loop_fd, run, stop
from ._version import __version__

__all__ = [
    "Client",
    "CloudChange",
    "CloudChangeReason",
    "CloudChanges",
    "Device",
    "DeviceError",
    "QuorinError",
    "Subscription",
    "__version__",
    "drain",
    "library_version",
    "main_loop_fd",
    "post_application_event",
    "run",
    "stop",
]
