"""The JavaScript client (client/) against the running bridge: Node's test runner natively, and a
page in headless Chromium natively and under Wine. Its own step of the test command, so the
name does not match test_*.py: `pytest tests/e2e/js_client.py`."""

import http.server
import json
import os
import re
import ssl
import subprocess
import threading
import time

import pytest

import harness
from browser import WAIT_SECONDS, chromium
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
from cups_queue import cups_queues, own_queue  # noqa: F401  (fixture)
from runner_tools import seen_path

CLIENT = harness.ROOT / "client"
TICKET = b"\x1b@" + bytes(range(256)) + b"\x1dV\x01"
PULSE_PIN_2 = bytes.fromhex("1B700019FA")
PULSE_PIN_5 = bytes.fromhex("1B700119FA")
# A capture queue of this run's own: other runs print to the shared ones at the same time.
QUEUE = f"KORBA_CLIENT_{os.getpid()}"


def failure(code, message):
    """A BridgeError as the page hands it back."""
    return {"code": code, "message": message, "name": "BridgeError"}


def not_running(address):
    return failure("not-running", f"el vizoza no responde en {address}")


PROMPT = failure("permission-prompt",
                 "el navegador pide permiso para acceder a la red local: acepta el aviso y vuelve a intentarlo")
DENIED = failure("permission-denied", "el navegador no deja a esta pagina acceder al vizoza: "
                 "permite el acceso a la red local en los ajustes del sitio")


@pytest.fixture(scope="module")
def queue(cups_queues):
    with own_queue(QUEUE) as queue:
        yield queue


@pytest.fixture
def native(target):
    if target.is_wine:
        pytest.skip("the same client code whatever the build; the page alone runs against both")


def show_summary(capsys, output):
    """The runner's own closing lines, shown even when pytest captures output."""
    with capsys.disabled():
        print("\n" + "\n".join(line for line in output.splitlines() if line.startswith("ℹ ")))


