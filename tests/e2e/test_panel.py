"""The control panel page in a real headless Chromium, against the running bridge and a
capturing CUPS queue."""

import json
import os
import re
import shutil
import subprocess
import time
from datetime import datetime, timedelta, timezone

import pytest
from selenium.webdriver.common.by import By

import harness

from browser import REBOUND_NAME, chromium, panel  # noqa: F401  (fixture)
from cups_queue import cups_queues, device_queue, own_queue  # noqa: F401  (fixture)
from js_client import Page, serve

TICKET_HEAD = (b"\x1b@" b"\x1ba\x01" b"\x1bE\x01" b"KORBA - TEST DE CAJON\n" b"\x1bE\x00" + b"-" * 32 + b"\n"
               b"\x1ba\x00" b"Si lees esto: impresion OK.\n" b"Si suena el cajon: pulso OK.\n" b"Fecha: ")
TICKET_TAIL = b"\n" b"\x1bd\x03" b"\x1bp\x00\x19\xfa" b"\x1bd\x03" b"\x1dV\x01"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
WARNING = ("⚠️ El ejecutable esta en Descargas o una carpeta temporal: muevelo a una carpeta fija "
           "(p.ej. C:\\KORBA\\) antes de activar el arranque.")
READY = "Panel listo. Arriba aparece la impresora que usa el vizoza."


@pytest.fixture
def acme(cups_queues):
    return cups_queues["ACME"]


def printed(queue, known, count):
    return [job.data for job in queue.wait_for_jobs(known, count)]


@pytest.fixture
def native(target):
    if target.is_wine:
        pytest.skip("the page is the same bytes in both builds; its printing is checked natively")


def test_status_line_and_autostart_card(native, acme, start_bridge, panel):
    bridge = start_bridge("--printer", "ACME")
    panel.open(bridge.port)
    assert panel.text("estado") == "Impresora: ACME (accesible)"
    assert panel.element("#estado b").text == "ACME"
    # Outside Windows the bridge cannot switch its autostart, and the panel shows no switch.
    assert panel.fetch("/startup") == [200, '{"ok":true,"startup":false,"switchable":false}']
    panel.wait(lambda: panel.element("#arranque").get_attribute("hidden") is not None)
    assert panel.wait_log(1) == [READY]
    # One printer: no list of printers.
    assert panel.element("#impresoras").get_attribute("hidden") is not None
    # es-ES writes the hour with one digit before 10 o'clock.
    assert re.fullmatch(r"\[\d{1,2}:\d{2}:\d{2}\] " + re.escape(READY), panel.log_lines()[0])


def test_another_name_for_127_0_0_1_reads_nothing(native, acme, start_bridge, panel):
    if os.environ.get("KORBA_SANITIZED") == "1":
        pytest.skip("the Host rule is plain text work, already run unsanitized")
    bridge = start_bridge("--printer", "ACME")
    refused = '{"ok":false,"error":"host no permitido"}'
    panel.driver.get(f"http://{REBOUND_NAME}:{bridge.port}/")
    assert panel.driver.find_element(By.TAG_NAME, "body").text == refused
    assert panel.driver.find_elements(By.ID, "estado") == []
    assert panel.fetch("/status") == [403, refused]
    for host in ("127.0.0.1", "localhost"):
        panel.open(bridge.port, host)
        assert panel.text("estado") == "Impresora: ACME (accesible)"
        status, text = panel.fetch("/status")
        assert (status, json.loads(text)["printer"]) == (200, "ACME")


def test_printer_name_with_markup_is_shown_as_text(native, start_bridge, panel):
    name = '<img src=x onerror="document.title=1">&amp; <b>B</b>'
    bridge = start_bridge("--printer", name)
    panel.open(bridge.port)
    assert panel.text("estado") == f"Impresora: {name} (OJO: no accesible)"
    assert panel.driver.find_elements(By.CSS_SELECTOR, "#estado img, #estado b b") == []
    panel.click("c2")
    error = panel.wait_log(2)[1]
    assert error.startswith(f'ERROR: no se pudo abrir la impresora "{name}" (') and error.endswith("))")


