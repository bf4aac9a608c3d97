"""Shared fixtures: devices of their own under a temporary directory, with a key file, so no
test reaches the user's default device, cloud account or Secret Service.

Run with Debian's interpreter against a build's library:
    QUORIN_NATIVE_LIBRARY=build/default/src/libQuorinNative.so.1 \
        /usr/bin/python3 -m pytest bindings/python/tests
"""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path
from typing import Callable, Dict, Iterator, List

import pytest

PACKAGE = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(PACKAGE))

import quorin  # noqa: E402


@pytest.fixture
def cloud(tmp_path: Path) -> Path:
    return tmp_path / "cloud"


@pytest.fixture
def make_device(tmp_path: Path, cloud: Path) -> Iterator[Callable[[str], quorin.Device]]:
    devices: List[quorin.Device] = []

    def make(name: str) -> quorin.Device:
        device = quorin.Device(tmp_path / name, cloud_account=cloud, key_store="key-file")
        devices.append(device)
        return device

    yield make
    for device in devices:
        device.close()


@pytest.fixture
def client(make_device: Callable[[str], quorin.Device]) -> Iterator[quorin.Client]:
    with make_device("device").client() as made:
        yield made


def child_environment(**extra: str) -> Dict[str, str]:
    """The environment a child Python gets: this package and this test run's library."""
    environment = dict(os.environ)
    environment["PYTHONPATH"] = str(PACKAGE)
    environment["PYTHONDONTWRITEBYTECODE"] = "1"
    environment.update(extra)
    return environment


def run_python(code: str, **extra: str) -> "subprocess.CompletedProcess[str]":
    """Runs `code` in a child of this interpreter; fails the test after 60 s."""
    return subprocess.run([sys.executable, "-c", code], env=child_environment(**extra),
                          capture_output=True, text=True, timeout=60)
