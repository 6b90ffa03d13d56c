"""Printing through real CUPS queues: the bytes and title of every job, the printer list,
the error replies, and no job where none belongs."""

import json
import os
import subprocess

import pytest

import harness
from cups_queue import CaptureQueue, cups_queues, own_queue as named_queue, wait_until  # noqa: F401  (fixture)
from harness import cors, exchange, reply_bytes

# A sanitized build holds freed memory back on purpose: its memory is not measured.
SANITIZED = os.environ.get("KORBA_SANITIZED") == "1"

JSON = "application/json; charset=utf-8"
PULSE_PIN_2 = bytes.fromhex("1B700019FA")
PULSE_PIN_5 = bytes.fromhex("1B700119FA")
# The system's text for a printer that does not exist, per spooler.
NO_SUCH_PRINTER = {
    "native": "The printer or class does not exist. (cups error 0x0406)",
    "wine": "Invalid printer name. (os error 1801)",
}


def post(port, path, body=b"", content_type=None):
    head = f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
    if content_type:
        head += f"Content-Type: {content_type}\r\n"
    head += f"Content-Length: {len(body)}\r\n\r\n"
    return exchange(port, head.encode() + body)


def ok(body):
    return reply_bytes(200, "OK", JSON, body, cors())


def error(status, message):
    reason = {400: "Bad Request", 500: "Internal Server Error"}[status]
    return reply_bytes(status, reason, JSON, b'{"ok":false,"error":' + message + b"}", cors())


def get(port, path):
    return exchange(port, f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())


def queue_state(printer, state, jobs, reasons=()):
    listed = ",".join(f'"{reason}"' for reason in reasons)
    return ok(f'{{"ok":true,"printer":"{printer}","state":"{state}","jobs":{jobs},"reasons":[{listed}]}}'.encode())


def printed(queue, known, count):
    return [(job.title, job.data) for job in queue.wait_for_jobs(known, count)]


NOT_CONFIGURED = b'"impresora no configurada"'
BAD_PRINTER_FOR = b"ERROR: --printer-for espera ALIAS=IMPRESORA (alias: 1 a 32 minusculas, cifras, - o _, sin repetir)\n"


@pytest.fixture
def acme(cups_queues):
    return cups_queues["ACME"]


def test_raw_tickets_reach_the_queue_untouched_as_jobs_named_korba(start_bridge, acme):
    bridge = start_bridge("--printer", "ACME")
    known, last = acme.captured_ids(), acme.last_cups_job()
    every_byte = bytes(range(256))
    assert post(bridge.port, "/raw", b'{"data_b64":"QUJD"}', "application/json") == \
        ok(b'{"ok":true,"printer":"ACME","bytes":3}')
    assert post(bridge.port, "/raw", every_byte, "application/octet-stream") == \
        ok(b'{"ok":true,"printer":"ACME","bytes":256}')
    assert printed(acme, known, 2) == [("KORBA", b"ABC"), ("KORBA", every_byte)]
    assert len(acme.cups_jobs_since(last)) == 2


def test_each_drawer_pulse_is_a_job_of_its_own(start_bridge, acme):
    bridge = start_bridge("--printer", "ACME")
    known = acme.captured_ids()
    assert post(bridge.port, "/pulse") == ok(b'{"ok":true,"printer":"ACME","pin":2}')
    assert post(bridge.port, "/pulse", b'{"pin":5}', "application/json") == \
        ok(b'{"ok":true,"printer":"ACME","pin":5}')
    assert post(bridge.port, "/pulse?pin=2", b'{"pin":5}', "application/json") == \
        ok(b'{"ok":true,"printer":"ACME","pin":2}')
    assert printed(acme, known, 3) == [("KORBA", PULSE_PIN_2), ("KORBA", PULSE_PIN_5), ("KORBA", PULSE_PIN_2)]


def test_printer_list_and_the_default_printer(start_bridge, run_program, cups_queues):
    names = cups_queues.destinations()
    assert names.index("ACME") < names.index("KORBA_DEFAULT")
    # Nothing configured: the spooler's default wins over the first printer listed.
    bridge = start_bridge()
    listed = ",".join(f'"{name}"' for name in names).encode()
    assert exchange(bridge.port, b"GET /printers HTTP/1.1\r\n\r\n") == \
        ok(b'{"ok":true,"default":"KORBA_DEFAULT","printers":[' + listed + b"]}")
    known = cups_queues["KORBA_DEFAULT"].captured_ids()
    assert post(bridge.port, "/raw", b"x") == ok(b'{"ok":true,"printer":"KORBA_DEFAULT","bytes":1}')
    assert printed(cups_queues["KORBA_DEFAULT"], known, 1) == [("KORBA", b"x")]

    done = run_program("--list")
    assert done.returncode == 0
    assert done.stdout.decode("utf-8") == "Impresoras instaladas:\n" + "".join(f"  - {n}\n" for n in names)