@pytest.mark.parametrize("button, job, message", [
    ("c2", b"\x1bp\x00\x19\xfa", "OK: pulso pin 2 enviado. ¿Ha saltado el cajón?"),
    ("c5", b"\x1bp\x01\x19\xfa", "OK: pulso pin 5 enviado. ¿Ha saltado el cajón?"),
])
def test_drawer_buttons_print_the_pulse(native, acme, start_bridge, panel, button, job, message):
    bridge = start_bridge("--printer", "ACME")
    panel.open(bridge.port)
    known = acme.captured_ids()
    panel.click(button)
    assert panel.wait_log(2) == [READY, message]
    assert printed(acme, known, 1) == [job]


def ticket_time(job, offset_minutes):
    """The date and time that the page wrote into the ticket, in UTC: the page writes the browser's
    local time, whose zone need not be the one this process reads from TZ."""
    assert job.startswith(TICKET_HEAD) and job.endswith(TICKET_TAIL)
    local = datetime.strptime(job[len(TICKET_HEAD):-len(TICKET_TAIL)].decode("ascii"), "%d/%m/%Y, %H:%M:%S")
    return local + timedelta(minutes=offset_minutes)


def utc_now():
    return datetime.now(timezone.utc).replace(tzinfo=None)


def test_ticket_button_prints_whole_tickets(native, acme, start_bridge, panel):
    bridge = start_bridge("--printer", "ACME")
    panel.open(bridge.port)
    known = acme.captured_ids()
    offset = panel.driver.execute_script("return new Date().getTimezoneOffset();")
    before = utc_now().replace(microsecond=0)
    panel.click("tk")
    panel.click("tk")
    messages = panel.wait_log(3)[1:]
    jobs = printed(acme, known, 2)
    after = utc_now()
    for job in jobs:
        assert before <= ticket_time(job, offset) <= after
    assert sorted(messages) == sorted(f"OK: ticket enviado ({len(job)} bytes)" for job in jobs)


def test_every_printer_with_its_queue_and_a_test_ticket_of_its_own(native, acme, start_bridge, panel, tmp_path):
    # Aliases of digits come first in a parsed JSON object; the panel keeps the command line's order.
    with own_queue(f"KORBA_PANEL_COCINA_{os.getpid()}") as kitchen:
        bridge = start_bridge("--printer", "ACME", "--printer-for", f"cocina={kitchen.name}",
                              "--printer-for", "2=NO+EXISTE", "--data", tmp_path)
        subprocess.run(["cupsdisable", kitchen.name], check=True)
        panel.open(bridge.port)
        entries = lambda: [e.text.split("\n") for e in panel.driver.find_elements(By.CSS_SELECTOR, "#prList .printer")]
        panel.wait(lambda: all("consultando" not in entry[1] for entry in entries()) and len(entries()) == 3)
        assert entries() == [["Principal: ACME", "Cola: lista · 0 trabajos", "Ticket de prueba"],
                             [f"cocina: {kitchen.name}", "Cola: en pausa · 0 trabajos (paused)", "Ticket de prueba"],
                             ["2: NO EXISTE", "Cola: no disponible · 0 trabajos", "Ticket de prueba"]]
        subprocess.run(["cupsenable", kitchen.name], check=True)
        known = kitchen.captured_ids(), acme.captured_ids()
        panel.element('#prList button[data-printer="cocina"]').click()
        assert panel.wait_log(2)[1].startswith(f"OK: ticket de prueba enviado a {kitchen.name} (")
        [job] = printed(kitchen, known[0], 1)
        assert ticket_time(job.replace(b"\x1bd\x03\x1bd\x03", b"\x1bd\x03\x1bp\x00\x19\xfa\x1bd\x03"), 0)
        # The drawer stays on the main printer.
        panel.click("c2")
        assert printed(acme, known[1], 1) == [b"\x1bp\x00\x19\xfa"]
        panel.wait(lambda: [row[4] for row in ticket_rows(panel)] == [kitchen.name])


