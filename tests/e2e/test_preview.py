"""The preview run: the virtual printer "KORBA vista previa" keeps what /raw and /pulse send, GET
/preview hands it back, and no spooler hears of it."""

import base64
import json
import os
import re
from datetime import datetime, timezone

import pytest

import harness
from cups_queue import cups_queues, own_queue  # noqa: F401  (fixture)
from harness import cors, exchange, reply_bytes

JSON = "application/json; charset=utf-8"
PRINTER = "KORBA vista previa"
PULSE_PIN_5 = bytes.fromhex("1B700119FA")
BAD_PAPER = b"ERROR: --paper solo admite 58 u 80\n"
# A sanitized build holds freed memory back on purpose: its memory is not measured.
MEASURED = os.environ.get("KORBA_SANITIZED") != "1"


def call(port, method, path, body=b"", content_type=None, host=None, origin=None):
    head = f"{method} {path} HTTP/1.1\r\nHost: {host or f'127.0.0.1:{port}'}\r\n"
    for name, value in ("Content-Type", content_type), ("Origin", origin):
        if value:
            head += f"{name}: {value}\r\n"
    if method == "POST":
        head += f"Content-Length: {len(body)}\r\n"
    return exchange(port, head.encode() + b"\r\n" + body, timeout=120)


def ok(body):
    return reply_bytes(200, "OK", JSON, body, cors())


def preview(port):
    """The body of GET /preview, after checking the reply's head."""
    raw = call(port, "GET", "/preview")
    head, _, body = raw.partition(b"\r\n\r\n")
    assert raw == ok(body), head
    return body


def preview_body(paper, tickets):
    """The exact body of GET /preview for `tickets` as (id, received, bytes), newest first."""
    listed = ",".join(f'{{"id":{json.dumps(id)},"received":"{received}","bytes":{len(data)},'
                      f'"data_b64":"{base64.b64encode(data).decode()}"}}' for id, received, data in tickets)
    return f'{{"ok":true,"paper":{paper},"tickets":[{listed}]}}'.encode()


def kept(port):
    return [base64.b64decode(t["data_b64"]) for t in json.loads(preview(port))["tickets"]]


def print_raw(port, *tickets):
    """Prints each ticket as raw bytes and returns the tickets kept then, newest first."""
    for ticket in tickets:
        assert call(port, "POST", "/raw", ticket, "application/octet-stream") == \
            ok(b'{"ok":true,"printer":"KORBA vista previa","bytes":%d}' % len(ticket))
    return kept(port)


def now_utc():
    return datetime.now(timezone.utc).replace(microsecond=0)


def test_a_preview_run_keeps_every_ticket_and_pulse_and_prints_none(start_bridge, target, cups_queues):
    # Preview wins over --printer: the queue named there never gets a job.
    with own_queue(f"KORBA_PREVIEW_{os.getpid()}") as queue:
        last = queue.last_cups_job()
        bridge = start_bridge("--printer", queue.name, "--preview", "--paper", "58")
        port = bridge.port
        printer = f'"printer":"{PRINTER}"'.encode()
        assert preview(port) == b'{"ok":true,"paper":58,"tickets":[]}'
        before = now_utc()
        every_byte = bytes(range(256))
        assert call(port, "POST", "/raw", b'{"data_b64":"QUJD"}', "application/json") == \
            ok(b'{"ok":true,' + printer + b',"bytes":3}')
        assert call(port, "POST", "/pulse?pin=5") == ok(b'{"ok":true,' + printer + b',"pin":5}')
        assert call(port, "POST", "/raw?id=caja-1", every_byte, "application/octet-stream") == \
            ok(b'{"ok":true,' + printer + b',"bytes":256,"id":"caja-1","job":3,"repeat":false}')
        body = preview(port)
        after = now_utc()
        received = [ticket["received"] for ticket in json.loads(body)["tickets"]]
        # The pulse is a ticket of its own, between the two it came between.
        assert body == preview_body(58, zip(["caja-1", None, None], received, [every_byte, PULSE_PIN_5, b"ABC"]))
        ticket = json.loads(harness.split_reply(call(port, "GET", "/tickets?id=caja-1"))[2])
        assert (ticket["job"], ticket["state"], ticket["received"]) == (3, "sent", received[0])
        for stamp in received:
            assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", stamp)
            assert before <= datetime.fromisoformat(stamp.replace("Z", "+00:00")) <= after

        status = json.loads(harness.split_reply(call(port, "GET", "/status"))[2])
        assert (status["printer"], status["printer_ok"]) == (PRINTER, True)
        assert call(port, "GET", "/printers") == \
            ok(b'{"ok":true,"default":"KORBA vista previa","printers":["KORBA vista previa"]}')
        assert call(port, "GET", "/queue") == ok(b'{"ok":true,' + printer + b',"state":"ready","jobs":0,"reasons":[]}')
        # The Host and Origin rules hold as on every route.
        assert call(port, "GET", "/preview", host=f"rebind.example:{port}") == \
            reply_bytes(403, "Forbidden", JSON, b'{"ok":false,"error":"host no permitido"}', cors())
        assert call(port, "GET", "/preview", origin="https://tienda.example") == \
            reply_bytes(403, "Forbidden", JSON, b'{"ok":false,"error":"origin no permitido"}',
                        cors("https://tienda.example"))
        assert queue.cups_jobs_since(last) == []