def test_node_runner(native, queue, start_bridge, capsys, tmp_path):
    # Ticket records of their own, which list only this run's tickets.
    bridge = start_bridge("--printer", QUEUE, "--data", tmp_path / "bridge")
    missing = start_bridge("--printer", "NOPE", "--data", tmp_path / "missing")
    known, last = queue.captured_ids(), queue.last_cups_job()
    env = {"KORBA_BRIDGE": f"http://127.0.0.1:{bridge.port}",
           "KORBA_BRIDGE_MISSING": f"http://127.0.0.1:{missing.port}",
           "KORBA_PRINTER": QUEUE, "KORBA_EXE": str(harness.NATIVE_BIN.resolve()), "KORBA_TICKET_HEX": TICKET.hex()}
    run = subprocess.run(["node", "--test", "--test-reporter=spec", str(CLIENT / "test" / "bridge.test.js")],
                         env=harness.Target("native").env(env), capture_output=True, text=True, timeout=120)
    show_summary(capsys, run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr
    assert [job.data for job in queue.wait_for_jobs(known, 5)] == [TICKET] * 3 + [PULSE_PIN_2, PULSE_PIN_5]
    # The refused requests and the repeat made none.
    assert len(queue.cups_jobs_since(last)) == 5


# printOnce with a fallback, as a kitchen page runs it (again after a reload): the record it resolved with.
FALLBACK_PAGE = """
import { Bridge } from "%s";
const bytes = Uint8Array.from(Buffer.from(process.env.TICKET_HEX, "hex"));
const done = await new Bridge({ address: process.env.BRIDGE }).printOnce(bytes,
  { id: "mesa-4", expire: 600, printer: "cocina", fallback: { printer: "barra", after: 1 }, timeout: 60000 });
console.log(JSON.stringify(done));
""" % (CLIENT / "korba-vizoza.js").as_uri()


def test_a_waiting_kitchen_ticket_moves_to_the_bar_once(native, start_bridge, tmp_path):
    with own_queue(f"KORBA_COCINA_{os.getpid()}") as kitchen, own_queue(f"KORBA_BARRA_{os.getpid()}") as bar:
        subprocess.run(["cupsdisable", kitchen.name], check=True)
        bridge = start_bridge("--printer", QUEUE, "--printer-for", f"cocina={kitchen.name}",
                              "--printer-for", f"barra={bar.name}", "--data", tmp_path)
        known = kitchen.captured_ids(), bar.captured_ids()
        env = {"BRIDGE": f"http://127.0.0.1:{bridge.port}", "TICKET_HEX": TICKET.hex()}

        def print_once():
            run = subprocess.run(["node", "--input-type=module", "-e", FALLBACK_PAGE],
                                 env=harness.Target("native").env(env), capture_output=True, text=True, timeout=120)
            assert run.returncode == 0, run.stdout + run.stderr
            done = json.loads(run.stdout)
            assert (done["id"], done["printer"], done["state"]) == ("mesa-4~barra", bar.name, "sent")

        print_once()
        assert [job.data for job in bar.wait_for_jobs(known[1], 1)] == [TICKET]
        # The kitchen's printer back, and the page reloaded: the same call prints nothing more.
        subprocess.run(["cupsenable", kitchen.name], check=True)
        print_once()
        time.sleep(2)  # a second print would show up here
        assert kitchen.captured_ids() == known[0]
        assert len(bar.captured_ids() - known[1]) == 1


# printOnce watched as a page watches it: each state it reports, one line each, then its result.
WATCHING_PAGE = """
import { Bridge } from "%s";
const bytes = Uint8Array.from(Buffer.from(process.env.TICKET_HEX, "hex"));
const done = await new Bridge({ address: process.env.BRIDGE }).printOnce(bytes, { timeout: 60000,
  onState: (t) => console.log(JSON.stringify([t.state, t.reasons, t.printer, t.job !== null, t.failure ?? null])) });
console.log(JSON.stringify(["done", done.state]));
""" % (CLIENT / "korba-vizoza.js").as_uri()


def test_print_once_reports_a_paused_queue_then_the_print(native, cups_queues, start_bridge, tmp_path):
    with own_queue(f"KORBA_PAUSADA_{os.getpid()}") as paused:
        subprocess.run(["cupsdisable", paused.name], check=True)
        bridge = start_bridge("--printer", paused.name, "--data", tmp_path)
        known = paused.captured_ids()
        env = {"BRIDGE": f"http://127.0.0.1:{bridge.port}", "TICKET_HEX": TICKET.hex()}
        page = subprocess.Popen(["node", "--input-type=module", "-e", WATCHING_PAGE], stdout=subprocess.PIPE,
                                env=harness.Target("native").env(env), text=True)
        try:
            # Queued, and then (once the bridge has looked at the queue) why.
            first = [json.loads(page.stdout.readline())]
            while first[-1][:2] != ["queued", ["paused"]] and len(first) < 4:
                first.append(json.loads(page.stdout.readline()))
            subprocess.run(["cupsenable", paused.name], check=True)
            rest = [json.loads(line) for line in page.stdout]
        finally:
            page.stdout.close()
            assert page.wait(timeout=120) == 0
        queued = [["queued", reasons, paused.name, True, None] for reasons in ([], ["paused"])]
        assert first in ([["sending", [], None, False, None]] + queued, [["sending", [], None, False, None]] + queued[1:])
        # Enabled, the queue prints it; the looks may find it still queued or printing on the way, each
        # change of reasons a call of its own.
        assert rest[-1] == ["done", "sent"]
        assert all(printer == paused.name and job for _, _, printer, job, _ in rest[:-1]), rest
        states = [state for i, (state, *_) in enumerate(rest[:-1]) if i == 0 or rest[i - 1][0] != state]
        assert states in (["sent"], ["printing", "sent"], ["queued", "sent"], ["queued", "printing", "sent"]), rest
        assert [job.data for job in paused.wait_for_jobs(known, 1)] == [TICKET]


# The page imports the module as an application would, and hands it to the test.
PAGE = b"""<!doctype html><meta charset="utf-8"><title>cargando</title>
<script type="module">
import * as korba from "/korba-vizoza.js";
window.korba = korba;
document.title = "listo";
</script>
"""


ENCODER = CLIENT / "test" / "render" / "node_modules" / "@point-of-sale" / "receipt-printer-encoder"
# The client's modules, at the top and where npm installs them, and the encoder's files, as docs/client.md has them.
SERVED = re.compile(r"/(?:node_modules/korba-vizoza/)?(korba-[a-z]+\.js)|/node_modules/@point-of-sale/"
                    r"receipt-printer-encoder/(dist/[a-z.-]+)")


class Files(http.server.SimpleHTTPRequestHandler):
    """The page, the modules and the pages a test adds, nothing else."""
    pages = {"/": PAGE}

    def do_GET(self):
        served = SERVED.fullmatch(self.path)
        if self.path in self.pages:
            body, kind = self.pages[self.path], "text/html"
        elif served:
            file = CLIENT / served[1] if served[1] else ENCODER / served[2]
            body, kind = (file.read_bytes() if file.is_file() else b""), "text/javascript"
        else:
            body, kind = b"", "text/plain"
        self.send_response(200 if body else 404)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve(wrap=None):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Files)
    if wrap:
        server.socket = wrap(server.socket)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def tls_wrapper(folder):
    """A self-signed certificate for the public page; the browser is told to accept any."""
    key, cert = folder / "key.pem", folder / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=korba.app",
                    "-keyout", str(key), "-out", str(cert)], check=True, capture_output=True, timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return lambda sock: context.wrap_socket(sock, server_side=True)


