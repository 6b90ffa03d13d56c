"""The Wine prefix as the install journeys see it: the downloads folder, C:\\KORBA, the service,
the Run value and the browsers' loopback policies, read with Wine's own sc and reg, and put back
to clean after each journey."""

import getpass
import os
import re
import shutil
import signal
import subprocess
import time

import harness
from runner_tools import current_system_tool

DRIVE_C = harness.WINE_PREFIX / "drive_c"
INSTALL_FOLDER = DRIVE_C / "KORBA"
INSTALLED = INSTALL_FOLDER / "korba-vizoza.exe"
INSTALLED_SEEN = "C:\\KORBA\\korba-vizoza.exe"
SERVICE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\KORBAVizoza"
RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
DESCRIPTION = ("Vizoza de impresion local USB para KORBA (tickets ESC/POS y cajon portamonedas). "
               "Escucha en 127.0.0.1:9230.")
WINE = harness.Target("wine")
CHROME_POLICY = "HKLM\\SOFTWARE\\Policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls"
EDGE_POLICY = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Edge\\LoopbackNetworkAllowedForUrls"
FIREFOX_POLICY = "HKLM\\SOFTWARE\\Policies\\Mozilla\\Firefox\\LocalNetworkAccess\\SkipDomains"
# Where the program remembers the values it added.
ADDED_POLICY_VALUES = "HKLM\\SOFTWARE\\KORBA"
# The standard build's own origins.
APP_PATTERNS = ["https://korba.app", "[*.]korba.app", "[*.]korba-pos.pages.dev"]
APP_HOSTS = ["korba.app", "*.korba.app", "*.korba-pos.pages.dev"]


def user_name():
    return os.environ.get("USER") or getpass.getuser()


def downloads_folder():
    """C:\\users\\<user>\\Downloads as a real folder (Wine links it to the home folder)."""
    folder = DRIVE_C / "users" / user_name() / "Downloads"
    if folder.is_symlink():
        folder.unlink()
    folder.mkdir(parents=True, exist_ok=True)
    return folder


def downloads_seen():
    return f"C:\\users\\{user_name()}\\Downloads\\korba-vizoza.exe"


def tool(*args, timeout=120):
    """Runs one of Wine's own tools (sc, reg) and returns (exit code, stdout text)."""
    done = harness.run(WINE, *args[1:], exe=current_system_tool(args[0]), timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def reg_value(key, name):
    code, out = tool("reg", "query", key, "/v", name)
    if code != 0:
        return None
    match = re.search(rf"^\s*{re.escape(name)}\s+REG_\w+\s+(.*?)\r?$", out, re.MULTILINE)
    return match.group(1) if match else None


def reg_values(key):
    """The REG_SZ values of a key as {name: data}; None when there is no such key."""
    code, out = tool("reg", "query", key)
    if code != 0:
        return None
    return dict(re.findall(r"^    (\S+)    REG_SZ    (.*?)\r?$", out, re.MULTILINE))


def service_state():
    """"absent", or the state word of sc query (RUNNING, STOPPED, STOP_PENDING ...)."""
    code, out = tool("sc", "query", "KORBAVizoza")
    if code != 0:
        return "absent"
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return match.group(1) if match else "unknown"


def wait_for(condition, timeout=60, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.5)
    raise TimeoutError(f"{what} not reached in {timeout} s")


def korba_processes():
    """Linux ids of the Windows processes of this journey: copies run from C:\\KORBA or downloads,
    in this prefix only (other prefixes on the machine see the same Windows paths)."""
    found = []
    ours = f"WINEPREFIX={harness.WINE_PREFIX}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                command = f.read().decode("utf-8", "replace")
            if not (command.startswith(INSTALLED_SEEN) or command.startswith(downloads_seen())):
                continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if ours in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue
    return found


def clean():
    """No service, no C:\\KORBA, no Run value, empty downloads; nothing of ours still running."""
    if service_state() != "absent":
        tool("sc", "stop", "KORBAVizoza")
        try:
            wait_for(lambda: service_state() in ("STOPPED", "absent"), 20, "service stopped")
        except TimeoutError:
            pass
        tool("sc", "delete", "KORBAVizoza")
    for pid in korba_processes():
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wait_for(lambda: not korba_processes(), 30, "journey processes ended")
    wait_for(lambda: service_state() == "absent", 30, "service deleted")
    for folder in [INSTALL_FOLDER, *DRIVE_C.glob("KORBA.viejo-*")]:
        if folder.is_symlink() or folder.is_file():
            folder.unlink()
        else:
            shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(DRIVE_C / "Mis programas", ignore_errors=True)
    tool("reg", "delete", RUN_KEY, "/v", "KORBAVizoza", "/f")
    for key in (CHROME_POLICY, EDGE_POLICY, FIREFOX_POLICY, ADDED_POLICY_VALUES):
        tool("reg", "delete", key, "/f")
    shutil.rmtree(downloads_folder(), ignore_errors=True)
    downloads_folder()


def assert_clean():
    assert service_state() == "absent"
    assert not INSTALL_FOLDER.exists() and not list(DRIVE_C.glob("KORBA.viejo-*"))
    assert reg_value(RUN_KEY, "KORBAVizoza") is None
    assert reg_values(CHROME_POLICY) is None and reg_values(EDGE_POLICY) is None and reg_values(FIREFOX_POLICY) is None
    assert reg_values(ADDED_POLICY_VALUES) is None


def windows_time(path):
    """The last-write time as Windows sees it (100 ns units)."""
    return os.stat(path).st_mtime_ns // 100


def same_file(a, b):
    return (a.stat().st_size == b.stat().st_size and windows_time(a) == windows_time(b)
            and a.read_bytes() == b.read_bytes())


def outcome_lines(stdout):
    """The lines between the setup header and its closing hint."""
    text = stdout.decode("utf-8")
    assert " Primera puesta en marcha de KORBA Vizoza\n" in text, text
    lines = text.split("\n")
    start = lines.index(" Primera puesta en marcha de KORBA Vizoza") + 2
    end = lines.index(" Si el vizoza ya corría como servicio, esta ventana sobra:")
    assert lines[end - 1] == ""
    return lines[start:end - 1]