def test_each_alias_prints_on_the_queue_it_names_and_no_other_printer_is_reached(start_bridge, target, cups_queues):
    acme = cups_queues["ACME"]
    with named_queue(f"KORBA_COCINA_{os.getpid()}") as kitchen, named_queue(f"KORBA_BARRA_{os.getpid()}") as bar:
        bridge = start_bridge("--printer-for", f"cocina={kitchen.name}", "--printer", "ACME",
                              "--printer-for", f"barra={bar.name}")
        port, queues = bridge.port, (acme, kitchen, bar)
        known = [queue.captured_ids() for queue in queues]
        last = [queue.last_cups_job() for queue in queues]
        # A printer the page did not name, or named by the PC's own name: refused before the spooler hears of it.
        for method, path in [("POST", "/raw?printer=" + kitchen.name), ("POST", "/pulse?printer=COCINA"),
                             ("GET", "/queue?printer=cocina%20"), ("GET", "/status?printer=x&printer=cocina"),
                             ("GET", "/device?printer=nada")]:
            reply = post(port, path, b"nunca") if method == "POST" else get(port, path)
            assert reply == error(400, NOT_CONFIGURED), path
        assert [queue.cups_jobs_since(n) for queue, n in zip(queues, last)] == [[], [], []]

        def printed_on(printer, path, body=b""):
            assert post(port, path, body) == ok(b'{"ok":true,"printer":"%s",' % printer.encode() +
                                                 (b'"bytes":%d}' % len(body) if path.startswith("/raw") else b'"pin":2}'))
        printed_on(kitchen.name, "/raw?printer=cocina", b"\x1b@comanda\n")
        printed_on(bar.name, "/raw?printer=barra", b"dos cafes")
        printed_on(bar.name, "/pulse?printer=barra")
        printed_on("ACME", "/raw?printer=", b"caja")
        printed_on("ACME", "/raw", b"caja 2")
        assert [printed(queue, k, n) for queue, k, n in zip(queues, known, (2, 1, 2))] == [
            [("KORBA", b"caja"), ("KORBA", b"caja 2")], [("KORBA", b"\x1b@comanda\n")],
            [("KORBA", b"dos cafes"), ("KORBA", PULSE_PIN_2)]]
        names = ",".join(f'"{name}"' for name in cups_queues.destinations()).encode()
        assert get(port, "/printers") == ok(b'{"ok":true,"default":"ACME","printers":[%s],"aliases":{"cocina":"%s","barra":"%s"}}'
                                            % (names, kitchen.name.encode(), bar.name.encode()))
        status = json.loads(harness.split_reply(get(port, "/status?printer=barra"))[2])
        assert (status["printer"], status["printer_ok"]) == (bar.name, True)
        if not target.is_wine:
            subprocess.run(["cupsdisable", kitchen.name], check=True)
            assert get(port, "/queue?printer=cocina") == queue_state(kitchen.name, "paused", 0, ["paused"])
            assert get(port, "/queue") == queue_state("ACME", "ready", 0)
        bridge.stop()
    assert bridge.stdout.decode().splitlines()[3:6] == [
        " Impresora: ACME", f" Impresora cocina: {kitchen.name}", f" Impresora barra: {bar.name}"]


@pytest.mark.parametrize("args", [
    ("--printer-for", "cocina"), ("--printer-for", "Cocina=COCINA"), ("--printer-for", "cocina="),
    ("--printer-for", "=COCINA"), ("--printer-for", "a" * 33 + "=X"), ("--printer-for", "co.cina=X"),
    ("--printer-for", "bar=A", "--printer-for", "bar=B", "--list"), ("--printer-for",),
])
def test_a_bad_printer_for_ends_before_anything_else(run_program, args):
    port = harness.free_port()
    done = run_program("--port", str(port), "--no-open", "--no-setup", *args)
    assert (done.returncode, done.stdout, done.stderr) == (1, b"", BAD_PRINTER_FOR)
    assert not harness.listening(port)