class Page:
    """The browser, with the page at http://localhost:PORT (an admitted development origin, on the PC
    itself), at http://tienda.example:PORT (the same server under an origin the bridge refuses) and at
    https://korba.app, which Chromium is told to take for a public site."""

    def __init__(self, driver, local_port):
        self.driver = driver
        self.local = f"http://localhost:{local_port}/"
        self.refused = f"http://tienda.example:{local_port}/"
        self.public = "https://korba.app/"

    def open(self, url):
        self.driver.get(url)
        self.driver.execute_async_script("""const done = arguments[0];
            (function wait() { document.title === "listo" ? done() : setTimeout(wait, 20); })();""")

    def run(self, address, body):
        """Runs `body` (async code with `bridge` in scope) and returns its result, or the error's code
        and message."""
        return self.driver.execute_async_script(f"""const done = arguments[arguments.length - 1];
            const bridge = new korba.Bridge({{ address: arguments[0] }});
            (async () => {{ {body} }})().then((value) => done({{ value }}),
              (e) => done({{ code: e.code, message: e.message, name: e.name }}));""", address)

    def set_permission(self, setting):
        self.driver.execute_cdp_cmd("Browser.setPermission", {
            "permission": {"name": "loopback-network"}, "setting": setting, "origin": self.public[:-1]})


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    local = serve()
    public = serve(tls_wrapper(tmp_path_factory.mktemp("tls")))
    public_port = public.server_address[1]
    driver = chromium(tmp_path_factory.mktemp("chromium-profile"),
                      [f"MAP korba.app:443 127.0.0.1:{public_port}", "MAP tienda.example 127.0.0.1"],
                      ["--ignore-certificate-errors", f"--ip-address-space-overrides=127.0.0.1:{public_port}=public"])
    try:
        yield Page(driver, local.server_address[1])
    finally:
        driver.quit()
        local.shutdown()
        public.shutdown()


