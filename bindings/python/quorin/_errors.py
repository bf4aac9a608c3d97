"""The package's exceptions."""

from __future__ import annotations


class QuorinError(Exception):
    """A call the library cannot carry out: a closed client, a device it refused."""


class DeviceError(QuorinError):
    """A device the library refused to open; nothing was made for it.

    `status` is the name of the library's `qrn_device_status`, such as
    ``"RELATIVE_CONTAINER"``; the message says which option to change.
    """

    def __init__(self, status: str, message: str) -> None:
        super().__init__(message)
        self.status = status
