"""docs/openapi.yaml against the running bridge: every documented reply is produced live and its
status, content type, headers and body (field types, required fields, no other fields) must match
the document; a documented reply that no request here produces is an error too, so the document
and the bridge cannot drift apart."""

import base64
import contextlib
import json
import os
import shutil
import subprocess
import uuid

import pytest
import yaml
from jsonschema import Draft202012Validator, RefResolver

from cups_queue import cups_queues, device_queue, own_queue  # noqa: F401  (fixture)
from harness import ROOT, FakeNetworkPrinter, busy_at_once, exchange, hold_largest_bodies, request, split_reply
from runner_tools import program_folder, seen_path, stand_in

DOC = yaml.safe_load((ROOT / "docs" / "openapi.yaml").read_text(encoding="utf-8"))
RESOLVER = RefResolver.from_schema(DOC)
FRAMING_HEADERS = {"Content-Type", "Content-Length", "Connection"}
ADMITTED = "https://korba.app"
REFUSED = "https://tienda.example"
METHODS = ("get", "post", "options")


def resolve(node):
    while "$ref" in node:
        node = RESOLVER.resolve(node["$ref"])[1]
    return node


def schema_errors(value, schema):
    return [e.message for e in Draft202012Validator(schema, resolver=RESOLVER).iter_errors(value)]


def example(path, method, media, name):
    """A request body example of the document, as the bytes a client sends."""
    value = DOC["paths"][path][method]["requestBody"]["content"][media]["examples"][name]["value"]
    return json.dumps(value, separators=(",", ":")).encode()


def documented_replies():
    """Every reply the document describes: (path, method, status) for the operations, plus the
    component responses that no operation refers to (sent before or instead of routing)."""
    replies, referenced = set(), set()
    for path, item in DOC["paths"].items():
        for method in METHODS:
            for status, response in item.get(method, {}).get("responses", {}).items():
                replies.add((path, method, status))
                referenced.add(response.get("$ref", "").rsplit("/", 1)[-1])
    standalone = {("components", name) for name in DOC["components"]["responses"] if name not in referenced}
    return replies | standalone


def reply_mismatches(reply, response):
    """What in a live (status, headers, body) reply the documented response does not allow."""
    _, header_list, body = reply
    headers = dict(header_list)
    found = []
    if len(headers) != len(header_list):
        found.append(f"a header is repeated: {header_list}")
    if headers.get("Connection") != "close" or headers.get("Content-Length") != str(len(body)):
        found.append(f"framing headers: {header_list}")
    documented = {name: resolve(h) for name, h in response.get("headers", {}).items()}
    for name, header in documented.items():
        if name not in headers:
            if header.get("required"):
                found.append(f"missing header {name}")
        else:
            found += [f"header {name}: {e}" for e in schema_errors(headers[name], header["schema"])]
    found += [f"undocumented header {name}" for name in set(headers) - FRAMING_HEADERS - set(documented)]

    content_type = headers.get("Content-Type")
    media = response.get("content", {}).get(content_type)
    if media is None:
        return found + [f"undocumented content type {content_type!r}"]
    value = json.loads(body) if content_type.startswith("application/json") else body.decode("utf-8")
    return found + [f"body {body[:200]!r}: {e}" for e in schema_errors(value, media["schema"])]


def ninth_of_the_largest_bodies(port):
    """Eight bodies of 8 MiB fill what all connections may hold: a ninth is answered at once."""
    held = hold_largest_bodies(port, 8)
    try:
        return busy_at_once(port)
    finally:
        for s in held:
            s.close()


@pytest.fixture
def program_copies(target, tmp_path):
    """Copies of the program, each run with the stand-in reg exiting with a chosen code."""
    root = program_folder(target, tmp_path)

    def copy(name, reg_exit_code):
        folder = root / name
        folder.mkdir(parents=True)
        exe = folder / target.exe.name
        shutil.copy2(target.exe, exe)
        return exe, {"KORBA_EXIT_CODE": str(reg_exit_code)}

    # Under Wine the program takes reg from the system folder only: the stand-in stands there meanwhile.
    with stand_in("record_args", "reg") if target.is_wine else contextlib.nullcontext():
        yield copy
    shutil.rmtree(root, ignore_errors=True)