def test_page_checks_prints_and_pulses(target, queue, start_bridge, page, tmp_path):
    bridge = start_bridge("--printer", QUEUE, "--data", seen_path(target, tmp_path))
    address = f"http://127.0.0.1:{bridge.port}"
    page.open(page.local)
    known = queue.captured_ids()
    result = page.run(address, f"""
        const status = await bridge.check({{ minVersion: "1.5.0" }});
        const ticket = new Uint8Array({list(TICKET)});
        return [status.app, status.printer, status.printer_ok, await bridge.print(ticket), await bridge.pulse(2)];""")
    printed = result["value"][3]
    # The id the client made in the page: crypto.randomUUID, which the page on localhost has.
    assert re.fullmatch(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}", printed["id"])
    assert result == {"value": ["korba-vizoza", QUEUE, True,
                                {"ok": True, "printer": QUEUE, "bytes": len(TICKET), "id": printed["id"],
                                 "job": printed["job"], "repeat": False},
                                {"ok": True, "printer": QUEUE, "pin": 2}]}
    assert [job.data for job in queue.wait_for_jobs(known, 2)] == [TICKET, PULSE_PIN_2]
    # The same page once nothing listens there any more.
    bridge.stop()
    assert page.run(address, "return await bridge.status();") == not_running(address)


def test_public_page_reads_the_browser_permission(native, queue, start_bridge, page):
    bridge = start_bridge("--printer", QUEUE)
    address = f"http://127.0.0.1:{bridge.port}"
    page.open(page.public)
    printer = "return (await bridge.check()).printer;"
    # Headless Chromium answers its own prompt with a refusal: the first call finds the state denied.
    assert page.run(address, printer) == DENIED
    # Set back to prompt, the browser does not ask again at once and the call fails.
    for setting, expected in ("prompt", PROMPT), ("denied", DENIED), ("granted", {"value": QUEUE}):
        page.set_permission(setting)
        assert page.run(address, printer) == expected, setting
    bridge.stop()
    assert page.run(address, printer) == not_running(address)


def test_refused_origin_and_host(native, queue, start_bridge, page):
    bridge = start_bridge("--printer", QUEUE)
    address = f"http://127.0.0.1:{bridge.port}"
    # The client takes no such address: its requests go to the IPv4-mapped one, which reaches the
    # bridge under a Host name it refuses.
    page.open(page.local)
    assert page.run(address, """const fetch = window.fetch;
        window.fetch = (url, init) => fetch(url.replace("127.0.0.1", "[::ffff:127.0.0.1]"), init);
        try { return await bridge.status(); } finally { window.fetch = fetch; }""") == \
        failure("host-refused", "host no permitido")
    page.open(page.refused)
    refused = failure("origin-refused", "origin no permitido")
    assert page.run(address, "return await bridge.status();") == refused
    assert page.run(address, "return await bridge.pulse(5);") == refused
    assert page.run(address, "return await bridge.print(new Uint8Array([65]));") == refused
    # The JSON post's preflight is refused, which the page sees as a failed fetch; a plain-HTTP page
    # that is not on the PC can never have the permission, so that is what the client reports.
    assert page.run(address, "return await bridge.print(new Uint8Array([65]), { json: true });") == DENIED