@pytest.mark.parametrize("path, body, content_type, status, message", [
    ("/raw", b"", None, 400, b'"cuerpo vacio"'),
    ("/raw", b'{"data_b64":""}', "application/json", 400, b'"cuerpo vacio"'),
    ("/raw", b'{"data_b64":"QUJD!"}', "application/json", 400, b'"JSON invalido: falta data_b64"'),
    ("/raw", b'{"datos":"QUJD"}', "Application/JSON; charset=utf-8", 400, b'"JSON invalido: falta data_b64"'),
])
def test_bad_requests_print_nothing(start_bridge, acme, path, body, content_type, status, message):
    bridge = start_bridge("--printer", "ACME")
    known, last = acme.captured_ids(), acme.last_cups_job()
    assert post(bridge.port, path, body, content_type) == error(status, message)
    assert acme.cups_jobs_since(last) == []
    # The bridge goes on serving, and the next job is the only new one.
    assert post(bridge.port, "/raw", b"after") == ok(b'{"ok":true,"printer":"ACME","bytes":5}')
    assert printed(acme, known, 1) == [("KORBA", b"after")]


def test_a_printer_that_does_not_exist(start_bridge, target, cups_queues):
    bridge = start_bridge("--printer", "NO+EXISTE")
    queues = [cups_queues[name] for name in ("ACME", "KORBA_DEFAULT")]
    last = [queue.last_cups_job() for queue in queues]
    expected = f'"no se pudo abrir la impresora \\"NO EXISTE\\" ({NO_SUCH_PRINTER[target.name]})"'.encode()
    assert post(bridge.port, "/raw", b'{"data_b64":"QUJD"}', "application/json") == error(500, expected)
    assert post(bridge.port, "/pulse") == error(500, expected)
    assert get(bridge.port, "/queue") == queue_state("NO EXISTE", "unavailable", 0)
    assert [queue.cups_jobs_since(n) for queue, n in zip(queues, last)] == [[], []]
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204 No Content\r\n")


# The spooler's text when the scheduler is down. Wine's winspool forgets the CUPS queues
# of a process started while CUPS is down, so there the printer is unknown.
SCHEDULER_DOWN = {
    "native": "Bad file descriptor (cups error 0x0502)",
    "wine": "Invalid printer name. (os error 1801)",
}


def test_print_while_cups_is_stopped(start_bridge, target, cups_queues, acme):
    scheduler = cups_queues.scheduler
    if not scheduler.owned:
        pytest.skip("the CUPS scheduler was not started by these tests, so they leave it running")
    scheduler.stop()
    try:
        bridge = start_bridge("--printer", "ACME")
        expected = f'"no se pudo abrir la impresora \\"ACME\\" ({SCHEDULER_DOWN[target.name]})"'.encode()
        assert post(bridge.port, "/raw", b"lost") == error(500, expected)
        assert post(bridge.port, "/pulse") == error(500, expected)
    finally:
        scheduler.ensure_running()
    assert exchange(bridge.port, b"GET /favicon.ico HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 204 No Content\r\n")
    if target.is_wine:
        # Wine's winspool reads the CUPS queues when the first process that uses it starts.
        bridge.stop()
        bridge = start_bridge("--printer", "ACME")
    known = acme.captured_ids()
    assert post(bridge.port, "/raw", b"back") == ok(b'{"ok":true,"printer":"ACME","bytes":4}')
    assert printed(acme, known, 1) == [("KORBA", b"back")]


def test_a_body_cut_short_prints_nothing(start_bridge, acme):
    # The client announces more than it sends and stops: neither half a ticket nor a pulse.
    bridge = start_bridge("--printer", "ACME")
    known, last = acme.captured_ids(), acme.last_cups_job()
    for path, sent in [("/raw", b"\x1b@HALF A TICK"), ("/pulse", b'{"pin":5')]:
        head = f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{bridge.port}\r\nContent-Length: {len(sent) + 10}\r\n\r\n"
        assert exchange(bridge.port, head.encode() + sent, close_sending=True) == error(400, b'"cuerpo incompleto"')
    assert acme.cups_jobs_since(last) == []
    assert post(bridge.port, "/raw", b"after") == ok(b'{"ok":true,"printer":"ACME","bytes":5}')
    assert printed(acme, known, 1) == [("KORBA", b"after")]


# The peak memory (VmHWM) of one request of the largest body, above idle, against the body's size.
@pytest.mark.skipif(SANITIZED, reason="a sanitized build holds freed memory back")
@pytest.mark.parametrize("kind", harness.LARGEST_BODIES)
def test_largest_ticket_costs_at_most_a_quarter_more_than_its_body(start_bridge, target, acme, kind):
    if target.is_wine:
        pytest.skip("the memory figures are the native process's")
    content_type = harness.LARGEST_BODIES[kind][0]
    body, ticket = harness.largest_body(*harness.LARGEST_BODIES[kind])
    bridge = start_bridge("--printer", "ACME")
    known = acme.captured_ids()
    harness.reset_peak(bridge.proc.pid)
    idle = harness.memory_kib(bridge.proc.pid, "VmHWM")
    assert post(bridge.port, "/raw", body, content_type) == \
        ok(b'{"ok":true,"printer":"ACME","bytes":%d}' % len(ticket))
    rise = (harness.memory_kib(bridge.proc.pid, "VmHWM") - idle) / (len(body) / 1024)
    assert rise <= 1.25, f"the peak rose by {rise:.2f} times the body above {idle} KiB idle"
    assert printed(acme, known, 1) == [("KORBA", ticket)]