@pytest.fixture
def network_queue(cups_queues):
    """A CUPS queue on a network printer of the test's own, whose roll has ended."""
    printer = FakeNetworkPrinter()
    printer.status = bytes.fromhex("12321272")
    try:
        with device_queue(f"KORBA_OPENAPI_DEVICE_{os.getpid()}", f"socket://127.0.0.1:{printer.port}") as name:
            yield name
    finally:
        printer.close()


@pytest.fixture
def paused_queue(cups_queues):
    """A capture queue of the test's own whose jobs wait, so that one can be cancelled."""
    with own_queue(f"KORBA_OPENAPI_PAUSED_{os.getpid()}") as queue:
        subprocess.run(["cupsdisable", queue.name], check=True)
        yield queue.name


# Wine's spooler tells nothing of a job, so there no ticket is known to wait and none is cancelled.
NOT_UNDER_WINE = {("/tickets/cancel", "post", "200")}


def test_the_document_is_consistent():
    for name, schema in DOC["components"]["schemas"].items():
        Draft202012Validator.check_schema(schema)
    for path, item in DOC["paths"].items():
        for method in METHODS:
            operation = item.get(method, {})
            bodies = operation.get("requestBody", {}).get("content", {}).values()
            responses = [resolve(r) for r in operation.get("responses", {}).values()]
            for media in list(bodies) + [m for r in responses for m in r.get("content", {}).values()]:
                samples = [media["example"]] if "example" in media else []
                samples += [e["value"] for e in media.get("examples", {}).values()]
                for sample in samples:
                    assert schema_errors(sample, media["schema"]) == [], (path, method, sample)


