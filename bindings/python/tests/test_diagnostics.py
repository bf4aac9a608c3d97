"""The library's diagnostic lines reach the logger "quorin", never the host's output."""

from __future__ import annotations

from conftest import run_python

FAILING_KEYCHAIN = """
import logging, sys, tempfile, quorin
logging.basicConfig(stream=sys.stderr, format="%(name)s %(levelname)s %(message)s")
base = tempfile.mkdtemp()
device = quorin.Device(base + "/device", cloud_account=base + "/cloud",
                       key_store="secret-service")
with device.client() as client:
    assert client.keychain_get("token") is None
"""


def test_lines_go_to_the_logger_and_not_to_standard_output() -> None:
    result = run_python(FAILING_KEYCHAIN, DBUS_SESSION_BUS_ADDRESS="")
    assert result.returncode == 0, result.stderr
    assert result.stdout == ""
    assert "quorin WARNING OSStatus error:[" in result.stderr
