"""The service runtime, the service one-shots and the console start around them: under Wine
with its real sc and service manager, natively with a test playing the service manager over
the notify protocol; and the browser start, seen through a stand-in opener that stays alive
until the test lets it go."""

import contextlib
import os
import pathlib
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import pytest

import harness
from cups_queue import cups_queues  # noqa: F401  (fixture)
from runner_tools import place_tool, program_folder, seen_path, stand_in

RULE = "=" * 46
WINE = harness.Target("wine")
NATIVE = harness.Target("native")
NOT_A_SERVICE_HINT = "Este modo lo lanza Windows como servicio. Para uso manual, ejecuta sin --service."


def wait_for(condition, what, timeout=60):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError(f"{what}: not reached in {timeout} s")
        time.sleep(0.2)


def lines(output):
    return output.decode("utf-8").split("\n")


@pytest.fixture
def program_copy(target, tmp_path):
    """A copy of the program in a folder of its own (on drive C: under Wine), removed afterwards."""
    folder = program_folder(target, tmp_path)
    folder.mkdir(parents=True)
    exe = folder / target.exe.name
    shutil.copy2(target.exe, exe)
    yield exe
    shutil.rmtree(folder, ignore_errors=True)


# --- started by hand, outside any service manager ---------------------------------------

def test_service_mode_from_a_console_explains_itself_and_ends_with_1063(target, run_program):
    done = run_program("--service", env={"NOTIFY_SOCKET": ""}, timeout=120)
    assert done.returncode == 1063 % 256  # a Linux parent sees the low 8 bits
    assert done.stdout == b""
    first, hint, end = lines(done.stderr)
    reason = "Service controller connect failed. (os error 1063)" if target.is_wine else "NOTIFY_SOCKET is not set"
    assert first == f"ERROR: no puedo conectar con el Service Control Manager ({reason})."
    assert (hint, end) == (NOT_A_SERVICE_HINT, "")


# --- natively: a test plays the service manager over the notify protocol -------------------

@pytest.fixture
def service_manager_socket():
    """The manager's end of NOTIFY_SOCKET: a Unix datagram socket (short path: sun_path is small)."""
    if "native" not in harness.TARGETS:
        pytest.skip("the POSIX build is not tested")
    folder = tempfile.mkdtemp(prefix="korba-notify-")
    path = os.path.join(folder, "notify")
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(path)
    manager.settimeout(60)
    yield manager, path
    manager.close()
    os.unlink(path)
    os.rmdir(folder)


def start_native_service(notify_path, port):
    output = harness.Output()
    proc = subprocess.Popen([str(harness.NATIVE_BIN), "--service", "--port", str(port)],
                            env=NATIVE.env({"NOTIFY_SOCKET": notify_path}), stdin=subprocess.DEVNULL,
                            stdout=output.stdout, stderr=output.stderr)
    return proc, output


def managed(manager, proc, serving):
    """Plays the service manager: READY=1 first, then `serving()`, then SIGTERM answered by
    STOPPING=1 and an exit with 0."""
    try:
        assert manager.recv(4096) == b"READY=1"
        serving()
        proc.send_signal(signal.SIGTERM)
        assert manager.recv(4096) == b"STOPPING=1"
        assert proc.wait(timeout=30) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def test_posix_service_is_ready_once_bound_and_stopping_on_sigterm(service_manager_socket):
    manager, path = service_manager_socket
    port = harness.free_port()
    proc, output = start_native_service(path, port)

    def serving():
        assert harness.listening(port), "READY=1 came before the port was bound"
        assert harness.request(port, "GET", "/status")[0] == 200
    managed(manager, proc, serving)
    assert output.read() == [b"", b""]


def test_posix_service_on_a_taken_port_stops_quietly(service_manager_socket):
    manager, path = service_manager_socket
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        proc, output = start_native_service(path, holder.getsockname()[1])
        assert manager.recv(4096) == b"STOPPING=1"
        assert proc.wait(timeout=30) == 0
    assert output.read() == [b"", b""]


# --- the Debian package: installed with apt, its unit's command run as systemd would, purged --

PACKAGE_FILES = ["/etc/chromium/policies/managed/korba-vizoza.json", "/etc/default/korba-vizoza",
                 "/etc/opt/chrome/policies/managed/korba-vizoza.json", "/usr/bin/korba-vizoza",
                 "/usr/lib/systemd/system/korba-vizoza.service", "/usr/share/doc/korba-vizoza/README.md"]
UNIT_LINK = "/etc/systemd/system/multi-user.target.wants/korba-vizoza.service"


def unit_command(unit_text, settings):
    """The unit's ExecStart as systemd runs it: each ${NAME} one argument, "" when not set."""
    line = next(line for line in unit_text.splitlines() if line.startswith("ExecStart="))
    values = dict(shlex.split(item)[0].split("=", 1) for item in settings.splitlines()
                  if item.strip() and not item.startswith("#"))
    return [re.sub(r"\$\{(\w+)\}", lambda m: values.get(m.group(1), ""), word)
            for word in line.removeprefix("ExecStart=").split()]