def test_every_documented_reply_matches_the_live_bridge(target, start_bridge, program_copies, cups_queues,
                                                        network_queue, paused_queue, tmp_path):
    # Each with a ticket record of its own; the last one's cannot be written, as its folder would
    # lie inside a file.
    (tmp_path / "a-file").write_bytes(b"")
    data = {name: ["--data", seen_path(target, tmp_path / name / "tickets")] for name in ("ok", "failing", "a-file")}
    exe, env = program_copies("ok", 0)
    good = start_bridge("--printer", "ACME", "--printer-for", f"cocina={paused_queue}", *data["ok"], exe=exe,
                        env=env).port
    network = start_bridge("--printer", network_queue, exe=exe, env=env).port
    exe, env = program_copies("failing", 1)
    failing = start_bridge("--printer", "NO_SUCH_PRINTER", *data["failing"], exe=exe, env=env).port
    unrecorded = start_bridge("--printer", "ACME", *data["a-file"]).port
    preview = start_bridge("--preview").port

    ticket = example("/raw", "post", "application/json", "ticket")
    ticket_bytes = base64.b64decode(json.loads(ticket)["data_b64"])
    pulse_5 = example("/pulse", "post", "application/json", "pin5")
    enable = example("/startup", "post", "application/json", "enable")
    # Linux has no autostart entry to switch on: there switching it off is the 200.
    switch = enable if target.is_wine else b'{"enable":0}'
    sale = f"venta:{uuid.uuid4()}"
    # (what the reply is documented as, port, method, target, body, content type, origin)
    cases = [
        (("/", "get", "200"), good, "GET", "/", b"", None, ADMITTED),
        (("/index.html", "get", "200"), good, "GET", "/index.html", b"", None, None),
        (("/favicon.ico", "get", "204"), good, "GET", "/favicon.ico", b"", None, ADMITTED),
        (("/status", "get", "200"), good, "GET", "/status", b"", None, ADMITTED),
        (("/status", "get", "200"), failing, "GET", "/status?x=1", b"", None, None),
        (("/printers", "get", "200"), good, "GET", "/printers", b"", None, ADMITTED),
        (("/printers", "get", "200"), failing, "GET", "/printers", b"", None, ADMITTED),
        (("/status", "get", "200"), good, "GET", "/status?printer=cocina", b"", None, ADMITTED),
        (("/status", "get", "400"), good, "GET", "/status?printer=nada", b"", None, ADMITTED),
        (("/queue", "get", "400"), good, "GET", "/queue?printer=ACME", b"", None, ADMITTED),
        (("/device", "get", "400"), good, "GET", "/device?printer=cocina%20", b"", None, ADMITTED),
        (("/raw", "post", "400"), good, "POST", "/raw?printer=nada", ticket_bytes, "text/plain", ADMITTED),
        (("/pulse", "post", "400"), failing, "POST", "/pulse?printer=cocina", b"", None, ADMITTED),
        (("/preview", "get", "400"), preview, "GET", "/preview?printer=cocina", b"", None, ADMITTED),
        (("/queue", "get", "200"), good, "GET", "/queue", b"", None, ADMITTED),
        (("/queue", "get", "200"), failing, "GET", "/queue", b"", None, None),
        (("/device", "get", "200"), good, "GET", "/device", b"", None, ADMITTED),
        (("/device", "get", "200"), failing, "GET", "/device", b"", None, None),
        (("/device", "get", "200"), network, "GET", "/device", b"", None, ADMITTED),
        (("/raw", "post", "200"), good, "POST", "/raw", ticket, "application/json", ADMITTED),
        (("/raw", "post", "200"), good, "POST", "/raw", ticket_bytes, "text/plain", ADMITTED),
        (("/raw", "post", "200"), good, "POST", "/raw", ticket_bytes, "application/octet-stream", None),
        (("/raw", "post", "400"), good, "POST", "/raw", b"{}", "application/json", ADMITTED),
        (("/raw", "post", "400"), good, "POST", "/raw", b'{"data_b64":""}', "application/json", ADMITTED),
        (("/raw", "post", "500"), failing, "POST", "/raw", ticket, "application/json", ADMITTED),
        (("/raw", "post", "200"), good, "POST", f"/raw?id={sale}&expire=600", ticket, "application/json", ADMITTED),
        (("/raw", "post", "200"), good, "POST", f"/raw?id={sale}", ticket_bytes, "text/plain", ADMITTED),
        (("/raw", "post", "409"), good, "POST", f"/raw?id={sale}", b"otro", "text/plain", ADMITTED),
        (("/raw", "post", "400"), good, "POST", "/raw?id=caja%201", ticket_bytes, "text/plain", ADMITTED),
        (("/raw", "post", "400"), good, "POST", "/raw?expire=60", ticket_bytes, "text/plain", ADMITTED),
        (("/raw", "post", "500"), unrecorded, "POST", f"/raw?id={sale}", ticket_bytes, "text/plain", ADMITTED),
        (("/tickets", "get", "200"), good, "GET", f"/tickets?id={sale}", b"", None, ADMITTED),
        (("/tickets", "get", "200"), good, "GET", "/tickets", b"", None, None),
        # The failed print above, without an id: its job null, its error the spooler's message.
        (("/tickets", "get", "200"), failing, "GET", "/tickets", b"", None, ADMITTED),
        (("/tickets", "get", "400"), good, "GET", "/tickets?id=", b"", None, ADMITTED),
        (("/tickets", "get", "404"), good, "GET", f"/tickets?id={sale}x", b"", None, ADMITTED),
        (("/tickets/cancel", "post", "400"), good, "POST", "/tickets/cancel", b"", None, ADMITTED),
        (("/tickets/cancel", "post", "404"), good, "POST", f"/tickets/cancel?id={sale}x", b"", None, ADMITTED),
        (("/raw", "post", "200"), preview, "POST", f"/raw?id={sale}", ticket_bytes, "text/plain", ADMITTED),
        (("/tickets/cancel", "post", "409"), preview, "POST", f"/tickets/cancel?id={sale}", b"", None, ADMITTED),
        (("/pulse", "post", "200"), good, "POST", "/pulse", pulse_5, "application/json", ADMITTED),
        (("/pulse", "post", "200"), good, "POST", "/pulse", b"", None, ADMITTED),
        (("/pulse", "post", "500"), failing, "POST", "/pulse", b"", None, ADMITTED),
        # Empty, then with a ticket and a pulse kept.
        (("/preview", "get", "200"), preview, "GET", "/preview", b"", None, ADMITTED),
        (("/raw", "post", "200"), preview, "POST", "/raw", ticket, "application/json", ADMITTED),
        (("/pulse", "post", "200"), preview, "POST", "/pulse", b"", None, ADMITTED),
        (("/preview", "get", "200"), preview, "GET", "/preview", b"", None, None),
        (("/startup", "get", "200"), good, "GET", "/startup", b"", None, ADMITTED),
        (("/startup", "post", "200"), good, "POST", "/startup", switch, "application/json", ADMITTED),
        (("/startup", "post", "400"), good, "POST", "/startup", b'{"enable":true}', "application/json", ADMITTED),
        (("/startup", "post", "500"), failing, "POST", "/startup", enable, "application/json", ADMITTED),
        (("components", "NotFound"), good, "GET", "/nada", b"", None, ADMITTED),
        (("components", "NotFound"), good, "GET", "/raw", b"", None, None),
        (("components", "BodyTooLarge"), good, "POST", "/raw", b"x" * (8388608 + 1), "text/plain", ADMITTED),
    ]
    if not target.is_wine:
        cases += [
            (("/raw", "post", "200"), good, "POST", f"/raw?id={sale}-c&printer=cocina", ticket_bytes, "text/plain", None),
            (("/tickets/cancel", "post", "200"), good, "POST", f"/tickets/cancel?id={sale}-c", b"", None, ADMITTED),
            (("/tickets/cancel", "post", "200"), good, "POST", f"/tickets/cancel?id={sale}-c", b"", None, None),
        ]
    # The origin refusal and the preflight, on every documented path and method.
    for path, item in DOC["paths"].items():
        for method in METHODS:
            if method in item:
                cases.append(((path, method, "403"), good, method.upper(), path, b"", None, REFUSED))
        cases.append(((path, "options", "204"), good, "OPTIONS", path, b"", None, ADMITTED))

    mismatches, produced = [], set()
    for documented, port, method, path, body, content_type, origin in cases:
        headers = [("Origin", origin)] if origin else []
        headers += [("Content-Type", content_type)] if content_type else []
        reply = request(port, method, path, body, headers)
        produced.add(documented)
        if documented[0] == "components":
            response = DOC["components"]["responses"][documented[1]]
            status = str(response["x-status"])
        else:
            response = DOC["paths"][documented[0]][documented[1]]["responses"][documented[2]]
            status = documented[2]
        if str(reply[0]) != status:
            mismatches.append(f"{method} {path}: status {reply[0]}, documented {status}")
            continue
        mismatches += [f"{method} {path}: {m}" for m in reply_mismatches(reply, resolve(response))]

    # Requests that request() does not send: no end of head within 64 KiB, another Host name, a
    # body cut short by a client that stops sending.
    raw_cases = [
        ("HeadersTooLarge", exchange(good, b"GET /" + b"a" * 70000)),
        ("HostRefused", exchange(good, b"GET /status HTTP/1.1\r\nHost: rebound.example\r\n\r\n")),
        ("BodyIncomplete", exchange(good, b"POST /raw HTTP/1.1\r\nContent-Length: 10\r\n\r\n01234",
                                    close_sending=True)),
        ("Busy", ninth_of_the_largest_bodies(good)),
    ]
    for name, raw in raw_cases:
        reply = split_reply(raw)
        produced.add(("components", name))
        response = DOC["components"]["responses"][name]
        if str(reply[0]) != str(response["x-status"]):
            mismatches.append(f"{name}: status {reply[0]}")
            continue
        mismatches += [f"{name}: {m}" for m in reply_mismatches(reply, response)]

    assert not mismatches, "\n".join(mismatches)
    assert produced == documented_replies() - (NOT_UNDER_WINE if target.is_wine else set())
