"""The server's framing, limits and origin rules, seen from a client socket."""

import os
import select
import socket
import time
from pathlib import Path

import pytest

from cups_queue import cups_queues, wait_until  # noqa: F401  (fixture)
from harness import (LARGEST_HEAD, PANEL_HEADERS, busy_at_once, cors, exchange, figures, hold_largest_bodies,
                     panel_page, reply_bytes, threads_of)

NOT_FOUND = b'{"ok":false,"error":"ruta no encontrada"}'
HOST_REFUSED = b'{"ok":false,"error":"host no permitido"}'
ORIGIN_REFUSED = b'{"ok":false,"error":"origin no permitido"}'
BUSY = b'{"ok":false,"error":"el vizoza esta ocupado, vuelve a intentarlo"}'
JSON = "application/json; charset=utf-8"
# A head that announces the largest body and sends none of it.
LARGEST_BODY_ANNOUNCED = b"Content-Length: 8388608\r\n\r\n"
# Well under the bridge's 10 s read time-out: a bridge that waited for the body misses it.
PROMPTLY = 4


def test_help_text_is_exact(target, run_program):
    done = run_program("--port", "1", "--help", "--list")
    assert done.returncode == 0
    lines = done.stdout.decode("utf-8").split("\n")
    assert lines[0] == "korba-vizoza 1.5.0 (build 1.5.0) - Vizoza de impresion local para KORBA"
    assert lines[5] == "  --printer-for A=N    Impresora N con el alias A para las paginas web (repetible)"
    assert lines[8:11] == ["  --preview            Impresora virtual: los tickets se ven en el panel, no se imprimen",
                           "  --paper 58|80        Ancho del papel de la impresora virtual en mm (por defecto: 80)",
                           '  --data "CARPETA"     Carpeta del registro de tickets']
    if target.is_wine:
        assert lines[2] == "Uso:  korba-vizoza.exe [opciones]"
        assert lines[4] == '  --printer "NOMBRE"   Impresora de Windows a usar (por defecto: la predeterminada)'
        assert lines[28] == "  PRIMER USO: haz doble clic y listo. El vizoza se copia a C:\\KORBA"
        assert len(lines) == 32 and lines[31] == ""
    else:
        # Only what this build has: no Windows installer, service commands or autostart.
        assert lines[2] == "Uso:  korba-vizoza [opciones]"
        assert lines[4] == '  --printer "NOMBRE"   Impresora a usar (por defecto: la predeterminada)'
        assert lines[12:] == ["  --service            Modo servicio (systemd): sin consola, sin panel, sin abrir nada",
                              "  --no-console         Alias de --service",
                              "  --list               Lista las impresoras y sale",
                              "",
                              "  -h, --help           Esta ayuda",
                              ""]


@pytest.mark.parametrize("origin, allowed_origin, expected", [
    (None, "*", (204, b"")),
    ("http://127.0.0.1:9230", "http://127.0.0.1:9230", (204, b"")),
    ("HTTP://LOCALHOST:3000", "http://localhost:3000", (204, b"")),
    ("https://korba.app", "https://korba.app", (204, b"")),
    ("https://tienda.korba-pos.pages.dev", "https://tienda.korba-pos.pages.dev", (204, b"")),
    ("http://localhost.attacker.example", "http://localhost.attacker.example",
     (403, b'{"ok":false,"error":"origin no permitido"}')),
    ("null", "null", (403, b'{"ok":false,"error":"origin no permitido"}')),
])
def test_preflight_and_origin_refusal(start_bridge, origin, allowed_origin, expected):
    bridge = start_bridge()
    head = b"OPTIONS /raw HTTP/1.1\r\n"
    if origin is not None:
        head += b"Origin: " + origin.encode() + b"\r\n"
    status, body = expected
    reason = "No Content" if status == 204 else "Forbidden"
    content_type = "text/plain" if status == 204 else JSON
    assert exchange(bridge.port, head + b"\r\n") == reply_bytes(status, reason, content_type, body,
                                                                  cors(allowed_origin))