# The libraries Windows always takes from its own system folder. Any other library the .exe
# imported could be replaced by a copy planted beside it.
SYSTEM_FOLDER_DLLS = {"KERNEL32.DLL", "ADVAPI32.DLL", "USER32.DLL", "WS2_32.DLL", "MSVCRT.DLL"}


def test_the_exe_imports_only_libraries_from_the_system_folder(target):
    if not target.is_wine:
        pytest.skip("the import table is the Windows build's")
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(target.exe)], check=True,
                          capture_output=True, text=True).stdout
    imported = {line.split("DLL Name:")[1].strip().upper() for line in dump.splitlines() if "DLL Name:" in line}
    assert "KERNEL32.DLL" in imported
    assert imported <= SYSTEM_FOLDER_DLLS


# A stand-in winspool.drv that leaves a file behind in the current folder when it is loaded.
PLANTED_WINSPOOL = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        CloseHandle(CreateFileW(L"planted-winspool-loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    return TRUE;
}
"""


def test_a_winspool_beside_the_program_is_never_loaded(target, run_program, tmp_path, acme):
    if not target.is_wine:
        pytest.skip("the library search is Windows's")
    (tmp_path / "planted.c").write_text(PLANTED_WINSPOOL)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-o", str(tmp_path / "winspool.drv"),
                    str(tmp_path / "planted.c")], check=True)
    exe = tmp_path / "korba-vizoza.exe"
    exe.write_bytes(target.exe.read_bytes())
    # Wine prefers its own winspool where Windows would take the copy in the program's folder.
    done = run_program("--list", exe=exe, cwd=tmp_path, env={"WINEDLLOVERRIDES": "mscoree,mshtml=;winspool.drv=n,b"})
    assert (done.returncode, done.stdout.splitlines()[:1]) == (0, [b"Impresoras instaladas:"])
    assert b"  - ACME" in done.stdout.splitlines()
    assert not (tmp_path / "planted-winspool-loaded").exists()


@pytest.fixture
def own_queue(cups_queues):
    """A capture queue of this run's own, free to be paused and to hold jobs."""
    queue = CaptureQueue(f"KORBA_QUEUE_{os.getpid()}")
    queue.create()
    yield queue
    queue.remove()


def hold_job(queue, data):
    done = subprocess.run(["lp", "-d", queue.name, "-H", "hold", "-t", "held"], input=data, check=True,
                          capture_output=True)
    return done.stdout.decode().split()[3]  # "request id is NAME-N (1 file(s))"


def test_queue_state_follows_the_cups_queue(start_bridge, target, own_queue):
    if target.is_wine:
        pytest.skip("Wine's spooler shows neither the CUPS state nor its jobs")
    bridge = start_bridge("--printer", own_queue.name)
    name = own_queue.name
    assert get(bridge.port, "/queue") == queue_state(name, "ready", 0)
    # The common request path's Host rule holds here too.
    assert exchange(bridge.port, f"GET /queue HTTP/1.1\r\nHost: rebind.example:{bridge.port}\r\n\r\n".encode()) == \
        reply_bytes(403, "Forbidden", JSON, b'{"ok":false,"error":"host no permitido"}', cors())
    known = own_queue.captured_ids()
    held = [hold_job(own_queue, b"uno"), hold_job(own_queue, b"dos")]
    assert get(bridge.port, "/queue") == queue_state(name, "printing", 2)
    subprocess.run(["cupsdisable", name], check=True)
    assert get(bridge.port, "/queue") == queue_state(name, "paused", 2, ["paused"])
    subprocess.run(["cupsenable", name], check=True)
    for job in held:
        subprocess.run(["lp", "-i", job, "-H", "resume"], check=True, capture_output=True)
    assert sorted(job.data for job in own_queue.wait_for_jobs(known, 2)) == [b"dos", b"uno"]
    wait_until(lambda: get(bridge.port, "/queue") == queue_state(name, "ready", 0), 30, "the jobs do not finish")


def test_queue_under_wine_has_the_same_shape(start_bridge, target, acme):
    if not target.is_wine:
        pytest.skip("the native build is checked against a queue of its own")
    bridge = start_bridge("--printer", "ACME")
    # Wine's spooler reports no status flags and none of the CUPS jobs.
    assert get(bridge.port, "/queue") == queue_state("ACME", "ready", 0)
