r"""The self-install journeys of the Windows build under Wine: the program saved where a user
downloads it and started without arguments, with Wine's own sc, reg and service manager. Stand-ins
in the system folder, the only place the program takes its tools from, play what Wine lacks: a
net.exe that says "not an administrator" (and what the elevated process is told) and a
powershell.exe that shows the elevation prompt; the prefix's own tool waits aside meanwhile.
Wine keeps no owners or access lists, so every C:\KORBA that exists before an install is set aside
there; which folders Windows keeps, and a rename that Windows refuses, are unit-tested."""

import contextlib
import json
import re
import shutil
import subprocess

import pytest

import harness
from install_world import (ADDED_POLICY_VALUES, APP_HOSTS, APP_PATTERNS, CHROME_POLICY, DESCRIPTION, DRIVE_C, EDGE_POLICY,
                           FIREFOX_POLICY, INSTALL_FOLDER,
                           INSTALLED, INSTALLED_SEEN, RUN_KEY, SERVICE_KEY, WINE, assert_clean, clean,
                           downloads_folder, downloads_seen, outcome_lines, reg_value, reg_values, same_file,
                           service_state, tool, wait_for)
from runner_tools import place_tool, records, seen_path, stand_in

natively = pytest.mark.skipif("native" not in harness.TARGETS, reason="the POSIX build is not tested")

BINPATH = re.compile(r'^"C:\\KORBA\\korba-vizoza\.exe" --service --no-console(?: --printer (\S+))?(?: --port (\d+))?$')
ALREADY_RUNNING = " KORBA Vizoza ya esta funcionando"
BANNER_END = " Arranque automatico con Windows: boton en el panel"


@pytest.fixture
def journey(request, tmp_path):
    """A clean prefix before and after; the program saved in the downloads folder."""
    if "wine" not in harness.TARGETS:
        pytest.skip("the install journeys run under Wine")
    request.getfixturevalue("wine_prefix")
    clean()
    assert not harness.listening(9230), "port 9230 is taken: the journeys that start without arguments need it"
    journey = Journey(tmp_path)
    with journey.asides:
        yield journey
    clean()
    assert_clean()


class Journey:
    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.folder = downloads_folder()
        self.exe = self.folder / "korba-vizoza.exe"
        shutil.copy2(harness.WINDOWS_BIN, self.exe)
        self.env = {}
        self.asides = contextlib.ExitStack()
        self.aside_paths = {}

    def stand_in(self, tool, name):
        """The stand-in in the place of the prefix's own tool until the journey ends; where that waits."""
        if name not in self.aside_paths:
            self.aside_paths[name] = self.asides.enter_context(stand_in(tool, name))
        return self.aside_paths[name]

    def record(self, variable, name):
        log = self.tmp / name
        self.env[variable] = seen_path(WINE, log)
        return log

    def not_administrator(self):
        """net session says no, to the elevated process too unless administrator_when_elevated."""
        self.stand_in("record_args", "net")
        self.env["KORBA_EXIT_CODE"] = "2"
        return self.record("KORBA_RECORD", "net.jsonl")

    def administrator_when_elevated(self):
        """The prompt stand-in hands the process it starts elevated the answer of an administrator."""
        self.env["KORBA_ELEVATED_EXIT_CODE"] = "0"

    def elevation_prompt(self, answer):
        self.stand_in("elevation_prompt", "powershell")
        self.env["KORBA_PROMPT_ANSWER"] = answer
        self.window = self.tmp / "elevated-window.txt"
        self.env["KORBA_PROMPT_WINDOW"] = seen_path(WINE, self.window)
        return self.record("KORBA_PROMPT_RECORD", "powershell.jsonl")

    def watch_sc(self):
        """Wine's sc still does the work; the pass-through in its place records what it got."""
        self.env["KORBA_PASS_TOOL"] = self.stand_in("pass_through", "sc")
        return self.record("KORBA_PASS_RECORD", "sc.jsonl")

    def run(self, *args, exe=None, timeout=240, console=False):
        return harness.run(WINE, *args, exe=exe or downloads_seen(), env=self.env, timeout=timeout,
                           console=console)

    def serve(self, port, *args, console=False):
        """A start that ends up serving in its console; stopped by the caller."""
        return harness.start(WINE, *args, "--port", str(port), "--no-open", port=port, exe=downloads_seen(),
                             env=self.env, timeout=240, console=console)