def test_renderer(native, capsys):
    # Tickets from the encoder that scripts/deps.sh installs; zbarimg reads the barcodes drawn.
    run = subprocess.run(["node", "--test", "--test-reporter=spec", str(CLIENT / "test" / "render")],
                         capture_output=True, text=True, timeout=300)
    show_summary(capsys, run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr


# Text in PC858, a logo, an EAN-13 and a QR code on 58 mm paper, with a cut.
DRAWN = (b"\x1b@\x1bt\x13\x1ba\x01Ca\xa4a \xd5 3,50\n\x1dv0\x00\x02\x00\x10\x00" + b"\xf0\x0f" * 16 +
         b"\n\x1dh\x50\x1dH\x02\x1dk\x02400638133393\x00\n\x1d(k\x03\x001C\x05\x1d(k\x0c\x001P0tienda 42"
         b"\x1d(k\x03\x001Q0\n\n\x1dV\x01")


def test_renderer_draws_in_the_browser_as_in_node(native, page, tmp_path):
    node = subprocess.run(["node", "--input-type=module", "-e",
                           "import { renderTicket } from './korba-render.js';"
                           "process.stdout.write(renderTicket(Buffer.from(process.argv[1], 'hex'), { paper: 58 }));",
                           DRAWN.hex()], cwd=CLIENT, capture_output=True, text=True, timeout=60)
    assert node.returncode == 0, node.stderr
    page.open(page.local)
    drawn = page.driver.execute_async_script("""const done = arguments[arguments.length - 1];
        import("/korba-render.js").then(({ renderTicket }) => {
          const svg = renderTicket(Uint8Array.from(arguments[0]), { paper: 58 });
          document.body.innerHTML = svg;
          requestAnimationFrame(() => setTimeout(() => done(svg)));
        });""", list(DRAWN))
    assert drawn == node.stdout
    # What Chromium shows: the text as sent, and both codes for a reader.
    assert page.driver.execute_script("return document.querySelector('.korba-line').textContent") == "Caña € 3,50"
    shot = tmp_path / "ticket.png"
    page.driver.save_screenshot(str(shot))
    read = subprocess.run(["zbarimg", "-q", "--nodbus", str(shot)], capture_output=True, text=True, timeout=60)
    assert sorted(read.stdout.splitlines()) == ["EAN-13:4006381333931", "QR-Code:tienda 42"]


def test_types_over_an_example_of_every_method():
    # scripts/deps.sh installs the pinned compiler.
    tsc = CLIENT / "test" / "types" / "node_modules" / ".bin" / "tsc"
    run = subprocess.run([str(tsc), "-p", str(tsc.parents[2])], capture_output=True, text=True, timeout=120)
    assert (run.returncode, run.stdout + run.stderr) == (0, "")


def figures_drawn(driver, count):
    """The panel's preview drawings once it shows `count`, newest first: each SVG's width and the box
    around the dots its paths fill, in printer dots."""
    return driver.execute_async_script("""const [count, done] = arguments;
        (function wait() {
          const svgs = document.querySelectorAll("#vistaTickets figure svg");
          if (svgs.length < count) return setTimeout(wait, 50);
          done(Array.from(svgs, (svg) => {
            const boxes = Array.from(svg.querySelectorAll("path"), (p) => p.getBBox()).filter((b) => b.width);
            const edge = (f, key) => Math[f](...boxes.map(key));
            return [svg.getAttribute("width"), edge("min", (b) => b.x), edge("max", (b) => b.x + b.width),
                    edge("max", (b) => b.y + b.height) - edge("min", (b) => b.y)];
          }));
        })();""", count)


def test_text_in_any_script_and_a_qr_code_printed_as_dots(native, start_bridge, page, tmp_path):
    bridge = start_bridge("--preview")
    page.open(page.local)
    # A QR code drawn by the renderer on 58 mm paper, taken as an <img>, rasterized on 80 mm and drawn again.
    drawn = page.driver.execute_async_script("""const done = arguments[arguments.length - 1];
        import("/korba-render.js").then(async ({ renderTicket }) => {
          const image = new Image();
          image.src = "data:image/svg+xml," + encodeURIComponent(renderTicket(Uint8Array.from(arguments[0]), { paper: 58 }));
          await image.decode();
          const bytes = korba.rasterize(image);
          document.body.innerHTML = renderTicket(bytes);
          requestAnimationFrame(() => setTimeout(() => done(Array.from(bytes.subarray(0, 8)))));
        });""", list(b"\x1d(k\x03\x001C\x05\x1d(k\x0c\x001P0tienda 42\x1d(k\x03\x001Q0"))
    assert drawn[:6] == [0x1d, 0x76, 0x30, 0, 58, 0]
    shot = tmp_path / "qr.png"
    page.driver.save_screenshot(str(shot))
    read = subprocess.run(["zbarimg", "-q", "--nodbus", str(shot)], capture_output=True, text=True, timeout=60)
    assert read.stdout.splitlines() == ["QR-Code:tienda 42"]
    # Arabic laid out from the right, Chinese from the left, in the fonts the browser has.
    printed = page.run(f"http://127.0.0.1:{bridge.port}", """
        for (const [text, align] of [["مرحبا بكم في متجرنا", "right"], ["欢迎光临本店", "left"]]) {
          await bridge.print(await korba.textImage(text, { size: 32, align }));
        }
        return (await bridge.preview()).tickets.map((t) => Array.from(t.data.subarray(0, 8)));""")
    # As wide as the paper (72 bytes a row), in one band of a line's height.
    assert [(head[:6], 32 <= head[6] <= 64, head[7]) for head in printed["value"]] == \
        [([0x1d, 0x76, 0x30, 0, 72, 0], True, 0)] * 2, printed
    page.driver.get(f"http://127.0.0.1:{bridge.port}/")
    chinese, arabic = figures_drawn(page.driver, 2)
    # 640 dots of paper, 576 printed from the 32nd; the text about as tall as its size.
    assert chinese[0] == arabic[0] == "640"
    assert 32 <= chinese[1] < 40 and 200 < chinese[2] < 400 and 20 < chinese[3] <= 48, chinese
    assert 200 < arabic[1] and 600 < arabic[2] <= 608 and 20 < arabic[3] <= 48, arabic


EXAMPLES = (harness.ROOT / "docs" / "client.md").read_text()
# The bridge of every example is the default, 127.0.0.1:9230: the test's own stands in for it. Errors are kept.
SPY = """<script>
window.failed = [];
addEventListener("error", (e) => failed.push(String(e.message)));
addEventListener("unhandledrejection", (e) => failed.push(String(e.reason && e.reason.stack || e.reason)));
const nativeFetch = window.fetch;
window.fetch = (url, init) => nativeFetch(String(url).replace("127.0.0.1:9230", "127.0.0.1:%d"), init);
</script>
"""


def test_every_example_of_the_guide_runs_in_its_page(native, start_bridge, page):
    bridge = start_bridge("--preview", "--printer-for", "cocina=COCINA", "--printer-for", "barra=BARRA")
    [html] = re.findall(r"^```html\n(.*?)^```$", EXAMPLES, re.S | re.M)
    examples = re.findall(r"^```js\n(.*?)^```$", EXAMPLES, re.S | re.M)
    assert len(examples) >= 8
    base = html.replace("<title>Caja</title>\n", "<title>Caja</title>\n" + SPY % bridge.port)
    Files.pages["/caja"] = base.encode()
    for i, example in enumerate(examples):
        Files.pages[f"/caja-{i}"] = base.replace("</html>", f'<script type="module">\n{example}\n'
                                                 'window.ran = true;\n</script>\n</html>').encode()
    driver = page.driver
    driver.get(page.local + "caja")
    estado = driver.find_element(By.ID, "estado")
    for button, shown in [("probar", "Listo: KORBA vista previa (vizoza "), ("imprimir", "Ticket enviado"),
                          ("cajon", "Cajón: pulso en el pin 2")]:
        driver.find_element(By.ID, button).click()
        WebDriverWait(driver, WAIT_SECONDS).until(lambda _: estado.text.startswith(shown))
    assert driver.execute_script("return failed") == []
    for i, example in enumerate(examples):
        driver.get(f"{page.local}caja-{i}")
        WebDriverWait(driver, WAIT_SECONDS).until(lambda _: driver.execute_script("return window.ran || failed.length"), example)
        assert driver.execute_script("return failed") == [], example