def test_debian_package_installs_serves_with_its_settings_and_purges_clean(service_manager_socket, cups_queues,
                                                                             tmp_path):
    if os.geteuid() != 0 or os.environ.get("KORBA_SANITIZED") == "1":
        pytest.skip("installing a package needs root; the package carries the plain build")
    manager, notify_path = service_manager_socket
    made = subprocess.run([str(harness.ROOT / "scripts" / "package-deb.sh"), str(harness.NATIVE_BIN), str(tmp_path)],
                          capture_output=True, text=True, timeout=300, check=True)
    deb = made.stdout.strip()
    assert deb == f"{tmp_path}/korba-vizoza_1.5.0_amd64.deb"
    fields = subprocess.run(["dpkg-deb", "--field", deb, "Package", "Architecture", "Depends"],
                            capture_output=True, text=True, check=True).stdout
    assert re.fullmatch(r"Package: korba-vizoza\nArchitecture: amd64\nDepends: libc6 \(>= [\d.]+\), "
                        r"libcups2 \(>= [\d.]+\), .*init-system-helpers\n", fields), fields
    listing = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True, text=True, check=True).stdout
    assert sorted(line.split()[-1][1:] for line in listing.splitlines() if line.startswith("-")) == PACKAGE_FILES
    port = harness.free_port()
    try:
        subprocess.run(["apt-get", "install", "-y", "-qq", deb], capture_output=True, timeout=300, check=True)
        assert os.readlink(UNIT_LINK).endswith("/systemd/system/korba-vizoza.service")
        verified = subprocess.run(["systemd-analyze", "verify", "korba-vizoza.service"], capture_output=True,
                                  text=True, timeout=120)
        assert (verified.returncode, verified.stdout, verified.stderr) == (0, "", "")
        settings = f'PRINTER="ACME"\nPORT="{port}"\nPRINTER_FOR="cocina=KORBA_DEFAULT;barra=ACME"\n'
        pathlib.Path("/etc/default/korba-vizoza").write_text(settings)
        command = unit_command(pathlib.Path(PACKAGE_FILES[4]).read_text(), settings)
        assert command[0] == "/usr/bin/korba-vizoza"
        proc = subprocess.Popen(command, env=NATIVE.env({"NOTIFY_SOCKET": notify_path,
                                                         "STATE_DIRECTORY": str(tmp_path)}),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def serving():
            status, _, body = harness.request(port, "GET", "/printers")
            assert status == 200 and b'"aliases":{"cocina":"KORBA_DEFAULT","barra":"ACME"}' in body
            assert b'"printer":"ACME"' in harness.request(port, "GET", "/status")[2]
        managed(manager, proc, serving)
    finally:
        subprocess.run(["apt-get", "purge", "-y", "-qq", "korba-vizoza"], capture_output=True, timeout=300)
    assert [path for path in PACKAGE_FILES + [UNIT_LINK] if os.path.lexists(path)] == []


# --- under Wine: a service made by hand with Wine's sc, run by Wine's service manager ------

def wine_tool(*args):
    done = harness.run(WINE, *args[1:], exe=args[0], timeout=120)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def status_report(exe):
    done = harness.run(WINE, "--service-status", exe=exe)
    assert done.returncode == 0
    assert done.stderr == b""
    return done.stdout.decode("utf-8")


def expected_report(state, exe_seen):
    report = f"servicio: KORBAVizoza ({state})\nadmin en esta consola: si\nexe: {exe_seen}\n"
    if state == "absent":
        report += "Para instalarlo: korba-vizoza.exe --install  (como administrador)\n"
    return report


def remove_service(port):
    if wine_tool("sc", "query", "KORBAVizoza")[0] != 0:
        return
    wine_tool("sc", "stop", "KORBAVizoza")
    wait_for(lambda: not harness.listening(port), "the service's port released")
    wine_tool("sc", "delete", "KORBAVizoza")
    wait_for(lambda: wine_tool("sc", "query", "KORBAVizoza")[0] != 0, "the service deleted")


@pytest.fixture
def wine_service(target, request):
    """A copy of the program and the port its service will use; no service of ours before or after."""
    if not target.is_wine:
        pytest.skip("Wine's service manager")
    exe = request.getfixturevalue("program_copy")
    port = harness.free_port()
    remove_service(port)
    yield seen_path(target, exe), port
    remove_service(port)


def test_hand_made_service_serves_reports_its_states_and_stops(wine_service):
    exe, port = wine_service
    assert status_report(exe) == expected_report("absent", exe)

    binpath = f'"{exe}" --service --no-console --port {port}'
    assert wine_tool("sc", "create", "KORBAVizoza", "binPath=", binpath)[0] == 0
    assert status_report(exe) == expected_report("stopped", exe)

    started = harness.run(WINE, "--start", exe=exe)
    assert (started.returncode, started.stderr) == (0, b"")
    assert re.fullmatch(r"OK: SERVICE_NAME: KORBAVizoza\r?\n(.|\n)*\S\n", started.stdout.decode("utf-8"))
    wait_for(lambda: harness.listening(port), "the service listening")
    status, _, body = harness.request(port, "GET", "/status")
    assert status == 200, body
    assert status_report(exe) == expected_report("running", exe)

    # A console copy on the service's port finds the service and says so.
    console = harness.run(WINE, "--port", str(port), "--no-setup", "--no-open", exe=exe)
    assert console.returncode == 0
    assert console.stderr == b""
    assert lines(console.stdout) == [
        "", RULE, " KORBA Vizoza ya esta funcionando", RULE,
        " El servicio esta instalado y en marcha, y ya", f" escucha en http://127.0.0.1:{port}/", "",
        " No hace falta abrir nada mas: cierra esta ventana", " y usa el panel desde el navegador.", RULE, ""]

    wine_tool("sc", "stop", "KORBAVizoza")  # Wine's sc exits 1 once the process is gone
    wait_for(lambda: not harness.listening(port), "the service stopped")
    assert status_report(exe) == expected_report("stopped", exe)


def test_start_and_stop_one_shots_report_sc_failures(target, run_program):
    if not target.is_wine:
        pytest.skip("Wine's sc")
    assert wine_tool("sc", "query", "KORBAVizoza")[0] != 0, "a service is left over"
    for option in ("--start", "--stop"):
        done = run_program(option)
        assert done.returncode == 1
        assert done.stdout == b""
        assert done.stderr.startswith(b"ERROR: ") and done.stderr.endswith(b"\n")
        assert done.stderr.count(b"\n") == 1


# --- the browser start --------------------------------------------------------------------

class Opener:
    """The stand-in opener where the program looks for it: cmd.exe in the system folder under Wine
    (in the place of the prefix's own, which waits aside), xdg-open first on PATH natively."""

    def __init__(self, target, tmp_path, exe):
        self.target = target
        self.exe = exe
        self.record = tmp_path / "opener.txt"
        self.release = tmp_path / "release"
        self.env = {"KORBA_RECORD": seen_path(target, self.record), "KORBA_RELEASE": seen_path(target, self.release)}
        if not target.is_wine:
            folder = tmp_path / "bin"
            place_tool(target, "opener_standin", folder, as_name="xdg-open")
            self.env["PATH"] = f"{folder}{os.pathsep}{os.environ.get('PATH', '')}"

    def expected_line(self, port):
        url = f"http://127.0.0.1:{port}/"
        return f'start "cmd" /C start "" {url}' if self.target.is_wine else f"start xdg-open {url}"

    def lines(self):
        return self.record.read_text(encoding="utf-8").splitlines() if self.record.exists() else []

    def start_bridge(self, start_bridge, *args):
        port = harness.free_port()
        return start_bridge("--port", port, "--no-setup", *args, port=port, exe=self.exe, env=self.env)


@pytest.fixture
def opener(target, tmp_path, program_copy):
    opener = Opener(target, tmp_path, program_copy)
    with stand_in("opener_standin", "cmd") if target.is_wine else contextlib.nullcontext():
        yield opener
        opener.release.touch()
        if opener.lines():
            wait_for(lambda: opener.lines()[-1] == "end", "the stand-in opener ended")


def test_the_panel_opens_in_the_browser_without_the_bridge_waiting(opener, start_bridge):
    bridge = opener.start_bridge(start_bridge)
    wait_for(lambda: opener.lines(), "the opener started")
    assert opener.lines() == [opener.expected_line(bridge.port)]
    # The opener is still running, and the bridge already serves.
    assert harness.request(bridge.port, "GET", "/status")[0] == 200
    assert opener.lines() == [opener.expected_line(bridge.port)]

    bridge.stop()
    banner = lines(bridge.stdout)
    assert banner[:3] == [RULE, " KORBA Vizoza v1.5.0 (build 1.5.0) - listo", f" Panel: http://127.0.0.1:{bridge.port}/"]
    assert banner[3].startswith(" Impresora: ")
    # The autostart switch is Windows's alone.
    autostart = [" Arranque automatico con Windows: boton en el panel"] if opener.target.is_wine else []
    assert banner[4:] == [" (deja esta ventana abierta; cierrala para salir)", *autostart, RULE, ""]


def test_no_open_and_autostart_start_no_browser(opener, start_bridge):
    quiet = [opener.start_bridge(start_bridge, "--no-open"), opener.start_bridge(start_bridge, "--autostart")]
    for bridge in quiet:
        assert harness.request(bridge.port, "GET", "/status")[0] == 200
    # A start that does open the panel, as the yardstick for "the opener would have run by now".
    loud = opener.start_bridge(start_bridge)
    wait_for(lambda: opener.lines(), "the opener started")
    assert opener.lines() == [opener.expected_line(loud.port)]

    autostart = quiet[1]
    autostart.stop()
    assert " KORBA Vizoza v1.5.0 (build 1.5.0) - listo" in lines(autostart.stdout)