def status(port, query=""):
    code, _, body = harness.request(port, "GET", "/status" + query)
    assert code == 200
    return json.loads(body)


def assert_service_serves(port, printer_arg, aliases=()):
    assert service_state() == "RUNNING"
    image = reg_value(SERVICE_KEY, "ImagePath")
    assert image == '"C:\\KORBA\\korba-vizoza.exe" --service --no-console' + \
        (f" --printer {printer_arg}" if printer_arg else "") + \
        "".join(f" --printer-for {alias}={plus_printer(printer)}" for alias, printer in aliases) + \
        ("" if port == 9230 else f" --port {port}")
    for alias, printer in aliases:
        assert status(port, f"?printer={alias}")["printer"] == printer
    assert reg_value(SERVICE_KEY, "Description") == DESCRIPTION
    assert reg_value(SERVICE_KEY, "DisplayName") == "KORBA Vizoza de impresion"
    assert reg_value(SERVICE_KEY, "Start") == "0x2"
    assert status(port)["ok"] is True
    return image


def sc_changes(log):
    """What the program asked of sc besides the queries, in order."""
    return [args for args in records(log) if args[0] != "query"]


def expected_changes(binpath, replacing=False):
    removal = [["stop", "KORBAVizoza"], ["delete", "KORBAVizoza"]] if replacing else []
    return removal + [
        ["create", "KORBAVizoza", "start=", "auto", "binPath=", binpath, "DisplayName=", "KORBA Vizoza de impresion"],
        ["description", "KORBAVizoza", DESCRIPTION],
        ["failure", "KORBAVizoza", "reset=", "86400", "actions=", "restart/5000/restart/10000/restart/30000"],
        ["start", "KORBAVizoza"],
    ]


def plus_printer(printer):
    return printer.replace(" ", "+") if printer else None


def test_first_start_as_administrator_installs_the_copy_as_a_service(journey):
    sc_log = journey.watch_sc()
    done = journey.run()
    assert done.returncode == 0, done.stderr

    [line] = outcome_lines(done.stdout)
    installed = re.fullmatch(r"  ✔ Servicio instalado y en marcha \(impresora: (.*)\)\.", line)
    assert installed, line
    printer = "" if installed.group(1) == "predeterminada" else installed.group(1)
    assert ALREADY_RUNNING in done.stdout.decode()

    assert same_file(journey.exe, INSTALLED)
    image = assert_service_serves(9230, plus_printer(printer))
    assert sc_changes(sc_log) == expected_changes(image)
    assert reg_value(RUN_KEY, "KORBAVizoza") is None


@pytest.mark.parametrize("args", [(), ("--printer", "POS 80 Caja", "--port", "9239")], ids=["no arguments", "printer and port"])
def test_accepting_the_elevation_prompt_installs_the_service_from_the_elevated_download(journey, args):
    journey.not_administrator()
    journey.administrator_when_elevated()
    prompt_log = journey.elevation_prompt("yes")
    done = journey.run(*args)
    assert done.returncode == 0, done.stderr

    assert outcome_lines(done.stdout) == ["  ✔ Instalado como servicio en C:\\KORBA (arranca con Windows)."]
    assert ALREADY_RUNNING in done.stdout.decode()
    port = int(args[3]) if args else 9230
    window = journey.window.read_text(encoding="utf-8")
    printer = re.fullmatch(r"OK: Servicio instalado y en marcha \(impresora: (.*)\)\.\n", window).group(1)
    if args:
        assert printer == "POS 80 Caja"
    assert_service_serves(port, plus_printer("" if printer == "predeterminada" else printer))
    assert same_file(journey.exe, INSTALLED)

    elements = []
    if printer != "predeterminada":
        elements += ["'--printer'", "'\"POS 80 Caja\"'" if args else f"'{printer}'"]
    if args:
        elements += ["'--port'", "'9239'"]
    elements.append("'--install'")
    script = (f"try {{ $p = Start-Process -FilePath '{downloads_seen()}' -ArgumentList @({','.join(elements)}) "
              "-Verb RunAs -Wait -PassThru; exit $p.ExitCode } catch { exit 1223 }")
    # The download itself is what runs elevated, and nothing was written to C:\KORBA before.
    assert records(prompt_log) == [["-NoProfile", "-ExecutionPolicy", "Bypass", "-Command", script],
                                   ["starts", downloads_seen(), "sin C:\\KORBA"]]


