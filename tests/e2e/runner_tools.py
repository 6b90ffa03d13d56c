"""Stand-in tools for the tests of the command runner and the autostart entry: small
programs of the test suite (tests/tools), built beside each build of the program."""

import contextlib
import json
import os
import shutil
import uuid
from pathlib import Path

import harness


def tools_dir(target):
    return target.exe.parent / "tests" / "tools"


def file_name(target, name):
    return name + ".exe" if target.is_wine else name


def place_tool(target, tool, folder, as_name=None):
    """Copies a tool into `folder` under `as_name` (the platform's file name is added)."""
    folder.mkdir(parents=True, exist_ok=True)
    destination = folder / file_name(target, as_name or tool)
    shutil.copy2(tools_dir(target) / file_name(target, tool), destination)
    return destination


def seen_path(target, path):
    """The path as the program sees it: under Wine the drive letter form."""
    if not target.is_wine:
        return str(path)
    try:
        return "C:\\" + str(Path(path).relative_to(harness.WINE_PREFIX / "drive_c")).replace("/", "\\")
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


SYSTEM_FOLDER = harness.WINE_PREFIX / "drive_c" / "windows" / "system32"
ASIDE = SYSTEM_FOLDER / "korba-aside"


def system_tool(name):
    """Where the prefix keeps one of its own tools."""
    folder = SYSTEM_FOLDER / "WindowsPowerShell" / "v1.0" if name == "powershell" else SYSTEM_FOLDER
    return folder / f"{name}.exe"


@contextlib.contextmanager
def system_tool_aside(name):
    """The prefix's own tool out of the system folder until the block ends, waiting in a folder of
    its own (same file name, which Wine needs to load it); yields that path as the program sees it."""
    aside = ASIDE / f"{name}.exe"
    ASIDE.mkdir(exist_ok=True)
    if system_tool(name).exists():
        os.replace(system_tool(name), aside)
    try:
        yield seen_path(harness.Target("wine"), aside)
    finally:
        if aside.exists():
            os.replace(aside, system_tool(name))
        else:
            system_tool(name).unlink(missing_ok=True)


@contextlib.contextmanager
def stand_in(tool, name):
    """The program takes sc, reg, net, cmd and powershell from the system folder and nowhere else: the
    stand-in `tool` takes the place of the prefix's own `name` there until the block ends, and Wine is
    told to prefer that file to its builtin. Yields where the original waits, as the program sees it."""
    with system_tool_aside(name) as original:
        shutil.copy2(tools_dir(harness.Target("wine")) / f"{tool}.exe", system_tool(name))
        harness.NATIVE_FIRST.add(name)
        try:
            yield original
        finally:
            harness.NATIVE_FIRST.discard(name)


def current_system_tool(name):
    """The prefix's own tool wherever it is now, as Wine sees it (`wine sc` would find a stand-in)."""
    aside = ASIDE / f"{name}.exe"
    return seen_path(harness.Target("wine"), aside) if aside.exists() else name


def put_back_system_tools():
    """Returns the tools that a run ended before its time left aside, over the stand-ins in their place."""
    for aside in ASIDE.glob("*.exe") if ASIDE.exists() else []:
        os.replace(aside, system_tool(aside.stem))


def program_folder(target, tmp_path):
    """A fresh folder for a copy of a program; under Wine on drive C:, away from any
    folder whose name the location check would flag."""
    if target.is_wine:
        return harness.WINE_PREFIX / "drive_c" / f"korba-e2e-{uuid.uuid4().hex[:8]}"
    return tmp_path / "programs"


def records(path):
    """The argument lists recorded by the record_args stand-in, one per run."""
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]
