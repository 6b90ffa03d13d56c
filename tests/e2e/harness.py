"""Black-box helpers: start the built program (natively or the .exe under Wine) and talk
HTTP to it over raw sockets, byte for byte."""

import atexit
import base64
import os
import random
import re
import resource
import shlex
import shutil
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# Relative paths are read from the repository root, since tests start programs in other folders.
NATIVE_BIN = ROOT / os.environ.get("KORBA_NATIVE_BIN", "build/native/korba-vizoza")
WINDOWS_BIN = ROOT / os.environ.get("KORBA_WINDOWS_BIN", "build/windows/korba-vizoza.exe")
WINE_PREFIX = Path(os.environ.get("KORBA_WINEPREFIX", "/tmp/korba-e2e-wine"))
TARGETS = [t for t in os.environ.get("KORBA_TARGETS", "native,wine").split(",") if t]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The system texts that replies carry (CUPS, glibc, Wine) follow the locale: pin it, so a
# machine set to another language gives the same bytes.
PINNED_LOCALE = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}
STATE_ROOT = tempfile.mkdtemp(prefix="korba-e2e-state-")
atexit.register(shutil.rmtree, STATE_ROOT, True)


# Tools of the prefix whose place a stand-in holds (runner_tools.stand_in): Wine runs the file for
# them, and falls back to its builtin for the original set aside.
NATIVE_FIRST = set()


def wine_env(extra=None):
    env = dict(os.environ, **PINNED_LOCALE)
    overrides = "".join(f";{name}.exe=n,b" for name in sorted(NATIVE_FIRST))
    env.update({"WINEPREFIX": str(WINE_PREFIX), "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=" + overrides})
    env.update(extra or {})
    return env