def test_refusing_the_elevation_prompt_turns_on_the_simple_mode_and_creates_no_c_korba(journey):
    journey.not_administrator()
    prompt_log = journey.elevation_prompt("no")
    bridge = journey.serve(9241)
    assert status(9241)["ok"] is True
    bridge.stop()

    assert outcome_lines(bridge.stdout) == [
        "  ✔ Sin permisos de administrador: activado el arranque con Windows (modo simple)."]
    assert len(records(prompt_log)) == 1
    assert service_state() == "absent"
    assert not INSTALL_FOLDER.exists()
    assert reg_value(RUN_KEY, "KORBAVizoza") == f'"{downloads_seen()}" --autostart'


def test_a_failing_elevated_install_is_a_warning(journey):
    # Not even the elevated process is told it is an administrator.
    journey.not_administrator()
    journey.elevation_prompt("yes")
    bridge = journey.serve(9242)
    bridge.stop()

    assert outcome_lines(bridge.stdout) == ["  ⚠ el relanzamiento con permisos falló (código 1): "]
    assert journey.window.read_text(encoding="utf-8") == (
        "ERROR: Se necesitan permisos de administrador. Cierra y vuelve a ejecutar el instalador con "
        "«Ejecutar como administrador».\n")
    assert service_state() == "absent"
    assert not INSTALL_FOLDER.exists()


def install_other_build(port):
    """A service of another build, installed from a copy outside C:\\KORBA; that build's bytes."""
    other = DRIVE_C / "Mis programas"
    other.mkdir()
    older = harness.WINDOWS_BIN.read_bytes() + b"\0" * 512
    (other / "korba-vizoza.exe").write_bytes(older)
    first = harness.run(WINE, "--port", str(port), "--install", exe="C:\\Mis programas\\korba-vizoza.exe", timeout=240)
    assert first.returncode == 0, first.stderr
    assert status(port)["ok"] is True
    assert INSTALLED.read_bytes() == older
    return older


def set_aside_folders():
    return sorted(DRIVE_C.glob("KORBA.viejo-*"))


def test_an_update_replaces_the_running_service_of_another_build(journey):
    older = install_other_build(9243)
    sc_log = journey.watch_sc()
    done = journey.run("--port", "9243", "--no-open", "--setup")
    assert done.returncode == 0, done.stderr

    [line] = outcome_lines(done.stdout)
    assert re.fullmatch(r"  ✔ Servicio instalado y en marcha \(impresora: .*\)\.", line), line
    assert ALREADY_RUNNING in done.stdout.decode()
    assert same_file(journey.exe, INSTALLED)
    image = assert_service_serves(9243, BINPATH.match(reg_value(SERVICE_KEY, "ImagePath")).group(1))
    # The service is stopped and deleted before its folder, which Wine cannot vouch for, is set aside.
    assert sc_changes(sc_log) == expected_changes(image, replacing=True)
    [aside] = set_aside_folders()
    assert re.fullmatch(r"KORBA\.viejo-\d{8}-\d{6}", aside.name), aside.name
    assert (aside / "korba-vizoza.exe").read_bytes() == older


def test_an_existing_c_korba_is_set_aside_never_followed_nor_trusted(journey):
    # A folder a user made, with a program of theirs running from it (which Windows would not let go of).
    INSTALL_FOLDER.mkdir()
    planted = harness.WINDOWS_BIN.read_bytes() + b"\0" * 512
    INSTALLED.write_bytes(planted)
    holder = harness.start(WINE, "--port", "9244", "--no-open", "--no-setup", port=9244, exe=INSTALLED_SEEN)
    try:
        done = journey.run("--port", "9245", "--no-open")
    finally:
        holder.stop()
    assert done.returncode == 0, done.stderr
    assert re.fullmatch(r"  ✔ Servicio instalado y en marcha \(impresora: .*\)\.", outcome_lines(done.stdout)[0])
    assert same_file(journey.exe, INSTALLED)
    [aside] = set_aside_folders()
    assert (aside / "korba-vizoza.exe").read_bytes() == planted, "nothing in it is deleted"

    # A link to a folder of the user's is never trusted nor written through. Wine reports it as a
    # reparse point but renames the folder it leads to in its place (Windows renames the link), so
    # the fresh C:\KORBA cannot be made beside the link left behind and the install stops there.
    clean()
    shutil.copy2(harness.WINDOWS_BIN, journey.exe)
    theirs = DRIVE_C / "korba-e2e-theirs"
    theirs.mkdir()
    (theirs / "korba-vizoza.exe").write_bytes(planted)
    INSTALL_FOLDER.symlink_to(theirs, target_is_directory=True)
    try:
        bridge = journey.serve(9245)
        bridge.stop()
        [line] = outcome_lines(bridge.stdout)
        assert re.fullmatch(r"  ⚠ no puedo crear C:\\KORBA: .+ — probando arranque con Windows sin permisos", line), line
        assert service_state() == "absent"
        [moved] = [folder for folder in [theirs, *set_aside_folders()] if folder.is_dir() and not folder.is_symlink()]
        assert [p.name for p in moved.iterdir()] == ["korba-vizoza.exe"]
        assert (moved / "korba-vizoza.exe").read_bytes() == planted, "nothing written through the link"
    finally:
        shutil.rmtree(theirs, ignore_errors=True)


