"""The autostart switch and the status route: Wine's real reg, a stand-in reg in the system folder
(in the place of the prefix's own, which waits aside), and Linux, which runs no reg."""

import contextlib
import json
import os
import shutil
import subprocess

import pytest

import harness
from harness import request
from runner_tools import place_tool, program_folder, records, seen_path, stand_in

RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
WARNING = ("El ejecutable esta en Descargas o una carpeta temporal: muevelo a una carpeta fija "
           "(p.ej. C:\\KORBA\\) antes de activar el arranque.")


def post_startup(port, body):
    status, _, reply = request(port, "POST", "/startup", body.encode(), [("Content-Type", "application/json")])
    return status, json.loads(reply)


def status_of(port):
    status, _, reply = request(port, "GET", "/status")
    assert status == 200
    return json.loads(reply)


@pytest.fixture
def program_copy(target, tmp_path):
    """Copies the program into a subfolder of a fresh folder; removes it afterwards."""
    root = program_folder(target, tmp_path)

    def copy(subfolder):
        folder = root / subfolder
        folder.mkdir(parents=True)
        exe = folder / target.exe.name
        shutil.copy2(target.exe, exe)
        return exe

    yield copy
    shutil.rmtree(root, ignore_errors=True)


@pytest.fixture
def reg_stand_in(target):
    """Under Wine the program takes reg from the system folder only: the stand-in stands there meanwhile."""
    with stand_in("record_args", "reg") if target.is_wine else contextlib.nullcontext():
        yield


def quoted(text):
    return json.dumps(text, ensure_ascii=False)


def wine_reg(*args):
    return subprocess.run(["wine", "reg", *args], env=harness.wine_env(), capture_output=True, timeout=60)


def test_linux_runs_no_windows_tool_found_on_path_or_beside_the_program(target, start_bridge, program_copy, tmp_path):
    if target.is_wine:
        pytest.skip("Windows has reg")
    exe = program_copy("bin")
    for folder in (exe.parent, tmp_path / "on-path"):
        for name in ("reg", "sc", "net"):
            place_tool(target, "record_args", folder, as_name=name)
    log = tmp_path / "ran.jsonl"
    env = {"KORBA_RECORD": str(log), "PATH": f"{tmp_path / 'on-path'}:{os.environ['PATH']}"}
    bridge = start_bridge(exe=exe, env=env)
    assert status_of(bridge.port)["startup"] is False
    assert post_startup(bridge.port, '{"enable":1}') == (500, {"ok": False, "error": "program not found"})
    assert post_startup(bridge.port, '{"enable":0}') == (
        200, {"ok": True, "startup": False, "exe": str(exe), "warning": None})
    for command in ("--start", "--service-status"):
        assert harness.run(target, command, exe=exe, env=env).stderr == \
            b"ERROR: el servicio de Windows solo se puede consultar, arrancar o parar en Windows\n"
    assert records(log) == []


def test_real_reg_switches_the_run_value_for_a_path_with_spaces(target, start_bridge, program_copy):
    if not target.is_wine:
        pytest.skip("the Run key is Windows's")
    exe = program_copy("Mis programas")
    shown = seen_path(target, exe)
    bridge = start_bridge(exe=exe)
    try:
        assert post_startup(bridge.port, '{"enable":1}') == (
            200, {"ok": True, "startup": True, "exe": shown, "warning": None})
        def run_value():
            query = wine_reg("query", RUN_KEY, "/v", "KORBAVizoza")
            assert query.returncode == 0
            return [line.split(None, 2) for line in query.stdout.decode().splitlines() if "KORBAVizoza" in line]
        assert run_value() == [["KORBAVizoza", "REG_SZ", f'"{shown}" --autostart']]
        assert status_of(bridge.port)["startup"] is True

        assert post_startup(bridge.port, '{"enable":0}') == (
            200, {"ok": True, "startup": False, "exe": shown, "warning": None})
        assert wine_reg("query", RUN_KEY, "/v", "KORBAVizoza").returncode != 0
        assert status_of(bridge.port)["startup"] is False
        # A bridge with aliases starts at the next logon with the same printers; the main one is
        # named only when --printer named it, so that the default printer of that day is not pinned.
        kitchen = start_bridge("--printer-for", "cocina=ACME", "--printer-for", "barra=KORBA_DEFAULT", exe=exe)
        assert post_startup(kitchen.port, '{"enable":1}')[0] == 200
        assert run_value() == [["KORBAVizoza", "REG_SZ", f'"{shown}" --autostart '
                                                         "--printer-for cocina=ACME --printer-for barra=KORBA_DEFAULT"]]
    finally:
        wine_reg("delete", RUN_KEY, "/v", "KORBAVizoza", "/f")


@pytest.mark.parametrize("subfolder, warning", [("Mis programas", None), ("Descargas", WARNING)])
def test_a_stand_in_reg_in_the_system_folder_gets_the_exact_arguments(
        target, start_bridge, program_copy, tmp_path, subfolder, warning, reg_stand_in):
    if not target.is_wine:
        pytest.skip("Linux runs no reg")
    exe = program_copy(subfolder)
    log = tmp_path / "reg-args.jsonl"
    bridge = start_bridge(exe=exe, env={"KORBA_RECORD": seen_path(target, log)})
    shown = seen_path(target, exe)

    assert post_startup(bridge.port, '{"enable":1}') == (
        200, {"ok": True, "startup": True, "exe": shown, "warning": warning})
    query = ["query", RUN_KEY, "/v", "KORBAVizoza"]
    assert records(log) == [
        ["add", RUN_KEY, "/v", "KORBAVizoza", "/t", "REG_SZ", "/d", f'"{shown}" --autostart', "/f"],
        query, query]
    _, _, body = request(bridge.port, "GET", "/status")
    reply = json.loads(body)
    assert body == ('{"ok":true,"app":"korba-vizoza","version":"1.5.0","printer":%s,"printer_ok":%s,'
                    '"port":%d,"startup":true,"exe":%s}' % (
                        quoted(reply["printer"]), json.dumps(reply["printer_ok"]), bridge.port, quoted(shown))).encode()
