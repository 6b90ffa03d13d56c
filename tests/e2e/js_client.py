"""The JavaScript client (client/) against the running bridge: Node's test runner natively, and a
page in headless Chromium natively and under Wine. Its own step of the test command, so the
name does not match test_*.py: `pytest tests/e2e/js_client.py`."""

import functools
import http.server
import json
import ssl
import subprocess
import threading

import pytest

import harness
from browser import chromium
from cups_queue import cups_queues  # noqa: F401  (fixture)

CLIENT = harness.ROOT / "client"
TICKET = b"\x1b@" + bytes(range(256)) + b"\x1dV\x01"
PULSE_PIN_2 = bytes.fromhex("1B700019FA")
PULSE_PIN_5 = bytes.fromhex("1B700119FA")


@pytest.fixture
def acme(cups_queues):
    return cups_queues["ACME"]


@pytest.fixture
def native(target):
    if target.is_wine:
        pytest.skip("Node talks to the native build; the page runs against both")


def show_summary(capsys, output):
    """The runner's own closing lines, shown even when pytest captures output."""
    with capsys.disabled():
        print("\n" + "\n".join(line for line in output.splitlines() if line.startswith("ℹ ")))


def test_node_runner(native, acme, start_bridge, capsys):
    bridge = start_bridge("--printer", "ACME")
    missing = start_bridge("--printer", "NOPE")
    known = acme.captured_ids()
    env = {"KORBA_BRIDGE": f"http://127.0.0.1:{bridge.port}", "KORBA_BRIDGE_MISSING": f"http://127.0.0.1:{missing.port}",
           "KORBA_EXE": str(harness.NATIVE_BIN.resolve()), "KORBA_TICKET_HEX": TICKET.hex()}
    run = subprocess.run(["node", "--test", "--test-reporter=spec", str(CLIENT / "test")], env=harness.Target("native").env(env),
                         capture_output=True, text=True, timeout=120)
    show_summary(capsys, run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr
    assert [job.data for job in acme.wait_for_jobs(known, 4)] == [TICKET, TICKET, PULSE_PIN_2, PULSE_PIN_5]