def ticket_rows(panel):
    # Read in one go: the page replaces the rows each time it reads the list again.
    return panel.driver.execute_script(
        'return [...document.querySelectorAll("#tkList tbody tr")].map(r => [...r.cells].map(c => c.textContent));')


def test_ticket_list_follows_a_ticket_printed_through_the_panel(native, acme, start_bridge, panel, tmp_path):
    bridge = start_bridge("--printer", "ACME", "--data", tmp_path)
    panel.open(bridge.port)
    panel.wait(lambda: panel.text("tkInfo") == "Aún no hay tickets.")
    known = acme.captured_ids()
    panel.click("tk")
    [job] = printed(acme, known, 1)
    # Read again by itself, without a reload, until the spooler is done with it; after the state,
    # the job's reasons as last seen (CUPS may leave one from the printing, such as
    # processing-to-stop-point).
    panel.wait(lambda: [row[1:3] for row in ticket_rows(panel)] == [["—", str(len(job))]] and
               ticket_rows(panel)[0][3].startswith("enviado"))
    [[time, _, _, state, printer]] = ticket_rows(panel)
    assert printer == "ACME"
    assert re.fullmatch(r"\d{1,2}:\d{2}:\d{2}", time)
    assert re.fullmatch(r"enviado( \([a-z-]+(, [a-z-]+)*\))?", state)
    assert panel.text("tkInfo") == ""


@pytest.fixture
def wine_without_run_value(target):
    if not target.is_wine:
        pytest.skip("the entry lives in the registry that Wine's reg edits")

    def remove():
        subprocess.run(["wine", "reg", "delete", RUN_KEY, "/v", "KORBAVizoza", "/f"], env=harness.wine_env(),
                       capture_output=True, timeout=60)
    remove()
    yield
    remove()


def test_autostart_button_switches_the_entry_under_wine(wine_without_run_value, target, start_bridge, panel,
                                                         tmp_path):
    # A copy in a folder named Temp, which the bridge warns about.
    exe = tmp_path / "Temp" / "korba-vizoza.exe"
    exe.parent.mkdir()
    shutil.copy(target.exe, exe)
    bridge = start_bridge(exe=exe)
    panel.open(bridge.port)
    assert panel.fetch("/startup") == [200, '{"ok":true,"startup":false,"switchable":true}']
    assert panel.element("#arranque").get_attribute("hidden") is None
    panel.click("st")
    assert panel.wait_log(2)[1] == "Arranque con Windows ACTIVADO. Se abrira solo al encender el PC."
    assert panel.text("st") == "🚀 Arrancar con Windows: desactivar"
    assert panel.css_class("st") == "warn"
    info = panel.text("stInfo").split("\n")
    assert re.fullmatch(r"Ejecutable: Z:\\.*\\Temp\\korba-vizoza\.exe", info[0]) and info[1:] == [WARNING]

    panel.open(bridge.port)  # a reload finds the entry on
    assert panel.text("st") == "🚀 Arrancar con Windows: desactivar"
    panel.click("st")
    assert panel.wait_log(2)[1] == "Arranque con Windows desactivado."
    assert panel.text("st") == "🚀 Arrancar con Windows: activar"
    assert panel.css_class("st") == "primary"


def test_unreachable_status_is_reported(native, start_bridge, panel):
    bridge = start_bridge()
    panel.driver.execute_cdp_cmd("Network.enable", {})
    panel.driver.execute_cdp_cmd("Network.setBlockedURLs", {"urls": ["*/status"]})
    try:
        panel.open(bridge.port)
    finally:
        panel.driver.execute_cdp_cmd("Network.setBlockedURLs", {"urls": []})
    assert panel.text("estado").startswith("El vizoza no responde: TypeError")
    assert panel.element("#stInfo").get_attribute("textContent") == "Comprobando…"


# A ticket as a shop's page sends it: PC858 text with accents, € and ñ, an EAN-13, a QR code, the
# drawer pulse and the cut.
PREVIEW_LINES = ["Café Ñandú", "2 x Menú del día   19,80 €", "<b>Sra. Muñoz</b> & cía: ¡gracias!"]
PREVIEW_EAN = "4006381333931"
PREVIEW_QR = "https://korba.app/t/2026-0042"


