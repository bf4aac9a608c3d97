"""Sends the library's diagnostic lines to the `logging` logger "quorin".

The library writes them to standard output unless a host routes them, and a host's standard
output is its own. Lines come from any thread, several at once possibly; the handler is
taken back at exit, before the interpreter can no longer run it.
"""

from __future__ import annotations

import atexit
from typing import Optional

from ._dispatch import logger
from ._native import DiagnosticCallback, lib


@DiagnosticCallback
def _on_line(_context: Optional[int], line: bytes) -> None:
    try:
        logger.warning("%s", line.decode("utf-8", "replace"))
    except BaseException:  # noqa: B902 - ctypes would print it on the host's output
        pass


def _restore() -> None:
    lib.qrn_set_diagnostic_handler(DiagnosticCallback(), None)


lib.qrn_set_diagnostic_handler(_on_line, None)
atexit.register(_restore)
