"""The benchmarks behind docs/evidence.md; bench/run.sh installs, builds and calls this.
Prints one table; each figure says what produced it. Loopback only, bounded in time."""

import functools
import http.server
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests/e2e"))
import cups_queue  # noqa: E402  (the capture queue of the black-box tests)
import harness  # noqa: E402
from browser import chromium  # noqa: E402  (headless Chromium of the black-box tests)

NATIVE = ROOT / "build/native/korba-vizoza"
EXE = ROOT / "build/windows/korba-vizoza.exe"
BENCH = ROOT / "build/bench"
SECONDS = int(os.environ.get("KORBA_BENCH_SECONDS", "5"))
ROUNDS = 2  # wrk runs per server and figure, the best kept
QUEUE = "KORBA_BENCH"
TICKET_2KB = bytes(range(256)) * 8

rows = []


def row(section, what, value, goal="", note=""):
    rows.append((section, what, value, goal, note))
    print(f"  {what}: {value} {goal} {note}", flush=True)


def bridge(*args):
    return harness.start(harness.Target("native"), *args)


NGINX_CONF = """daemon off;
worker_processes auto;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path {dir}; proxy_temp_path {dir}; fastcgi_temp_path {dir};
  uwsgi_temp_path {dir}; scgi_temp_path {dir};
  server {{ listen 127.0.0.1:{port}; location / {{ return 204; }} }}
}}
"""