def setup_report(port, outcome):
    rule = "=" * 46
    return [rule, " Primera puesta en marcha de KORBA Vizoza", rule, outcome, "",
            " Si el vizoza ya corría como servicio, esta ventana sobra:", f" cierrala y navega a http://127.0.0.1:{port}/",
            "", rule]


def test_another_file_put_in_the_running_program_s_place_is_never_installed(journey):
    # While the program asks net whether it is an administrator, its file is renamed and another
    # program is put at its name: Wine's name of the running image does not follow the rename.
    journey.stand_in("take_place", "net")
    other = place_tool(WINE, "record_args", journey.tmp)
    journey.env["KORBA_TAKE_PLACE_OF"] = downloads_seen()
    journey.env["KORBA_TAKE_PLACE_WITH"] = seen_path(WINE, other)
    done = journey.run("--install")
    assert (done.returncode, done.stderr.decode()) == (
        1, "ERROR: no puedo leer este mismo programa para copiarlo (otro fichero ha ocupado el lugar del "
           "programa); no se ha instalado nada. Vuelve a descargarlo y ejecutalo de nuevo.\n")
    assert same_file(other, journey.exe)
    assert not INSTALL_FOLDER.exists()
    assert service_state() == "absent"


def test_the_setup_report_and_a_refusal_in_a_console_window(journey):
    """What the shop owner reads in the window (WriteConsoleW), symbols and accents included."""
    journey.not_administrator()
    journey.elevation_prompt("no")
    bridge = journey.serve(9247, console=True)
    bridge.wait_shown(BANNER_END)
    bridge.stop()
    shown = harness.console_lines(bridge.stdout)
    assert shown[:9] == setup_report(
        9247, "  ✔ Sin permisos de administrador: activado el arranque con Windows (modo simple).")
    assert shown[9] == " KORBA Vizoza v1.5.0 (build 1.5.0) - listo"

    # A warning, accents and all, when not even the elevated process gets the rights.
    clean()
    shutil.copy2(harness.WINDOWS_BIN, journey.exe)
    journey.env["KORBA_PROMPT_ANSWER"] = "yes"
    bridge = journey.serve(9248, console=True)
    bridge.wait_shown(BANNER_END)
    bridge.stop()
    shown = harness.console_lines(bridge.stdout)
    # The window keeps no blanks at the end of a line.
    assert shown[:9] == setup_report(9248, "  ⚠ el relanzamiento con permisos falló (código 1):")

    INSTALL_FOLDER.mkdir()
    shutil.copy2(harness.WINDOWS_BIN, INSTALLED)
    refused = journey.run("--install", exe=INSTALLED_SEEN, console=True)
    assert harness.console_lines(refused.stdout) == [
        "ERROR: Se necesitan permisos de administrador. Cierra y vuelve a ejecutar el instalador con «Ejecutar como "
        "administrador».", ""]