def qr_store(data):
    size = len(data) + 3
    return b"\x1d(k" + bytes([size % 256, size // 256]) + b"\x31\x50\x30" + data


PREVIEW_TICKET = (b"\x1b@" b"\x1bt\x13" b"\x1ba\x01" + b"".join(line.encode("cp858") + b"\n" for line in PREVIEW_LINES)
                  + b"\x1dh\x50" b"\x1dw\x02" b"\x1dH\x02" b"\x1dkC\x0d" + PREVIEW_EAN.encode() + b"\n"
                  + b"\x1d(k\x04\x00\x31\x41\x32\x00" b"\x1d(k\x03\x00\x31\x43\x06" b"\x1d(k\x03\x00\x31\x45\x31"
                  + qr_store(PREVIEW_QR.encode()) + b"\x1d(k\x03\x00\x31\x51\x30"
                  + b"\n" b"\x1bp\x00\x19\xfa" b"\x1bd\x03" b"\x1dV\x01")


def ticket_lines(panel, figure):
    """The text lines of a drawn ticket, each the texts at one height, left to right, of the characters
    drawn (a space that collapsed is not)."""
    return panel.driver.execute_script("""
        const rows = new Map();
        for (const text of arguments[0].querySelectorAll("text")) {
          const drawn = [...text.textContent].slice(0, text.getNumberOfChars());
          if (drawn.length < text.textContent.length) drawn.push(" [" + (text.textContent.length - drawn.length) + " lost]");
          const box = text.getBoundingClientRect();
          const top = Math.round(box.top);
          rows.set(top, [...(rows.get(top) || []), [box.left, drawn.join("")]]);
        }
        return [...rows.keys()].sort((a, b) => a - b)
          .map((top) => rows.get(top).sort((a, b) => a[0] - b[0]).map((t) => t[1]).join("").trim());""", figure)


def test_preview_draws_what_a_page_prints(native, start_bridge, panel, tmp_path):
    bridge = start_bridge("--preview")
    panel.open(bridge.port)
    panel.wait(lambda: not panel.element("#vista").get_attribute("hidden"))
    assert panel.element("#vista h2").text == "Vista previa"
    assert panel.element("#vistaTickets").find_elements(By.TAG_NAME, "figure") == []
    # A page of a developer's own prints through the client, in a browser of its own beside the panel.
    files = serve()
    driver = chromium(tmp_path / "page-profile")
    try:
        page = Page(driver, files.server_address[1])
        page.open(page.local)
        printed = page.run(f"http://127.0.0.1:{bridge.port}",
                           f"return await bridge.print(new Uint8Array({list(PREVIEW_TICKET)}));")
        # The client gives every ticket an id of its own; the virtual printer has it sent at once.
        ticket_id = printed["value"].pop("id")
        assert printed == {"value": {"ok": True, "printer": "KORBA vista previa", "bytes": len(PREVIEW_TICKET),
                                     "job": printed["value"]["job"], "repeat": False}}
        page.run(f"http://127.0.0.1:{bridge.port}", "return await bridge.pulse(5);")
        sent = time.monotonic()
        panel.wait(lambda: len(panel.element("#vistaTickets").find_elements(By.TAG_NAME, "figure")) == 2
                   and drawn(panel))
        assert time.monotonic() - sent < 2, "the new tickets showed late"
    finally:
        driver.quit()
        files.shutdown()
    pulse, ticket = panel.element("#vistaTickets").find_elements(By.TAG_NAME, "figure")
    assert pulse.find_element(By.TAG_NAME, "figcaption").text.endswith(" · 5 bytes")
    assert ticket_id in ticket.find_element(By.TAG_NAME, "figcaption").text
    assert len(pulse.find_elements(By.CSS_SELECTOR, "svg .korba-pulse")) == 1
    # The markup in the ticket's text is text; the pulse is marked above the cut, as it came.
    assert ticket_lines(panel, ticket)[:3] == PREVIEW_LINES
    assert ticket.find_elements(By.CSS_SELECTOR, "svg b") == []
    marks = [ticket.find_element(By.CSS_SELECTOR, f"svg .korba-{mark}").rect["y"] for mark in ("pulse", "cut.partial")]
    assert marks == sorted(marks)
    shot = tmp_path / "ticket.png"
    ticket.find_element(By.CLASS_NAME, "papel").screenshot(str(shot))
    read = subprocess.run(["zbarimg", "--quiet", str(shot)], capture_output=True, text=True, timeout=60).stdout
    assert sorted(read.splitlines()) == sorted([f"EAN-13:{PREVIEW_EAN}", f"QR-Code:{PREVIEW_QR}"])


def drawn(panel):
    """Whether every ticket's drawing is in the page (one still going in is busy)."""
    return panel.element("#vistaTickets").find_elements(By.CSS_SELECTOR, "[aria-busy]") == []


def test_a_ticket_too_large_to_draw_goes_in_a_slice_at_a_time(native, start_bridge, panel):
    bridge = start_bridge("--preview")
    panel.open(bridge.port)
    panel.wait(lambda: not panel.element("#vista").get_attribute("hidden"))
    # Each task that changes the drawing is one slice of it.
    panel.driver.execute_script("""window.slices = 0;
        new MutationObserver(() => window.slices++).observe(document.getElementById("vistaTickets"),
          { childList: true, subtree: true });""")
    # 1 MiB of images of dots in a checkerboard: a drawing at its bound of characters, 4 MiB, and the
    # mark after it.
    one = b"\x1dv0\x00" + bytes([72, 0, 64, 0]) + (b"\x55" * 72 + b"\xaa" * 72) * 32
    image = one * ((1 << 20) // len(one))
    head = (f"POST /raw HTTP/1.1\r\nHost: 127.0.0.1:{bridge.port}\r\nContent-Type: application/octet-stream\r\n"
            f"Content-Length: {len(image)}\r\n\r\n").encode()
    assert b" 200 OK\r\n" in harness.exchange(bridge.port, head + image, timeout=60)
    panel.wait(lambda: len(panel.element("#vistaTickets").find_elements(By.TAG_NAME, "figure")) == 1 and drawn(panel))
    figure = panel.element("#vistaTickets figure")
    marks = figure.find_elements(By.CSS_SELECTOR, "svg .korba-too-large")
    assert [mark.get_attribute("textContent") for mark in marks] == ["ticket demasiado grande para dibujarlo" * 2]
    # In slices of 256 KiB and a part (64 KiB) at most, one a frame.
    assert panel.driver.execute_script("return window.slices") >= 12


def test_the_printers_own_state_beside_it_while_the_page_is_in_view(native, acme, start_bridge, panel):
    printer = harness.FakeNetworkPrinter()
    try:
        with device_queue(f"KORBA_PANEL_DEVICE_{os.getpid()}", f"socket://127.0.0.1:{printer.port}") as name:
            bridge = start_bridge("--printer", name)
            panel.open(bridge.port)
            for raw, shown in [("12121212", "lista · señal del cajón: baja"),
                               ("1612121E", "papel por acabarse · señal del cajón: alta"),
                               ("12321272", "sin papel · señal del cajón: baja"),
                               ("12161212", "tapa abierta · señal del cajón: baja"),
                               (None, "no responde")]:
                printer.silent = raw is None
                printer.status = bytes.fromhex(raw or "12121212")
                panel.wait(lambda: panel.text("dispositivo") == "La impresora dice: " + shown)
            # Behind another tab the page asks nothing, and asks again once it is back in view.
            printer.silent = False
            page = panel.driver.current_window_handle
            panel.driver.switch_to.new_window("tab")
            time.sleep(1)
            asked = len(printer.connections())
            time.sleep(4)
            assert len(printer.connections()) == asked
            panel.driver.close()
            panel.driver.switch_to.window(page)
            panel.wait(lambda: panel.text("dispositivo") == "La impresora dice: lista · señal del cajón: baja")
    finally:
        printer.close()
    other = start_bridge("--printer", "ACME")
    panel.open(other.port)
    panel.wait(lambda: panel.text("dispositivo") == "La impresora dice: no es de red")
