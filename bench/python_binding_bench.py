"""What the Python package adds to a call: one keychain_get and one await cloud_get of a
present value, from Python and from C (bench/c_binding_peer.c) on the same device, in one
run, alternating rounds; prints each one's best nanoseconds a call and the ratios.

Run from the source tree after building the default preset, with Debian's interpreter:
    /usr/bin/python3 bench/python_binding_bench.py [ITERATIONS]
"""

from __future__ import annotations

import asyncio
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Dict, List

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(os.environ.get("BUILD", ROOT / "build" / "default"))
os.environ.setdefault("QUORIN_NATIVE_LIBRARY", str(BUILD / "src" / "libQuorinNative.so.1"))
sys.path.insert(0, str(ROOT / "bindings" / "python"))

import quorin  # noqa: E402

ROUNDS = 5


def from_c(container: Path, cloud: Path, iterations: int) -> Dict[str, float]:
    output = subprocess.run([str(BUILD / "bench" / "c_binding_peer"), str(container), str(cloud),
                             str(iterations)], check=True, capture_output=True, text=True)
    return {name: float(value) for name, value in
            (line.split() for line in output.stdout.splitlines())}


def from_python(client: quorin.Client, iterations: int) -> Dict[str, float]:
    start = time.perf_counter_ns()
    for _ in range(iterations):
        client.keychain_get("token")
    keychain = (time.perf_counter_ns() - start) / iterations

    async def reads() -> float:
        start = time.perf_counter_ns()
        for _ in range(iterations):
            await client.cloud_get("greeting")
        return (time.perf_counter_ns() - start) / iterations

    return {"keychain_get": keychain, "cloud_get": asyncio.run(reads())}


def main() -> None:
    iterations = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    with tempfile.TemporaryDirectory() as base:
        container, cloud = Path(base) / "device", Path(base) / "cloud"
        best: Dict[str, List[float]] = {}
        for _ in range(ROUNDS):
            for side, result in (("c", from_c(container, cloud, iterations)),
                                 ("python", _python_round(container, cloud, iterations))):
                for call, nanoseconds in result.items():
                    best.setdefault(f"{side} {call}", []).append(nanoseconds)
    print(f"{'call':<14}{'C ns':>10}{'Python ns':>12}{'ratio':>8}   "
          f"(best of {ROUNDS} rounds of {iterations})")
    for call in ("keychain_get", "cloud_get"):
        c, python = min(best[f"c {call}"]), min(best[f"python {call}"])
        print(f"{call:<14}{c:>10.0f}{python:>12.0f}{python / c:>8.2f}")


def _python_round(container: Path, cloud: Path, iterations: int) -> Dict[str, float]:
    device = quorin.Device(container, cloud_account=cloud, key_store="key-file")
    with device.client() as client:
        result = from_python(client, iterations)
    device.close()
    return result


if __name__ == "__main__":
    main()