def test_host_names_and_control_characters(start_bridge):
    # A page under another name that resolves to 127.0.0.1 is same-origin with the bridge and
    # sends no Origin: its Host header gives it away.
    bridge = start_bridge()
    port = bridge.port
    refused = reply_bytes(403, "Forbidden", JSON, HOST_REFUSED, cors())
    no_content = reply_bytes(204, "No Content", "text/plain", b"", cors())
    for lines, reply in [
        (f"GET /status HTTP/1.1\r\nHost: rebind.example:{port}", refused),
        (f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nHost: rebind.example", refused),
        ("GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1:", refused),
        ("OPTIONS /raw HTTP/1.1\r\nHost: localhost.attacker.example\r\nOrigin: http://evil.example",
         reply_bytes(403, "Forbidden", JSON, HOST_REFUSED, cors("http://evil.example"))),
        (f"GET /favicon.ico HTTP/1.1\r\nHost: LOCALHOST:{port}", no_content),
        ("GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1", no_content),
        ("GET /favicon.ico HTTP/1.1", no_content),
        # A lone LF inside a value splits nothing; such a value is refused and never echoed.
        ("GET /favicon.ico HTTP/1.1\r\nOrigin: https://x\nSet-Cookie: a=b.korba.app",
         reply_bytes(403, "Forbidden", JSON, ORIGIN_REFUSED, cors("null"))),
        ("GET /favicon.ico HTTP/1.1\r\nHost: local\rhost", refused),
    ]:
        assert exchange(port, lines.encode() + b"\r\n\r\n") == reply, lines


def test_routes_and_unknown_paths(start_bridge):
    bridge = start_bridge()
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n") == \
        reply_bytes(204, "No Content", "text/plain", b"", cors())
    panel = panel_page()
    for path, origin in [(b"/", "http://127.0.0.1:9230"), (b"/index.html", "*")]:
        head = b"GET " + path + b" HTTP/1.1\r\n" + (b"Origin: %s\r\n" % origin.encode() if origin != "*" else b"")
        assert exchange(bridge.port, head + b"\r\n") == \
            reply_bytes(200, "OK", "text/html; charset=utf-8", panel, cors(origin) + PANEL_HEADERS), path
    for line in [b"GET /nada HTTP/1.1", b"get /favicon.ico HTTP/1.1", b"", b"POST /favicon.ico"]:
        assert exchange(bridge.port, line + b"\r\n\r\n") == \
            reply_bytes(404, "Not Found", JSON, NOT_FOUND, cors()), line


def test_size_limits_answer_without_cors(start_bridge):
    bridge = start_bridge()
    assert exchange(bridge.port, b"GET /" + b"a" * 70000) == \
        reply_bytes(400, "Bad Request", "text/plain", b"headers too large")
    big = b"x" * (8388608 + 1)
    head = b"POST /raw HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(big)
    assert exchange(bridge.port, head + big, timeout=60) == \
        reply_bytes(400, "Bad Request", JSON, b'{"ok":false,"error":"cuerpo demasiado grande"}')
    # and the bridge still serves
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204 No Content\r\n")


def test_a_client_sending_past_the_limits_still_reads_the_whole_reply(start_bridge):
    # The reply comes while the client is still sending; the client reads only once it has sent
    # everything. A close on unread input would reset the connection and lose the reply.
    bridge = start_bridge()
    assert exchange(bridge.port, b"GET /" + b"a" * (1 << 20), pause=0.5) == \
        reply_bytes(400, "Bad Request", "text/plain", b"headers too large")
    big = b"x" * (12 << 20)
    head = b"POST /raw HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(big)
    assert exchange(bridge.port, head + big, timeout=60, pause=0.5) == \
        reply_bytes(400, "Bad Request", JSON, b'{"ok":false,"error":"cuerpo demasiado grande"}')


def test_refusals_and_preflights_are_answered_without_waiting_for_the_body(start_bridge):
    bridge = start_bridge()
    for head, reply in [
        (b"POST /raw HTTP/1.1\r\nHost: rebind.example\r\n", reply_bytes(403, "Forbidden", JSON, HOST_REFUSED, cors())),
        (b"POST /raw HTTP/1.1\r\nOrigin: https://evil.example\r\n",
         reply_bytes(403, "Forbidden", JSON, ORIGIN_REFUSED, cors("https://evil.example"))),
        (b"OPTIONS /raw HTTP/1.1\r\nOrigin: https://korba.app\r\n",
         reply_bytes(204, "No Content", "text/plain", b"", cors("https://korba.app"))),
    ]:
        assert exchange(bridge.port, head + LARGEST_BODY_ANNOUNCED, timeout=PROMPTLY) == reply, head


def read_to_end(s):
    chunks = []
    while chunk := s.recv(65536):
        chunks.append(chunk)
    return b"".join(chunks)


def test_bodies_share_64_mib_and_the_one_over_is_busy(start_bridge, cups_queues):
    acme = cups_queues["ACME"]
    bridge = start_bridge("--printer", "ACME")
    # Eight bodies of 8 MiB sent but their last byte fill the budget: a ninth is turned away at once.
    held = hold_largest_bodies(bridge.port, 8)
    try:
        assert busy_at_once(bridge.port) == reply_bytes(503, "Service Unavailable", JSON, BUSY, cors())
        for s in held:
            s.shutdown(socket.SHUT_WR)
            assert read_to_end(s) == \
                reply_bytes(400, "Bad Request", JSON, b'{"ok":false,"error":"cuerpo incompleto"}', cors())
    finally:
        for s in held:
            s.close()
    assert_page_prints(bridge, acme)


def assert_page_prints(bridge, queue, timeout=15):
    """The page's ticket, from the application's origin, is printed, and /status answers."""
    known = queue.captured_ids()
    ticket = b"TICKET %d %f" % (bridge.port, time.monotonic())
    head = (b"POST /raw HTTP/1.1\r\nOrigin: https://korba.app\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Length: %d\r\n\r\n" % len(ticket))
    assert exchange(bridge.port, head + ticket, timeout=timeout) == reply_bytes(
        200, "OK", JSON, b'{"ok":true,"printer":"%s","bytes":%d}' % (queue.name.encode(), len(ticket)),
        cors("https://korba.app"))
    wait_until(lambda: ticket in [job.data for job in queue.wait_for_jobs(known, 0)], 30, "the ticket was not printed")
    assert exchange(bridge.port, b"GET /status HTTP/1.1\r\nOrigin: https://korba.app\r\n\r\n",
                    timeout=timeout).startswith(b"HTTP/1.1 200 OK\r\n")


# Clients holding connections: half-sent heads (more than a service manager's limit of 200 tasks
# would let threads take), or silent clients past a limit of 128 descriptors. They wait without a
# thread, and the page is answered within the JavaScript client's own time-out of five seconds.
@pytest.mark.parametrize("clients, sent, files_limit", [(220, b"POST /raw HTTP/1.1\r\nHost: 127.0.0.1", None),
                                                        (140, b"", 128)])
def test_clients_holding_connections_never_keep_the_page_out(target, start_bridge, cups_queues, clients, sent,
                                                             files_limit):
    if files_limit and (target.is_wine or os.environ.get("KORBA_SANITIZED") == "1"):
        pytest.skip("the wine server, or the sanitizers, hold descriptors of their own")
    acme = cups_queues["ACME"]
    bridge = start_bridge("--printer", "ACME", files_limit=files_limit)
    idle = None if target.is_wine else figures(bridge.proc.pid)["threads"]
    held = []
    try:
        for _ in range(clients):
            held.append(socket.create_connection(("127.0.0.1", bridge.port), timeout=30))
            held[-1].sendall(sent)
        status = b"GET /status HTTP/1.1\r\nOrigin: https://korba.app\r\n\r\n"
        assert exchange(bridge.port, status, timeout=5).startswith(b"HTTP/1.1 200 OK\r\n")
        if idle:  # the thread of the status may still be ending
            assert figures(bridge.proc.pid)["threads"] <= idle + 1
        assert_page_prints(bridge, acme, timeout=60)
    finally:
        for s in held:
            s.close()


def test_uploads_that_trickle_hold_no_budget_and_end_at_the_deadline(start_bridge, cups_queues):
    acme = cups_queues["ACME"]
    bridge = start_bridge("--printer", "ACME")
    # Eight uploads announce 8 MiB and send a byte every few seconds: the page prints all along.
    started = time.monotonic()
    slow = [socket.create_connection(("127.0.0.1", bridge.port), timeout=60) for _ in range(8)]
    try:
        for s in slow:
            s.sendall(LARGEST_HEAD)
        for _ in range(3):
            assert_page_prints(bridge, acme)
            for s in slow:
                s.sendall(b"x")
            time.sleep(3)
        # However they trickle, each is answered as cut short once its 30 s are over.
        while not select.select(slow, [], [], 3)[0]:
            for s in slow:
                s.sendall(b"x")
        assert time.monotonic() - started >= 29
        for s in slow:
            assert read_to_end(s) == \
                reply_bytes(400, "Bad Request", JSON, b'{"ok":false,"error":"cuerpo incompleto"}', cors())
    finally:
        for s in slow:
            s.close()


def test_one_request_per_connection(start_bridge):
    bridge = start_bridge()
    two = b"GET /favicon.ico HTTP/1.1\r\n\r\nGET /nada HTTP/1.1\r\n\r\n"
    assert exchange(bridge.port, two) == reply_bytes(204, "No Content", "text/plain", b"", cors())


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# UBSan's type check opens a pipe to test memory; out of descriptors it reports a false fault.
@pytest.mark.skipif(os.environ.get("KORBA_SANITIZED") == "1", reason="the sanitizers need descriptors of their own")
def test_out_of_descriptors_the_bridge_waits_instead_of_spinning(target, start_bridge):
    if target.is_wine:
        pytest.skip("under Wine the wine server accepts, with descriptors of its own")
    bridge = start_bridge(files_limit=64)
    # Idle clients hold every descriptor the bridge may open; the rest wait in the backlog.
    clients = [socket.create_connection(("127.0.0.1", bridge.port)) for _ in range(100)]
    try:
        time.sleep(0.5)
        before = cpu_seconds(bridge.proc.pid)
        time.sleep(3)
        used = cpu_seconds(bridge.proc.pid) - before
    finally:
        for client in clients:
            client.close()
    assert used < 0.2  # spinning on accept takes a core, or its share of a busy machine
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n") == \
        reply_bytes(204, "No Content", "text/plain", b"", cors())


def test_silent_client_is_dropped_after_ten_seconds(start_bridge):
    bridge = start_bridge()
    with socket.create_connection(("127.0.0.1", bridge.port), timeout=30) as silent:
        started = time.monotonic()
        assert silent.recv(1) == b""
        waited = time.monotonic() - started
    assert 8 <= waited <= 20
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204")


def test_second_copy_on_a_taken_port(start_bridge, run_program):
    first = start_bridge()
    second = run_program("--port", str(first.port), "--no-open", "--no-setup", timeout=120)
    assert second.returncode == 0
    err = second.stderr.decode("utf-8").split("\n")
    assert err[0].startswith(f"ERROR: no puedo escuchar en 127.0.0.1:{first.port} (")
    assert err[1:7] == ["Puede que el vizoza ya este abierto en otra ventana.", "",
                        "Si no ves ninguna ventana abierta, prueba:",
                        "  1. Cierra cualquier 'korba-vizoza' en el Administrador de tareas",
                        "  2. O usa otro puerto:  korba-vizoza.exe --port 9231", ""]
    assert exchange(first.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204")


def test_clients_that_never_read_their_large_reply_are_let_go(target, start_bridge):
    if target.is_wine:
        pytest.skip("the process's threads and memory are read natively")
    bridge = start_bridge("--preview")
    own_threads = threads_of(bridge.proc.pid)
    ticket = b"\x1b@" + b"x" * (2 * 1024 * 1024 - 1024)
    head = b"POST /raw HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(ticket)
    for _ in range(8):
        assert exchange(bridge.port, head + ticket).startswith(b"HTTP/1.1 200 OK\r\n")
    # The bridge's own threads: a connection's may still be ending after its client has its reply.
    idle = dict(figures(bridge.proc.pid), threads=len(own_threads & threads_of(bridge.proc.pid)))
    # Each asks for the 16 MiB kept (22 MB of JSON) and reads nothing: the replies the budget cannot
    # hold are busy at once, and the others are let go once they stay unread for the send time-out.
    clients = []
    try:
        for _ in range(10):
            client = socket.socket()
            client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            client.connect(("127.0.0.1", bridge.port))
            client.sendall(b"GET /preview HTTP/1.1\r\n\r\n")
            clients.append(client)
        # Taken first (the replies that fit stay unread for ten seconds), then let go.
        wait_until(lambda: figures(bridge.proc.pid)["threads"] > idle["threads"], 30, "the clients taken")
        # Ten seconds from the first byte, however little the client reads.
        wait_until(lambda: figures(bridge.proc.pid)["threads"] == idle["threads"], 25, "the unread replies let go")
        if os.environ.get("KORBA_SANITIZED") != "1":  # a sanitized build holds freed memory back
            wait_until(lambda: figures(bridge.proc.pid)["anon_kib"] < idle["anon_kib"] + 16 * 1024, 10,
                       "the replies' memory given back")
    finally:
        for client in clients:
            client.close()
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204")