def test_each_alias_is_a_virtual_printer_of_its_own(start_bridge, target):
    bridge = start_bridge("--preview", "--paper", "58", "--printer-for", "cocina=COCINA", "--printer-for", "barra=B")
    port = bridge.port
    kitchen = b'"printer":"KORBA vista previa (cocina)"'
    assert call(port, "POST", "/raw?printer=cocina&id=pedido-1", b"comanda", "text/plain") == \
        ok(b'{"ok":true,' + kitchen + b',"bytes":7,"id":"pedido-1","job":1,"repeat":false}')
    assert call(port, "POST", "/pulse?printer=cocina") == ok(b'{"ok":true,' + kitchen + b',"pin":2}')
    assert print_raw(port, b"caja") == [b"caja"]
    body = call(port, "GET", "/preview?printer=cocina")
    tickets = json.loads(harness.split_reply(body)[2])["tickets"]
    # Newest first, and none of the main printer's.
    assert body == ok(preview_body(58, zip([None, "pedido-1"], [t["received"] for t in tickets],
                                           [bytes.fromhex("1B700019FA"), b"comanda"])))
    assert call(port, "GET", "/preview?printer=barra") == ok(b'{"ok":true,"paper":58,"tickets":[]}')
    assert call(port, "GET", "/printers") == ok(
        b'{"ok":true,"default":"KORBA vista previa","printers":["KORBA vista previa","KORBA vista previa (cocina)",'
        b'"KORBA vista previa (barra)"],"aliases":{"cocina":"KORBA vista previa (cocina)","barra":"KORBA vista previa (barra)"}}')


def test_the_newest_50_tickets_of_16_mib_at_most(start_bridge, target):
    bridge = start_bridge("--preview")
    port = bridge.port
    # Two of the largest tickets fill the 16 MiB exactly; one byte more drops the older one.
    largest = [bytes([n]) * harness.BODY_LIMIT for n in range(4)]
    assert print_raw(port, *largest[:2]) == [largest[1], largest[0]]
    measured = MEASURED and not target.is_wine
    full = harness.memory_kib(bridge.proc.pid, "VmRSS") if measured else 0
    assert print_raw(port, b"3") == [b"3", largest[1]]
    assert print_raw(port, *largest[2:]) == [largest[3], largest[2]]
    if measured:
        # What is dropped is given back: the process stays about as big as with 16 MiB kept.
        assert harness.memory_kib(bridge.proc.pid, "VmRSS") < full + 8 * 1024
    # Short tickets: the newest 50 of them, whatever came before.
    short = [b"%d" % n for n in range(52)]
    assert print_raw(port, *short[:50]) == short[49::-1]
    assert print_raw(port, *short[50:]) == short[:1:-1]


@pytest.mark.parametrize("args", [["--paper", "70"], ["--paper", "80mm"], ["--preview", "--paper"],
                                  ["--paper", "", "--preview"]])
def test_paper_other_than_58_or_80_ends_before_listening(run_program, args):
    port = harness.free_port()
    done = run_program("--port", str(port), "--no-open", "--no-setup", *args)
    assert (done.returncode, done.stdout, done.stderr) == (1, b"", BAD_PAPER)
    assert not harness.listening(port)


def test_no_preview_route_without_preview(start_bridge):
    bridge = start_bridge("--paper", "58")
    assert call(bridge.port, "GET", "/preview") == \
        reply_bytes(404, "Not Found", JSON, b'{"ok":false,"error":"ruta no encontrada"}', cors())
