"""Stand-in tools for the tests of the command runner and the autostart entry: small
programs of the test suite (tests/tools), built beside each build of the program."""

import json
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
