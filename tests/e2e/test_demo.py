"""The first run on a machine without printers: scripts/demo-printer.sh against a CUPS scheduler of
this test's own (the shared one has queues), a ticket through the bridge to the demo printer, and
the ticket viewer."""

import os
import shutil
import signal
import stat
import subprocess
import tempfile
from pathlib import Path

import pytest

import harness
from cups_queue import CaptureQueue, wait_until

SCRIPTS = harness.ROOT / "scripts"
PANEL_TICKET = (b"\x1b@\x1ba\x01\x1bE\x01KORBA - TEST DE CAJON\n\x1bE\x00" + b"-" * 32 + b"\n\x1ba\x00"
                b"Si lees esto: impresion OK.\n\x1bd\x03\x1bp\x00\x19\xfa\x1bd\x03\x1dV\x01")
PANEL_TICKET_SHOWN = ("[inicio][centro][negrita]KORBA - TEST DE CAJON\n"
                      "[/negrita]--------------------------------\n"
                      "[izquierda]Si lees esto: impresion OK.\n"
                      "[avance 3][cajon pin 2: 50/500 ms][avance 3][corte parcial]\n")


def scheduler_pids(config):
    """The schedulers started with this configuration folder (and so by this test)."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if words[0].endswith(b"cupsd") and f"{config}/cupsd.conf".encode() in words:
            found.append(int(entry))
    return found


@pytest.fixture
def lp_reachable():
    """A throwaway folder that the user lp can reach (pytest's own are root's alone)."""
    folder = Path(tempfile.mkdtemp(prefix="korba-demo-test-"))
    folder.chmod(0o755)
    yield folder
    shutil.rmtree(folder)


@pytest.fixture
def own_cups(lp_reachable):
    """A scheduler configuration of our own, on a socket of our own, with no queue yet; the
    scheduler the script starts with it is stopped afterwards."""
    if "native" not in harness.TARGETS:
        pytest.skip("the demo printer is for the native build")
    config = lp_reachable / "cups"
    for folder in ("spool", "cache", "state", "log"):
        (config / folder).mkdir(parents=True)
    (config / "cupsd.conf").write_text(
        f"Listen {config}/cups.sock\nBrowsing No\nDefaultAuthType None\n"
        "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n")
    (config / "cups-files.conf").write_text(
        f"ServerRoot {config}\nRequestRoot {config}/spool\nCacheDir {config}/cache\nStateDir {config}/state\n"
        f"ErrorLog {config}/log/error_log\nAccessLog {config}/log/access_log\nPageLog {config}/log/page_log\n"
        "SystemGroup root\n")
    env = {"CUPS_SERVER": f"{config}/cups.sock", "CUPS_SERVERROOT": str(config),
           "KORBA_DEMO_FOLDER": str(lp_reachable / "tickets")}
    yield env
    for pid in scheduler_pids(config):
        os.kill(pid, signal.SIGTERM)
    wait_until(lambda: not scheduler_pids(config), 30, "our CUPS scheduler does not stop")


def owner_and_mode(path):
    info = path.lstat()
    return path.owner(), stat.S_IMODE(info.st_mode)


PLANTED = {
    # A capture folder that is someone else's, or a link to where someone else can read.
    "link": lambda folder, elsewhere: folder.symlink_to(elsewhere),
    "foreign": lambda folder, elsewhere: (folder.mkdir(), os.chown(folder, 65534, 65534)),
}


@pytest.mark.parametrize("planted", PLANTED)
def test_demo_printer_refuses_a_planted_folder(own_cups, lp_reachable, planted):
    folder = Path(own_cups["KORBA_DEMO_FOLDER"])
    PLANTED[planted](folder, lp_reachable / "elsewhere")
    done = subprocess.run([SCRIPTS / "demo-printer.sh"], env=dict(os.environ, **own_cups), capture_output=True,
                          text=True, timeout=60)
    assert (done.returncode, done.stderr) == (1, f"FALLO: {folder} es un enlace simbolico o no es de lp; borrala "
                                                 "o elige otra con KORBA_DEMO_FOLDER\n")
    assert run("lpstat", own_cups, "-e") == ""


@pytest.mark.parametrize("planted", [None, *PLANTED])
def test_capture_backend_keeps_jobs_in_its_own_folder_only(tmp_path, planted):
    folder, elsewhere = tmp_path / "tickets", tmp_path / "elsewhere"
    elsewhere.mkdir()
    if planted:
        PLANTED[planted](folder, elsewhere)
    done = subprocess.run([SCRIPTS / "cups/korba-capture", "7", "root", "ticket", "1", ""], input=b"KORBA",
                          env=dict(os.environ, DEVICE_URI=f"korba-capture:{folder}"), capture_output=True, timeout=30)
    if planted:
        assert (done.returncode, done.stderr.decode()) == (
            1, f"ERROR: {folder} es un enlace simbolico o de otro usuario; no se guarda el ticket\n")
        assert not any(elsewhere.iterdir()) and not any(folder.iterdir())
    else:
        assert done.returncode == 0, done.stderr
        [data] = folder.glob("job-7-*.data")
        assert (data.read_bytes(), data.with_suffix(".title").read_text()) == (b"KORBA", "ticket")
        assert {owner_and_mode(p) for p in (data, data.with_suffix(".title"))} == {("root", 0o640)}


def run(command, env, *args):
    done = subprocess.run([str(command), *args], env=dict(os.environ, **env), capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_demo_printer_on_a_machine_without_printers(own_cups):
    folder = own_cups["KORBA_DEMO_FOLDER"]
    assert run(SCRIPTS / "demo-printer.sh", own_cups) == (
        "CUPS: planificador arrancado.\n"
        f"CUPS: sin impresoras; creada la impresora de prueba KORBA_DEMO. Cada ticket queda en {folder} "
        "(verlo: scripts/show-ticket.py).\n")
    assert run("lpstat", own_cups, "-e") == "KORBA_DEMO\n"

    bridge = harness.start(harness.Target("native"), env=own_cups)
    try:
        status, _, body = harness.request(bridge.port, "POST", "/raw", PANEL_TICKET,
                                          [("Content-Type", "application/octet-stream")])
    finally:
        bridge.stop()
    assert (status, body) == (200, b'{"ok":true,"printer":"KORBA_DEMO","bytes":%d}' % len(PANEL_TICKET))
    queue = CaptureQueue("KORBA_DEMO")
    queue.folder = Path(folder)
    [job] = queue.wait_for_jobs(set(), 1)
    assert job.data == PANEL_TICKET
    [ticket] = queue.folder.glob("job-*.data")
    assert run(SCRIPTS / "show-ticket.py", own_cups) == f"== {ticket}\n" + PANEL_TICKET_SHOWN
    # Kept by the backend as lp, not root, and for lp and its group alone.
    assert {path.name: owner_and_mode(path) for path in (queue.folder, *queue.folder.iterdir())} == {
        queue.folder.name: ("lp", 0o750), ticket.name: ("lp", 0o640), ticket.with_suffix(".title").name: ("lp", 0o640)}

    # Now the machine has a queue: a second run changes nothing.
    assert run(SCRIPTS / "demo-printer.sh", own_cups) == (
        "CUPS: impresoras ya instaladas (KORBA_DEMO); no se cambia nada.\n")
    assert run("lpstat", own_cups, "-e") == "KORBA_DEMO\n"


@pytest.mark.parametrize("data, shown", [
    (PANEL_TICKET, PANEL_TICKET_SHOWN),
    (b"\x1b-\x02T\x1b-\x00\x1bp\x01\x32\x32\x1dVA\x10", "[subrayado]T[/subrayado][cajon pin 5: 100/100 ms][corte]\n"),
    (b"Caf\x82 \x1b\x7a\x01\r\n\x1dV", "Caf\u00e9 [ESC 7A][01]\n[incompleto: 1d 56]\n"),
    (b"\x07Total\t1\x7f\xc2\x9b2J\xc2\x85\n", "[07]Total\t1[7F][9B]2J[85]\n"),
    (b"\x9b\x7f\x80", "\u00a2[7F]\u00c7\n"),
], ids=["panel ticket", "underline, pin 5, cut with feed", "code page 437, unknown and cut short",
        "C0, DEL and C1 escaped", "DEL escaped in code page 437"])
def test_ticket_viewer(tmp_path, data, shown):
    ticket = tmp_path / "ticket.bin"
    ticket.write_bytes(data)
    assert run(SCRIPTS / "show-ticket.py", {}, ticket) == shown