def test_install_and_uninstall_one_shots_twice_each(journey):
    # A sc.exe and a net.exe lying beside the download are not run: the tools come from the system.
    planted = journey.record("KORBA_RECORD", "planted.jsonl")
    for name in ("sc", "net"):
        place_tool(WINE, "record_args", journey.folder, as_name=name)
    journey.env["KORBA_EXIT_CODE"] = "2"
    # An administrator's own exemption, which every install and uninstall keeps.
    admin = {"1": "https://admin.example"}
    assert tool("reg", "add", CHROME_POLICY, "/v", "1", "/t", "REG_SZ", "/d", admin["1"], "/f")[0] == 0
    assert tool("reg", "add", FIREFOX_POLICY, "/v", "1", "/t", "REG_SZ", "/d", "intranet.example", "/f")[0] == 0
    other = DRIVE_C / "Mis programas"
    other.mkdir()
    shutil.copy2(harness.WINDOWS_BIN, other / "korba-vizoza.exe")
    # From anywhere, the service runs the copy in C:\KORBA; the last install gives it the kitchen's printer too.
    aliases = (("cocina", "ACME"), ("barra", "KORBA DEFAULT"))
    for exe, given in ((downloads_seen(), ()), ("C:\\Mis programas\\korba-vizoza.exe", ()), (downloads_seen(), aliases)):
        options = [arg for alias, printer in given for arg in ("--printer-for", f"{alias}={plus_printer(printer)}")]
        done = journey.run("--printer", "Caja 1", *options, "--port", "9246", "--install", exe=exe)
        assert (done.returncode, done.stdout.decode()) == (
            0, "OK: Servicio instalado y en marcha (impresora: Caja 1).\n"), done.stderr
        assert_service_serves(9246, "Caja+1", given)
        assert same_file(journey.exe, INSTALLED)
        assert reg_values(CHROME_POLICY) == {**admin, **dict(zip(("2", "3", "4"), APP_PATTERNS))}
        assert reg_values(EDGE_POLICY) == dict(zip(("1", "2", "3"), APP_PATTERNS))
        assert reg_values(FIREFOX_POLICY) == {"1": "intranet.example", **dict(zip(("2", "3", "4"), APP_HOSTS))}
    assert records(planted) == []
    # Each install after the first found a C:\KORBA that Wine cannot vouch for and set it aside.
    assert len(set_aside_folders()) == 2
    # The installed copy cannot put itself in the place of the folder it runs from.
    done = journey.run("--install", exe=INSTALLED_SEEN)
    assert (done.returncode, done.stderr.decode()) == (
        1, "ERROR: C:\\KORBA no es segura y no se puede apartar (este programa se ejecuta desde ella); cierra los "
           "programas que la usen y vuelve a intentarlo\n")
    assert_service_serves(9246, "Caja+1", aliases)

    # Nor does the service run a reg.exe put into C:\KORBA (it would leave its record beside itself).
    place_tool(WINE, "record_args", INSTALL_FOLDER, as_name="reg")
    assert status(9246)["startup"] is False
    code, _, body = harness.request(9246, "POST", "/startup", b'{"enable":0}', [("Content-Type", "application/json")])
    assert (code, json.loads(body)) == (
        200, {"ok": True, "startup": False, "exe": INSTALLED_SEEN, "warning": None})
    assert not (INSTALL_FOLDER / "reg.exe.jsonl").exists()

    # An administrator's entry after ours, and one of our numbers that an administrator took over.
    later = "https://later.example"
    assert tool("reg", "add", CHROME_POLICY, "/v", "5", "/t", "REG_SZ", "/d", later, "/f")[0] == 0
    assert tool("reg", "add", EDGE_POLICY, "/v", "3", "/t", "REG_SZ", "/d", later, "/f")[0] == 0
    expected = ["OK: Servicio detenido y eliminado.\n", "OK: El servicio no estaba instalado.\n"]
    for message in expected:
        done = journey.run("--uninstall", exe=INSTALLED_SEEN)
        assert (done.returncode, done.stdout.decode()) == (0, message), done.stderr
        wait_for(lambda: service_state() == "absent", 30, "service gone")
    assert INSTALLED.exists(), "uninstalling leaves the installed file"
    # Only our values went, and the lists were closed up so the browsers read them to the end.
    assert (reg_values(CHROME_POLICY), reg_values(EDGE_POLICY)) == ({**admin, "2": later}, {"1": later})
    assert reg_values(FIREFOX_POLICY) == {"1": "intranet.example"}
    assert reg_values(ADDED_POLICY_VALUES) is None


BAD_PRINTER_FOR = "ERROR: --printer-for espera ALIAS=IMPRESORA (alias: 1 a 32 minusculas, cifras, - o _, sin repetir)"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
PROGRAM_FILES = DRIVE_C / "Program Files" / "KORBA Vizoza"


def msi_package(folder, version, exe):
    """The release's package, made by wixl from `exe` with `version`."""
    folder.mkdir()
    shutil.copy2(exe, folder / "korba-vizoza.exe")
    shutil.copy2(harness.WINDOWS_BIN.parent / "korba-install-action.dll", folder)
    subprocess.run(["wixl", "-a", "x64", "-D", f"Version={version}", "-D", "Exe=korba-vizoza.exe",
                    "-D", "Action=korba-install-action.dll", "-o", "k.msi",
                    str(harness.ROOT / "packaging" / "windows" / "korba-vizoza.wxs")],
                   cwd=folder, check=True, capture_output=True, timeout=120)
    return seen_path(WINE, folder / "k.msi")


