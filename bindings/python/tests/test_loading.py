"""Finding the library: the variable, the soname, and the message when neither works."""

from __future__ import annotations

import os
import re
from pathlib import Path

import pytest

import quorin
from conftest import run_python

ROOT = Path(__file__).resolve().parents[3]


def test_a_missing_path_names_the_variable_and_the_soname() -> None:
    result = run_python("import quorin", QUORIN_NATIVE_LIBRARY="/nonexistent/libQuorinNative.so.1")
    assert result.returncode != 0
    assert "ImportError" in result.stderr
    assert "QUORIN_NATIVE_LIBRARY='/nonexistent/libQuorinNative.so.1'" in result.stderr
    assert "libQuorinNative.so.1" in result.stderr


def test_without_the_variable_the_loader_is_asked_and_both_are_named() -> None:
    # Asked in a child: here the library is loaded already, and so found by its soname.
    if run_python("import ctypes; ctypes.CDLL('libQuorinNative.so.1')",
                  LD_LIBRARY_PATH="").returncode == 0:
        pytest.skip("the library is installed where the dynamic loader finds it")
    result = run_python("import quorin", QUORIN_NATIVE_LIBRARY="", LD_LIBRARY_PATH="")
    assert result.returncode != 0
    message = result.stderr.strip().splitlines()[-1]
    assert message.startswith("ImportError: quorin: libQuorinNative.so.1 was not found")
    assert "QUORIN_NATIVE_LIBRARY" in message and "libquorinnative1" in message


def test_another_library_is_refused_by_name() -> None:
    result = run_python("import quorin", QUORIN_NATIVE_LIBRARY="libc.so.6")
    assert result.returncode != 0
    assert "libc.so.6 lacks qrn_string_free" in result.stderr


def test_a_fifo_is_refused_without_waiting_on_it(tmp_path: Path) -> None:
    fifo = tmp_path / "libQuorinNative.so.1"
    os.mkfifo(fifo)
    result = run_python("import quorin", QUORIN_NATIVE_LIBRARY=str(fifo))
    assert result.returncode != 0
    assert "not a regular file" in result.stderr


def test_versions() -> None:
    project = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(QuorinNative\s+VERSION\s+([0-9.]+)", project)
    assert version is not None
    assert quorin.__version__ == version.group(1)
    assert quorin.library_version() == "@(#)PROGRAM:QuorinNative  PROJECT:QuorinNative-1\n"