def start_nginx(folder):
    port = harness.free_port()
    conf = Path(folder) / "nginx.conf"
    conf.write_text(NGINX_CONF.format(dir=folder, port=port))
    proc = subprocess.Popen(["nginx", "-c", str(conf), "-p", str(folder)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    harness.wait_listening(port, proc, 10)
    return proc, port


def wrk(port, connections):
    threads = min(2, connections)
    out = subprocess.run(["wrk", f"-t{threads}", f"-c{connections}", f"-d{SECONDS}s", "--latency",
                          "-H", "Connection: close", f"http://127.0.0.1:{port}/favicon.ico"],
                         capture_output=True, text=True, check=True).stdout
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)|Socket errors: (.*)", out)

    def latency(p):
        value, unit = re.search(rf"\s{p}%\s+([\d.]+)(us|ms|s)", out).groups()
        return float(value) * {"us": 0.001, "ms": 1, "s": 1000}[unit]

    return rps, latency(50), latency(99), errors.group(0) if errors else ""


def start_thread_server():
    port = harness.free_port()
    proc = subprocess.Popen([BENCH / "thread_server", str(port)])
    harness.wait_listening(port, proc, 10)
    return proc, port


def http_round_trip():
    print(f"HTTP round trip, GET /favicon.ico, a fresh connection per request (wrk, best of {ROUNDS} runs)")
    with tempfile.TemporaryDirectory() as folder:
        b = bridge("--printer", "NADA")
        servers = []
        try:
            nginx, nginx_port = start_nginx(folder)
            servers.append(nginx)
            threads, threads_port = start_thread_server()
            servers.append(threads)
            ports = {"bridge": b.port, "thread server": threads_port, "nginx": nginx_port}
            for connections in (1, 64):
                # Taken in turns, so that a burst of other work on the machine falls on all of them.
                runs = {name: [] for name in ports}
                for _ in range(ROUNDS):
                    for name, port in ports.items():
                        runs[name].append(wrk(port, connections))
                best = {name: max(results) for name, results in runs.items()}
                for name, (rps, p50, p99, errors) in best.items():
                    row("http", f"{name}, {connections} conn: req/s, p50, p99",
                        f"{rps:.0f}/s, {p50:.3f} ms, {p99:.3f} ms", note=errors)
                ours = best["bridge"]
                if connections == 64:
                    row("http", "throughput ratio at 64 conn (bridge/nginx)", f"{ours[0] / best['nginx'][0]:.2f}",
                        "(>= 0.8)")
                    row("http", "throughput ratio at 64 conn (bridge/thread server)",
                        f"{ours[0] / best['thread server'][0]:.2f}", "(>= 0.95)")
                else:
                    row("http", "p99 ratio at 1 conn (bridge/nginx)", f"{ours[2] / best['nginx'][2]:.2f}", "(<= 1.5)")
        finally:
            # Also when a server failed to start: nothing of the benchmark is left running.
            for proc in servers:
                proc.terminate()
                proc.wait()
            b.stop()


def decoding():
    print("Decoding an 8 MiB data_b64 body (Google Benchmark)")
    out = subprocess.run([BENCH / "decode_bench", "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=true"], capture_output=True, text=True, check=True)
    medians = {b["run_name"]: b["bytes_per_second"] / 1e9 for b in json.loads(out.stdout)["benchmarks"]
               if b.get("aggregate_name") == "median"}
    goals = {"json_field_body": ">= 5 GB/s", "base64_decode_field": ">= 1.5 GB/s"}
    for name, speed in medians.items():
        row("decode", f"{name} (median of 5, CPU time)", f"{speed:.2f} GB/s", goals.get(name, ""),
            f"{speed / medians['memcpy_body']:.2f} of memcpy")


def head_search():
    print("Reading a request head that arrives one byte per read (Google Benchmark)")
    out = subprocess.run([BENCH / "head_bench", "--benchmark_format=json"], capture_output=True, text=True,
                         check=True)
    for b in json.loads(out.stdout)["benchmarks"]:
        row("head", f"{b['run_name'].rsplit('/', 1)[1]} bytes, one per read (CPU time)", f"{b['cpu_time']:.3f} ms")


def start_up():
    print("Start-up: process start to the first answered request, 20 runs")
    for label, args in (("--printer given", ["--printer", "NADA"]), ("printer asked of CUPS", [])):
        out = subprocess.run([BENCH / "start_time", "20", NATIVE, "--no-open", "--no-setup", *args],
                             capture_output=True, text=True, check=True).stdout
        times = [float(t) for t in out.split()]
        row("start", f"start-up, {label}: median (min)", f"{statistics.median(times):.1f} ms ({min(times):.1f} ms)",
            "(< 20 ms)")


def memory_mib(pid):
    """RSS, its anonymous part (the process's own memory) and PSS (shared library pages
    divided among the processes that map them)."""
    status = Path(f"/proc/{pid}/status").read_text()
    rollup = Path(f"/proc/{pid}/smaps_rollup").read_text()

    def kib(pattern, text):
        return int(re.search(pattern + r":\s+(\d+)", text).group(1))
    return (kib("VmRSS", status) / 1024, kib("RssAnon", status) / 1024, kib("Pss", rollup) / 1024)


def favicons(port, count, workers=8):
    def work(n):
        for _ in range(n):
            harness.exchange(port, b"GET /favicon.ico HTTP/1.1\r\n\r\n")
    threads = [threading.Thread(target=work, args=(count // workers,)) for _ in range(workers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def footprint():
    print("Footprint")
    b = bridge("--printer", "NADA")
    try:
        time.sleep(0.5)
        idle = memory_mib(b.proc.pid)
        favicons(b.port, 10000)
        time.sleep(1)
        after = memory_mib(b.proc.pid)
        row("footprint", "RSS idle / after 10 000 requests", f"{idle[0]:.2f} MiB / {after[0]:.2f} MiB",
            "(< 4 MiB idle)", f"anonymous {idle[1]:.2f} / {after[1]:.2f} MiB, PSS {idle[2]:.2f} / {after[2]:.2f} MiB")
    finally:
        b.stop()
    row("footprint", "native binary (build/native/korba-vizoza)", f"{NATIVE.stat().st_size / 1e6:.2f} MB")
    if EXE.exists():
        dlls = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", EXE], capture_output=True, text=True).stdout
        imports = sorted(set(re.findall(r"DLL Name: (\S+)", dlls)))
        row("footprint", "korba-vizoza.exe", f"{EXE.stat().st_size / 1e6:.2f} MB", "(< 3 MB)",
            "imports " + ", ".join(imports))


def peak_memory():
    print("Peak memory (VmHWM) of one POST /raw of an 8 MiB body, each in a fresh bridge")
    queue = capture_queue()
    for kind, (content_type, ticket_size, filler) in harness.LARGEST_BODIES.items():
        body, ticket = harness.largest_body(content_type, ticket_size, filler)
        b = bridge("--printer", QUEUE)
        try:
            known = queue.captured_ids()
            harness.reset_peak(b.proc.pid)
            idle = harness.memory_kib(b.proc.pid, "VmHWM")
            head = b"POST /raw HTTP/1.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n" % (
                content_type.encode(), len(body))
            reply = harness.exchange(b.port, head + body)
            peak = harness.memory_kib(b.proc.pid, "VmHWM")
            wait_for_new_job(queue, known)
        finally:
            b.stop()
        rise = (peak - idle) * 1024
        row("memory", f"{kind}, {len(ticket)} ticket bytes: VmHWM idle / peak, rise above idle",
            f"{idle * 1024 / 1e6:.1f} MB / {peak * 1024 / 1e6:.1f} MB, {rise / 1e6:.1f} MB", "(<= 1.25x the body)",
            f"{rise / len(body):.2f}x the body" + ("" if b'"ok":true' in reply else ", NOT PRINTED"))


def capture_queue():
    cups_queue.prepare()
    queue = cups_queue.CaptureQueue(QUEUE)
    queue.create()
    return queue


def wait_for_new_job(queue, known, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        new = queue.captured_ids() - known
        if new:
            return new
        time.sleep(0.002)
    raise TimeoutError("no job arrived")


def raw_ticket():
    print("POST /raw of a 2 KB ticket into the CUPS capture queue, against lp -o raw")
    queue = capture_queue()
    ticket = TICKET_2KB
    b = bridge("--printer", QUEUE)
    head = b"POST /raw HTTP/1.1\r\nContent-Type: application/octet-stream\r\nContent-Length: %d\r\n\r\n" % len(ticket)
    results = {"bridge": ([], []), "lp -o raw": ([], [])}
    try:
        with tempfile.NamedTemporaryFile() as f:
            f.write(ticket)
            f.flush()
            for _ in range(20):
                for name, submit in (("bridge", lambda: harness.exchange(b.port, head + ticket)),
                                     ("lp -o raw", lambda: subprocess.run(["lp", "-d", QUEUE, "-o", "raw", f.name],
                                                                          capture_output=True, check=True))):
                    known = queue.captured_ids()
                    started = time.monotonic()
                    submit()
                    accepted = time.monotonic()
                    wait_for_new_job(queue, known)
                    landed = time.monotonic()
                    results[name][0].append((accepted - started) * 1000)
                    results[name][1].append((landed - started) * 1000)
    finally:
        b.stop()
    for name, (accepted, landed) in results.items():
        row("raw", f"{name}: accepted / in the capture folder (median of 20)",
            f"{statistics.median(accepted):.1f} ms / {statistics.median(landed):.1f} ms")


def drawing_ticket():
    """The ticket of the drawing benchmark: a 576 x 120 logo, 200 priced lines in PC858 (one in four
    bold), a QR code of a URL and a cut."""
    logo = bytearray()
    for y in range(120):
        for x in range(0, 576, 8):
            logo.append(sum(1 << (7 - b) for b in range(8) if ((x + b) // 24 + y // 12) % 2 == 0 or (x + b - y) % 40 < 3))
    ticket = bytearray(b"\x1b@\x1bt\x13\x1ba\x01")
    ticket += b"\x1dv0\x00" + bytes([72, 0, 120, 0]) + logo + b"\x1d!\x11TIENDA\x1d!\x00\n\x1ba\x00"
    for n in range(1, 201):
        line = f"{n:3} Producto numero {n:<4} x{n % 7 + 1}".ljust(38) + f"{n * 1.25:8.2f} \xd5"
        ticket += (b"\x1bE\x01" if n % 4 == 0 else b"") + line.encode("latin-1") + b"\x1bE\x00\n"
    url = b"https://tienda.example/ticket/2026-000123?total=12560.00"
    ticket += b"\x1ba\x01\x1d(k\x03\x001C\x06\x1d(k\x03\x001E1"
    ticket += b"\x1d(k" + bytes([len(url) + 3, 0]) + b"1P0" + url + b"\x1d(k\x03\x001Q0\n\n\x1dVA\x10"
    return bytes(ticket)


DRAWING_PAGE = b"""<!doctype html><meta charset="utf-8"><title>cargando</title><div id="host"></div>
<script type="module">
import { renderTicket } from "/korba-render.js";
const frame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
// Per run: the SVG string made; then in the page and laid out; then the next frame painted.
window.bench = async (hex, runs) => {
  const bytes = Uint8Array.from(hex.match(/../g), (h) => parseInt(h, 16));
  const host = document.getElementById("host"), times = [];
  for (let i = 0; i < runs + 3; i++) {
    host.textContent = "";
    await frame();
    const start = performance.now();
    const svg = renderTicket(bytes);
    const made = performance.now();
    host.innerHTML = svg;
    host.getBoundingClientRect();
    const laid = performance.now();
    await frame();
    if (i >= 3) times.push([made - start, laid - start, performance.now() - start, svg.length]);
  }
  return times;
};
document.title = "listo";
</script>
"""


def drawing():
    print("Drawing a 200-line ticket with a logo and a QR code in headless Chromium, 30 runs")
    ticket = drawing_ticket()
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "index.html").write_bytes(DRAWING_PAGE)
        shutil.copy(ROOT / "client/korba-render.js", folder)
        quiet = type("Files", (http.server.SimpleHTTPRequestHandler,), {"log_message": lambda *args: None})
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(quiet, directory=folder))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        driver = chromium(Path(folder) / "profile")
        try:
            driver.get(f"http://127.0.0.1:{server.server_address[1]}/")
            driver.execute_async_script("""const done = arguments[0];
                (function wait() { document.title === "listo" ? done() : setTimeout(wait, 20); })();""")
            driver.set_script_timeout(120)
            times = driver.execute_async_script(
                "const done = arguments[arguments.length - 1]; bench(arguments[0], 30).then(done);", ticket.hex())
        finally:
            driver.quit()
            server.shutdown()
    made, laid, painted = (statistics.median(t[i] for t in times) for i in range(3))
    row("drawing", f"{len(ticket)}-byte ticket: SVG made / in the page and laid out / next frame painted (median of 30)",
        f"{made:.1f} ms / {laid:.1f} ms / {painted:.1f} ms", "(< 50 ms)",
        f"max {max(t[2] for t in times):.1f} ms to the painted frame; SVG of {times[0][3] / 1e3:.0f} kB")


# Tickets made to be hard to draw: the time renderTicket takes in Node for each, and the process's
# peak memory so far (the tickets themselves included).
HOSTILE = """
import { renderTicket } from "%s";
const MiB = 1 << 20, filled = (size, command) => Uint8Array.from({ length: size }, (_, i) => command[i %% command.length]);
const image = [0x1d, 0x76, 0x30, 0, 72, 0, 64, 0, ...Array.from({ length: 64 * 72 }, (_, i) => (i / 72 & 1 ? 0xaa : 0x55))];
const qr = [0x1d, 0x28, 0x6b, 0x8c, 0x0b, 49, 80, 48, ...Array(2953).fill(0x61), 0x1d, 0x28, 0x6b, 3, 0, 49, 67, 1];
const tickets = {
  "a 300 kB barcode": Uint8Array.from([0x1d, 0x6b, 4, ...Array(300000).fill(0x41), 0]),
  "the largest QR code printed 2000 times": Uint8Array.from([...qr, ...Array(2000).fill([0x1d, 0x28, 0x6b, 3, 0, 49, 81, 48]).flat()]),
  "8 MiB of checkerboard images": filled(8 * MiB, image), "8 MiB of text": filled(8 * MiB, [0x41]),
  "8 MiB of ESC @": filled(8 * MiB, [0x1b, 0x40]), "8 MiB of HT": filled(8 * MiB, [0x09]),
};
for (const [name, bytes] of Object.entries(tickets)) {
  const start = performance.now(), svg = renderTicket(bytes), ms = performance.now() - start;
  console.log(JSON.stringify([name, ms, process.resourceUsage().maxRSS / 1024, svg.length / MiB]));
}
"""


def hostile_drawing():
    print("Drawing tickets made to be hard to draw, in Node")
    run = subprocess.run(["node", "--input-type=module", "-e", HOSTILE % (ROOT / "client/korba-render.js").as_uri()],
                         capture_output=True, text=True, check=True, timeout=300)
    for line in run.stdout.splitlines():
        name, ms, peak, svg = json.loads(line)
        row("drawing", f"{name}: time / Node's peak memory so far / SVG",
            f"{ms:.0f} ms / {peak:.0f} MiB / {svg:.1f} MiB", "(< 1 s)")


def cpu_and_wakeups(pid):
    """CPU clock ticks used so far (user and system) and context switches, over all threads."""
    ticks = sum(int(v) for v in Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[11:13])
    switches = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        status = (task / "status").read_text()
        switches += sum(int(n) for n in re.findall(r"(?:non)?voluntary_ctxt_switches:\s+(\d+)", status))
    return ticks, switches


def ticket_state(port, ticket_id):
    reply = harness.exchange(port, f"GET /tickets?id={ticket_id} HTTP/1.1\r\n\r\n".encode())
    return json.loads(reply.partition(b"\r\n\r\n")[2])["state"]


def tickets():
    print("Ticket ids: a 2 KB ticket with and without id through CUPS, GET /tickets?id=, the idle bridge")
    queue = capture_queue()
    with tempfile.TemporaryDirectory() as data:
        b = bridge("--printer", QUEUE, "--data", data)
        try:
            last = tickets_with_and_without_id(b, queue, 20)
            ticket_lookup(b, last)
            # Every ticket is final by now: nothing is left to follow.
            time.sleep(2)
            before = cpu_and_wakeups(b.proc.pid)
            time.sleep(SECONDS)
            after = cpu_and_wakeups(b.proc.pid)
            row("tickets", f"idle with 40 final tickets, over {SECONDS} s: CPU ticks, context switches",
                f"{after[0] - before[0]}, {after[1] - before[1]}", "(no CPU)")
        finally:
            b.stop()


def tickets_with_and_without_id(b, queue, rounds):
    """Alternates the two, each timed to the reply and to the job in the capture folder; returns
    the last id."""
    times = {"/raw": ([], []), "with id": ([], [])}
    for round_ in range(rounds):
        for name, target in (("/raw", "/raw"), ("with id", f"/raw?id=bench-{round_}&expire=600")):
            head = (f"POST {target} HTTP/1.1\r\nContent-Type: application/octet-stream\r\n"
                    f"Content-Length: {len(TICKET_2KB)}\r\n\r\n").encode()
            known = queue.captured_ids()
            started = time.monotonic()
            harness.exchange(b.port, head + TICKET_2KB)
            times[name][0].append((time.monotonic() - started) * 1000)
            wait_for_new_job(queue, known)
            times[name][1].append((time.monotonic() - started) * 1000)
    for name, (replied, landed) in times.items():
        row("tickets", f"{name}: reply / job in the capture folder (median of {rounds})",
            f"{statistics.median(replied):.1f} ms / {statistics.median(landed):.1f} ms")
    without, with_id = (statistics.median(landed) for _, landed in times.values())
    row("tickets", "in the capture folder, with id / without", f"{with_id / without:.2f}", "(<= 1.15)")
    return f"bench-{rounds - 1}"


def ticket_lookup(b, ticket_id, count=2000):
    deadline = time.monotonic() + 30
    while ticket_state(b.port, ticket_id) != "sent" and time.monotonic() < deadline:
        time.sleep(0.1)
    request = f"GET /tickets?id={ticket_id} HTTP/1.1\r\n\r\n".encode()
    times = []
    for _ in range(count):
        started = time.perf_counter()
        harness.exchange(b.port, request)
        times.append((time.perf_counter() - started) * 1000)
    times.sort()
    row("tickets", f"GET /tickets?id= of a {ticket_state(b.port, ticket_id)} ticket: median (p99) of {count}",
        f"{statistics.median(times):.3f} ms ({times[count * 99 // 100]:.3f} ms)", "(median < 1 ms)")


def main():
    print(f"load average before: {os.getloadavg()[0]:.2f}, cores: {os.cpu_count()}")
    sections = {"http": http_round_trip, "decode": decoding, "head": head_search, "start": start_up,
                "footprint": footprint, "raw": raw_ticket, "memory": peak_memory, "drawing": drawing,
                "hostile": hostile_drawing,
                "tickets": tickets}
    for name in sys.argv[1:] or sections:
        sections[name]()
    print(f"\nload average after: {os.getloadavg()[0]:.2f}")
    print("| what | figure | goal | note |\n|---|---|---|---|")
    for _, what, value, goal, note in rows:
        print(f"| {what} | {value} | {goal} | {note} |")


if __name__ == "__main__":
    main()
