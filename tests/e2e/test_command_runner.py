"""The command runner, driven through a small test program that links it: which program
file runs, what arguments it receives, and what comes back from its pipes."""

import shutil

import pytest

from runner_tools import place_tool, program_folder, records, seen_path, system_tool_aside

TRICKY_ARGS = ["plain", "", "two words", "tab\there", 'a"b', "C:\\a b\\", "x\\\\", '\\"', '"""',
               '"C:\\Mis programas\\korba-vizoza.exe" --autostart', "ñandú ü"]


@pytest.fixture
def driver(target, tmp_path):
    """Runs run_command(program, args) from a copy of the driver in its own folder."""
    folder = program_folder(target, tmp_path) / "bin"
    exe = place_tool(target, "run_command_driver", folder)
    out = tmp_path / "out"

    def run(run_program, program, *args, env=None):
        shutil.rmtree(out, ignore_errors=True)
        out.mkdir()
        done = run_program(seen_path(target, out), program, *args, exe=exe, env=env, timeout=120)
        assert done.returncode == 0, done.stderr
        return {f.name: f.read_bytes() for f in out.iterdir()}

    run.folder = folder
    yield run
    shutil.rmtree(folder.parent, ignore_errors=True)


def record_env(target, tmp_path):
    log = tmp_path / "args.jsonl"
    return log, {"KORBA_RECORD": seen_path(target, log)}


def test_a_tool_the_system_lacks_runs_from_the_program_folder_first_and_gets_each_argument(
        target, driver, run_program, tmp_path):
    place_tool(target, "record_args", driver.folder, as_name="korba-tool")
    env_log, env = record_env(target, tmp_path)
    if not target.is_wine:
        rival = tmp_path / "on-path"
        place_tool(target, "flood", rival, as_name="korba-tool")
        env["PATH"] = f"{rival}:/usr/bin:/bin"
    outcome = driver(run_program, "korba-tool", *TRICKY_ARGS, env=env)
    assert outcome == {"exit": b"0", "stdout": b"stand-in\n", "stderr": b""}
    assert records(env_log) == [TRICKY_ARGS]


def test_windows_tools_come_from_the_system_only_or_the_search_goes_on_to_path(target, driver, run_program, tmp_path):
    if target.is_wine:
        # The system's reg answers, not the one beside the program.
        place_tool(target, "record_args", driver.folder, as_name="reg")
        outcome = driver(run_program, "reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion")
        assert outcome["exit"] == b"0"
        assert b"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion" in outcome["stdout"]
        # Without the system's own file nothing runs: neither the one beside the program nor Wine's builtin.
        with system_tool_aside("reg"):
            assert driver(run_program, "reg", "query", "HKCU") == {"error": b"program not found"}
        # A child starts in the system folder, not in the folder the program was started from.
        outcome = driver(run_program, "cmd", "/C", "cd")
        assert outcome["stdout"].strip() == b"C:\\windows\\system32"
    else:
        log, env = record_env(target, tmp_path)
        later = place_tool(target, "record_args", tmp_path / "later", as_name="korba-tool").parent
        env["PATH"] = f"{tmp_path / 'empty'}::{later}"
        assert driver(run_program, "korba-tool", "x", env=env)["exit"] == b"0"
        assert records(log) == [["x"]]


def test_both_pipes_are_drained_completely(target, driver, run_program):
    place_tool(target, "flood", driver.folder)
    megabytes = 4
    size = megabytes << 20
    outcome = driver(run_program, "flood", str(megabytes))
    assert outcome["exit"] == b"3"
    assert outcome["stdout"] == bytes((i * 7 + 1) & 255 for i in range(size))
    assert outcome["stderr"] == bytes((i * 13 + 5) & 255 for i in range(size))


def test_a_missing_program_is_not_started(driver, run_program):
    assert driver(run_program, "korba-no-such-tool", "x") == {"error": b"program not found"}