def msiexec(*args, succeeds=True):
    done = harness.run(WINE, *args, exe="msiexec", timeout=300)
    assert (done.returncode == 0) == succeeds, done.stderr
    return done


def products_registered():
    return tool("reg", "query", UNINSTALL_KEY, "/s")[1].count("KORBA Vizoza de impresion")


def test_msi_installs_silently_upgrades_in_place_and_uninstalls(journey, tmp_path):
    port = harness.free_port()
    firefox_admin = {"1": "intranet.example"}
    assert tool("reg", "add", FIREFOX_POLICY, "/v", "1", "/t", "REG_SZ", "/d", firefox_admin["1"], "/f")[0] == 0
    newer = tmp_path / "newer.exe"
    newer.write_bytes(harness.WINDOWS_BIN.read_bytes() + b"a later build")
    first = msi_package(tmp_path / "first", "1.5.0", harness.WINDOWS_BIN)
    second = msi_package(tmp_path / "second", "1.5.1", newer)

    msiexec("/i", first, "/qn", "PRINTER=Caja 1", f"PORT={port}", "PRINTER_FOR=cocina=ACME;barra=KORBA DEFAULT")
    assert_service_serves(port, "Caja+1", (("cocina", "ACME"), ("barra", "KORBA DEFAULT")))
    assert products_registered() == 1
    assert same_file(PROGRAM_FILES / "korba-vizoza.exe", INSTALLED)
    assert reg_values(FIREFOX_POLICY) == {**firefox_admin, **dict(zip(("2", "3", "4"), APP_HOSTS))}

    # The newer package takes the older one's place; the service runs its file.
    msiexec("/i", second, "/qn", "PRINTER=Caja 1", f"PORT={port}", "PRINTER_FOR=cocina=ACME")
    assert_service_serves(port, "Caja+1", (("cocina", "ACME"),))
    assert products_registered() == 1
    assert INSTALLED.read_bytes() == (PROGRAM_FILES / "korba-vizoza.exe").read_bytes() == newer.read_bytes()

    msiexec("/x", second, "/qn")
    assert service_state() == "absent" and products_registered() == 0
    assert not PROGRAM_FILES.exists() and not INSTALLED.exists()
    assert (INSTALL_FOLDER / "tickets").is_dir(), "the ticket record stays"
    assert reg_values(CHROME_POLICY) is None and reg_values(EDGE_POLICY) is None
    assert reg_values(FIREFOX_POLICY) == firefox_admin

    # A setting the program refuses fails the package, with the program's own words in its log.
    log = tmp_path / "refused.log"
    msiexec("/i", first, "/qn", "PRINTER_FOR=Cocina", "/l*v", seen_path(WINE, log), succeeds=False)
    logged = log.read_bytes()
    logged = logged.decode("utf-16") if logged.startswith(b"\xff\xfe") else logged.decode("utf-8", "replace")
    assert "korba-vizoza: " + BAD_PRINTER_FOR in logged.splitlines(), logged[-3000:]
    # A value that would end its quotes early never reaches the program.
    msiexec("/i", first, "/qn", "PRINTER=Caja\\", succeeds=False)
    assert service_state() == "absent" and products_registered() == 0 and not PROGRAM_FILES.exists()


@natively
def test_the_posix_build_neither_sets_up_nor_installs(tmp_path):
    native = harness.Target("native")
    for option, refusal in [("--install", b"instalar o desinstalar"), ("--uninstall", b"instalar o desinstalar"),
                            ("--service-status", b"consultar, arrancar o parar"), ("--start", b"consultar, arrancar o parar"),
                            ("--stop", b"consultar, arrancar o parar")]:
        done = harness.run(native, option)
        assert (done.returncode, done.stdout, done.stderr) == (
            1, b"", b"ERROR: el servicio de Windows solo se puede " + refusal + b" en Windows\n")
    port = harness.free_port()
    bridge = harness.start(native, "--port", str(port), "--no-open", port=port, cwd=tmp_path)
    bridge.stop()
    assert b"Primera puesta en marcha" not in bridge.stdout
    assert list(tmp_path.iterdir()) == []