def prepare_wine_prefix():
    """Makes the prefix once, and keeps a wineserver alive so that services outlive
    the commands that started them."""
    if not (WINE_PREFIX / "system.reg").exists():
        subprocess.run(["wineboot", "-i"], env=wine_env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=wine_env(), check=True, timeout=300)
    subprocess.Popen(["wineserver", "-p"], env=wine_env(),
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def end_wine_prefix():
    """Ends the prefix's wineserver and whatever still runs there (services included), which the
    persistent server would otherwise keep alive after the tests."""
    subprocess.run(["wineserver", "-k"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=60)


def in_console(command):
    """The command under a pseudo-terminal, where a Wine program gets a real console window."""
    return ["script", "-qec", shlex.join(command), "/dev/null"]


CONSOLE_CONTROLS = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]|\r")
CONSOLE_COLUMNS = 80


def console_lines(raw):
    """What a Wine console window showed, as lines: its cursor and erase sequences dropped, its
    wrapping at 80 columns undone, and the blank line it may start with left out."""
    lines, wrapped = [], False
    for line in CONSOLE_CONTROLS.sub("", raw.decode("utf-8")).split("\n"):
        if wrapped:
            lines[-1] += line
        else:
            lines.append(line)
        wrapped = len(line) == CONSOLE_COLUMNS
    return lines[1:] if lines and lines[0] == "" else lines


class Target:
    """How to launch one build of the program."""

    def __init__(self, name):
        self.name = name
        self.exe = NATIVE_BIN if name == "native" else WINDOWS_BIN

    @property
    def is_wine(self):
        return self.name == "wine"

    def command(self, args, exe=None, console=False):
        program = str(exe or self.exe)
        command = (["wine", program] if self.is_wine else [program]) + [str(a) for a in args]
        return in_console(command) if console else command

    def env(self, extra=None):
        if self.is_wine:
            return wine_env(extra)
        # Each native run keeps its ticket record in a folder of its own, never in the user's
        # home, so that bridges running side by side never share (and lock) one record.
        env = dict(os.environ, **PINNED_LOCALE, XDG_STATE_HOME=tempfile.mkdtemp(dir=STATE_ROOT))
        env.pop("STATE_DIRECTORY", None)
        env.update(extra or {})
        return env


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def wait_listening(port, proc, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError(f"the program ended with {proc.returncode} before listening on {port}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise TimeoutError(f"nothing listens on {port} after {timeout} s")


class Output:
    """Standard output and error captured in files, not pipes: Wine's helper processes
    inherit the handles and would keep a pipe open long after the program ended."""

    def __init__(self):
        self.stdout = tempfile.TemporaryFile()
        self.stderr = tempfile.TemporaryFile()

    def read(self):
        texts = []
        for f in (self.stdout, self.stderr):
            f.seek(0)
            texts.append(f.read())
            f.close()
        return texts


class Bridge:
    def __init__(self, proc, port, output):
        self.proc = proc
        self.port = port
        self.output = output
        self.stdout = self.stderr = b""

    def wait_shown(self, *lines, timeout=120):
        """Waits until the console window has passed on these consecutive lines whole: it shows
        what the program wrote some time after the program wrote it."""
        deadline = time.monotonic() + timeout
        while True:
            fd = self.output.stdout.fileno()
            raw = os.pread(fd, os.fstat(fd).st_size, 0)  # leaves the offset that the program writes at
            shown = console_lines(raw[:raw.rfind(b"\n") + 1])
            if any(shown[i:i + len(lines)] == list(lines) for i in range(len(shown))):
                return
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise TimeoutError(f"the console did not show {lines!r}")
            time.sleep(0.05)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            pass
        if self.output:
            self.stdout, self.stderr = self.output.read()
            self.output = None


def start(target, *args, port=None, cwd=None, env=None, exe=None, timeout=60, files_limit=None, console=False):
    """Starts the console mode on a free port (or `port`) and waits until it listens, with at
    most `files_limit` open descriptors when asked, and in a console window (a pseudo-terminal)
    when asked."""
    extra = [] if port is not None else ["--port", str(free_port()), "--no-open", "--no-setup"]
    full_args = list(args) + extra
    actual_port = port if port is not None else int(full_args[full_args.index("--port") + 1])
    output = Output()
    limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (files_limit, files_limit))) if files_limit else None
    proc = subprocess.Popen(target.command(full_args, exe, console), cwd=cwd, env=target.env(env), preexec_fn=limit,
                            stdin=subprocess.DEVNULL, stdout=output.stdout, stderr=output.stderr)
    bridge = Bridge(proc, actual_port, output)
    try:
        wait_listening(actual_port, proc, timeout)
    except Exception:
        bridge.stop()
        raise
    return bridge


def run(target, *args, cwd=None, env=None, exe=None, timeout=60, console=False):
    command = target.command(args, exe, console)
    output = Output()
    proc = subprocess.Popen(command, cwd=cwd, env=target.env(env), stdin=subprocess.DEVNULL,
                            stdout=output.stdout, stderr=output.stderr)
    try:
        code = proc.wait(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    stdout, stderr = output.read()
    return subprocess.CompletedProcess(command, code, stdout, stderr)


def exchange(port, data, timeout=15, pause=0, close_sending=False):
    """Sends raw bytes and reads the whole reply until the bridge closes, after a pause
    when asked (a client busy elsewhere), or after closing the sending side (a client that
    stops halfway)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        if data:
            s.sendall(data)
        if close_sending:
            s.shutdown(socket.SHUT_WR)
        time.sleep(pause)
        chunks = []
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            chunks.append(chunk)
    return b"".join(chunks)


def panel_page():
    """The panel as the program serves it: the page with the renderer's code in place of the one
    line that imports it."""
    page = (ROOT / "src/panel/panel.html").read_text(encoding="utf-8")
    module = (ROOT / "client/korba-render.js").read_text(encoding="utf-8")
    line = re.search(r'import \{[^}]*\} from "\./korba-render\.js";', page).group(0)
    return page.replace(line, module).encode("utf-8")


LARGEST_HEAD = b"POST /raw HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n"


def hold_largest_bodies(port, count, timeout=30):
    """Connections that send all of the largest body (8 MiB) but its last byte, held open: eight
    of them hold what all connections may, less eight bytes, once the bridge has read them."""
    held = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        s.sendall(LARGEST_HEAD + b"x" * (8388608 - 1))
        held.append(s)
    # Sent is not read: the system buffers megabytes on both sides of a loopback connection.
    deadline = time.monotonic() + timeout
    while unread_bytes(port) and time.monotonic() < deadline:
        time.sleep(0.1)
    return held


def unread_bytes(port):
    """What the connections accepted on `port` have received and their program not yet read."""
    total = 0
    for line in Path("/proc/net/tcp").read_text().splitlines()[1:]:
        fields = line.split()
        if fields[1].endswith(":%04X" % port) and fields[3] == "01":  # established
            total += int(fields[4].split(":")[1], 16)
    return total


def busy_at_once(port, timeout=4):
    """The reply to a head that announces the largest body while the budget is held, read to the end."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(LARGEST_HEAD)
        return b"".join(iter(lambda: s.recv(65536), b""))


def threads_of(pid):
    return set(os.listdir(f"/proc/{pid}/task"))


def figures(pid):
    # The process's own memory: a leak is anonymous, while the libraries' file pages come and go
    # with their first use and the page cache.
    fields = dict(line.split(":", 1) for line in Path(f"/proc/{pid}/status").read_text().splitlines())
    return {"threads": int(fields["Threads"]), "fds": len(os.listdir(f"/proc/{pid}/fd")),
            "anon_kib": int(fields["RssAnon"].split()[0])}


def split_reply(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("utf-8").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = [tuple(line.split(": ", 1)) for line in lines[1:]]
    return status, headers, body


def request(port, method, path, body=b"", headers=()):
    head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
    for name, value in headers:
        head += f"{name}: {value}\r\n"
    if body or method == "POST":
        head += f"Content-Length: {len(body)}\r\n"
    raw = exchange(port, head.encode("utf-8") + b"\r\n" + body)
    return split_reply(raw)


def cors(origin="*"):
    return [("Access-Control-Allow-Origin", origin),
            ("Access-Control-Allow-Methods", "GET,POST,OPTIONS"),
            ("Access-Control-Allow-Headers", "Content-Type"),
            ("Access-Control-Allow-Private-Network", "true"),
            ("Vary", "Origin")]


# After the CORS headers of the panel page: no other page may frame it.
PANEL_HEADERS = [("X-Frame-Options", "DENY"), ("Content-Security-Policy", "frame-ancestors 'none'")]


def reply_bytes(status, reason, content_type, body, extra=()):
    head = f"HTTP/1.1 {status} {reason}\r\nContent-Type: {content_type}\r\nContent-Length: {len(body)}\r\n"
    head += "Connection: close\r\n"
    for name, value in extra:
        head += f"{name}: {value}\r\n"
    return head.encode("utf-8") + b"\r\n" + body


BODY_LIMIT = 8 * 1024 * 1024
# The largest bodies /raw accepts: a JSON ticket, a short JSON ticket behind nearly 8 MiB of invalid
# UTF-8, raw bytes.
LARGEST_BODIES = {
    "json": ("application/json", 6 * 1024 * 1024 - 32, b" "),
    "json-invalid-utf8": ("application/json", 4096, b"\xff"),
    "raw-bytes": ("application/octet-stream", BODY_LIMIT, b""),
}


def largest_body(content_type, ticket_size, filler):
    """A body of exactly BODY_LIMIT bytes and the ticket it carries: for JSON the ticket's Base64
    in data_b64 behind a field of `filler` repeated, for any other type the ticket as sent."""
    ticket = random.Random(ticket_size).randbytes(ticket_size)
    if content_type != "application/json":
        return ticket, ticket
    head, tail = b'{"pad":"', b'","data_b64":"' + base64.b64encode(ticket) + b'"}'
    assert len(head) + len(tail) <= BODY_LIMIT
    return head + (filler * BODY_LIMIT)[:BODY_LIMIT - len(head) - len(tail)] + tail, ticket


def memory_kib(pid, field):
    """A figure of /proc/PID/status in KiB (VmRSS, VmHWM, ...)."""
    return int(Path(f"/proc/{pid}/status").read_text().split(f"\n{field}:")[1].split()[0])


def reset_peak(pid):
    """Makes VmHWM start again from the present resident size."""
    Path(f"/proc/{pid}/clear_refs").write_text("5")


class FakeNetworkPrinter:
    """A network receipt printer of the tests' own on a loopback port. It keeps what each
    connection sends, in the order the connections came, and answers every DLE EOT n (n from 1 to
    4) with the status byte it is told, as a real one does, or nothing at all while `silent`."""

    READY = bytes([0x12, 0x12, 0x12, 0x12])

    def __init__(self):
        self.status = self.READY
        self.silent = False
        self.received = []
        self._lock = threading.Lock()
        self._open = []
        self._listener = socket.create_server(("127.0.0.1", 0), backlog=16)
        self.port = self._listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                self.received.append(b"")
                self._open.append(connection)
                index = len(self.received) - 1
            threading.Thread(target=self._serve, args=(connection, index), daemon=True).start()

    def _serve(self, connection, index):
        pending = b""
        with connection:
            while True:
                try:
                    chunk = connection.recv(65536)
                except OSError:
                    return
                if not chunk:
                    return
                with self._lock:
                    self.received[index] += chunk
                pending += chunk
                while (start := pending.find(b"\x10\x04")) >= 0 and len(pending) >= start + 3:
                    n = pending[start + 2]
                    if 1 <= n <= 4 and not self.silent:
                        connection.sendall(self.status[n - 1:n])
                    pending = pending[start + 3:]
                pending = pending[-2:]

    def connections(self):
        with self._lock:
            return list(self.received)

    def close(self):
        self._listener.close()
        with self._lock:
            for connection in self._open:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass


def which(program):
    return shutil.which(program)
