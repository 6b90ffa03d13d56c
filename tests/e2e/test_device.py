"""GET /device: the printer's own status, asked of a network printer of the tests' own that sits
behind a CUPS queue (socket://127.0.0.1:PORT), natively; under Wine the same queue through Wine's
spooler, and the Standard TCP/IP port that Wine's registry is given for it."""

import os
import time

import pytest

from cups_queue import cups_queues, device_queue, own_queue  # noqa: F401  (fixture)
from harness import FakeNetworkPrinter, cors, exchange, free_port, reply_bytes, request
import install_world

JSON = "application/json; charset=utf-8"
STATUS_REQUEST = bytes.fromhex("100401100402100403100404")
TICKET = b"\x1b@caja 1\n" + bytes(range(256)) + b"\x1dV\x01"
# A reply is given again for a second after its query ended.
REUSED_FOR = 1.0
TCP_PORTS = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports"


def word(value):
    return "null" if value is None else f'"{value}"'


def device_reply(printer, address, state, paper=None, cover=None, signal=None, errors=()):
    listed = ",".join(f'"{e}"' for e in errors)
    body = (f'{{"ok":true,"printer":"{printer}","address":{word(address)},"state":"{state}","paper":{word(paper)},'
            f'"cover":{word(cover)},"drawer_signal":{word(signal)},"errors":[{listed}]}}')
    return reply_bytes(200, "OK", JSON, body.encode(), cors())


def get_device(port):
    return exchange(port, f"GET /device HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())


def fresh_device(port):
    """A reply asked after the last one has stopped being reused."""
    time.sleep(REUSED_FOR + 0.05)
    return get_device(port)


@pytest.fixture
def printer():
    fake = FakeNetworkPrinter()
    yield fake
    fake.close()


@pytest.fixture
def network_queue(cups_queues, printer):
    with device_queue(f"KORBA_DEVICE_{os.getpid()}", f"socket://127.0.0.1:{printer.port}") as name:
        yield name


@pytest.fixture
def native(target):
    if target.is_wine:
        pytest.skip("Wine's spooler gives its printers no device URI: see the Wine tests below")


# (what the fake says for DLE EOT 1, 2, 3, 4) -> state, paper, cover, drawer signal, errors
STATUSES = [
    ("12121212", "ready", "ok", "closed", "low", ()),
    ("16121212", "ready", "ok", "closed", "high", ()),
    ("1212121E", "paper-near-end", "near-end", "closed", "low", ()),
    ("12321272", "paper-out", "out", "closed", "low", ()),
    ("16161212", "cover-open", "ok", "open", "high", ()),
    ("12121A12", "error", "ok", "closed", "low", ("cutter",)),
    ("1A121212", "offline", "ok", "closed", "low", ()),
]


def test_a_network_printer_prints_and_says_how_it_is(native, start_bridge, network_queue, printer):
    bridge = start_bridge("--printer", network_queue)
    address = f"127.0.0.1:{printer.port}"
    status, _, body = request(bridge.port, "POST", "/raw", TICKET, [("Content-Type", "application/octet-stream")])
    assert (status, body) == (200, f'{{"ok":true,"printer":"{network_queue}","bytes":{len(TICKET)}}}'.encode())
    deadline = time.monotonic() + 30
    while printer.connections() != [TICKET] and time.monotonic() < deadline:
        time.sleep(0.1)
    assert printer.connections() == [TICKET]

    seen = []
    for raw, state, paper, cover, signal, errors in STATUSES:
        printer.status = bytes.fromhex(raw)
        seen.append(fresh_device(bridge.port))
        assert seen[-1] == device_reply(network_queue, address, state, paper, cover, signal, errors), raw
    # Within the second after its query the same answer comes again, without asking the printer.
    printer.status = bytes.fromhex("12121212")
    assert get_device(bridge.port) == seen[-1]
    # Each query was one connection that sent the four requests and nothing else.
    assert printer.connections() == [TICKET] + [STATUS_REQUEST] * len(STATUSES)


def test_no_answer_unreachable_and_not_network(native, start_bridge, network_queue, printer, cups_queues):
    bridge = start_bridge("--printer", network_queue)
    address = f"127.0.0.1:{printer.port}"
    printer.silent = True
    started = time.monotonic()
    assert get_device(bridge.port) == device_reply(network_queue, address, "no-answer")
    assert 0.95 <= time.monotonic() - started < 3
    # A byte that is no status byte is no answer either.
    printer.silent = False
    printer.status = bytes.fromhex("12129212")
    assert fresh_device(bridge.port) == device_reply(network_queue, address, "no-answer")

    closed = free_port()
    with device_queue(f"KORBA_DEVICE_CLOSED_{os.getpid()}", f"socket://127.0.0.1:{closed}") as name:
        other = start_bridge("--printer", name)
        assert get_device(other.port) == device_reply(name, f"127.0.0.1:{closed}", "unreachable")
    with own_queue(f"KORBA_DEVICE_CAPTURE_{os.getpid()}") as capture:
        other = start_bridge("--printer", capture.name)
        assert get_device(other.port) == device_reply(capture.name, None, "not-network")
    other = start_bridge("--printer", "NO EXISTE")
    assert get_device(other.port) == device_reply("NO EXISTE", None, "not-network")


def wine_port(printer):
    return install_world.reg_value(f"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\{printer}", "Port")


def test_under_wine_a_cups_printer_and_a_standard_tcp_ip_port(target, start_bridge, network_queue, printer):
    if not target.is_wine:
        pytest.skip("Wine's spooler and registry")
    bridge = start_bridge("--printer", network_queue)
    # Wine's spooler prints to the CUPS queue through a port of its own, no Standard TCP/IP port.
    assert get_device(bridge.port) == device_reply(network_queue, None, "not-network")
    port = wine_port(network_queue)
    assert port and "\\" not in port
    key = f"{TCP_PORTS}\\{port}"
    values = [("HostName", "REG_SZ", ""), ("IPAddress", "REG_SZ", "127.0.0.1"),
              ("PortNumber", "REG_DWORD", str(printer.port)), ("Protocol", "REG_DWORD", "1")]
    try:
        for name, kind, data in values:
            assert install_world.tool("reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f")[0] == 0
        printer.status = bytes.fromhex("12321272")
        assert fresh_device(bridge.port) == device_reply(network_queue, f"127.0.0.1:{printer.port}", "paper-out",
                                                         "out", "closed", "low")
        assert printer.connections() == [STATUS_REQUEST]
        # In LPR mode it is no raw printer.
        assert install_world.tool("reg", "add", key, "/v", "Protocol", "/t", "REG_DWORD", "/d", "2", "/f")[0] == 0
        assert fresh_device(bridge.port) == device_reply(network_queue, None, "not-network")
    finally:
        install_world.tool("reg", "delete", key, "/f")
