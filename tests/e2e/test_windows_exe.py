"""korba-vizoza.exe as Windows shows it: the file's resources, its signature, and the console window."""

import os
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree

import pefile
import pytest

import harness
from cups_queue import cups_queues  # noqa: F401  (fixture)

ROOT = harness.ROOT


@pytest.fixture
def wine(request):
    if "wine" not in harness.TARGETS:
        pytest.skip("the Windows build is not tested")
    request.getfixturevalue("wine_prefix")
    return harness.Target("wine")


@pytest.fixture(scope="module")
def exe():
    if "wine" not in harness.TARGETS:
        pytest.skip("the Windows build is not tested")
    return pefile.PE(str(harness.WINDOWS_BIN))


def resource(pe, kind, number=None):
    """The data of the first resource of one kind (and number), by its directory entry."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for named in entry.directory.entries:
            if number is None or named.id == number:
                data = named.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    raise AssertionError(f"no resource of kind {kind} number {number}")


def test_version_resource(exe):
    [strings] = [info for info in exe.FileInfo[0] if info.Key == b"StringFileInfo"]
    [table] = strings.StringTable
    assert table.entries == {
        b"FileDescription": b"Vizoza de impresion local para KORBA",
        b"FileVersion": b"1.5.0.0",
        b"InternalName": b"korba-vizoza",
        b"LegalCopyright": b"Copyright (C) 2026 KORBA",
        b"OriginalFilename": b"korba-vizoza.exe",
        b"ProductName": b"KORBA Vizoza",
        b"ProductVersion": b"1.5.0",
    }
    fixed = exe.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == ((1 << 16) | 5, 0)
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == ((1 << 16) | 5, 0)


def test_manifest_runs_as_invoker_on_windows_7_to_11(exe):
    manifest = ElementTree.fromstring(resource(exe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1))
    levels = [e.get("level") for e in manifest.iter("{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")]
    assert levels == ["asInvoker"]
    assert [e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")] == [
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
    ]
    # A Windows 7 without the library-search update lacks these; imported, the program would not start there.
    imported = {i.name for entry in exe.DIRECTORY_ENTRY_IMPORT for i in entry.imports if i.name}
    assert imported & {b"SetDefaultDllDirectories", b"AddDllDirectory", b"RemoveDllDirectory"} == set()
    assert b"GetProcAddress" in imported


def test_icon_is_the_drawn_receipt(exe, tmp_path):
    drawn = tmp_path / "drawn.ico"
    subprocess.run(["/usr/bin/python3", ROOT / "src/resources/receipt_icon.py", drawn], check=True)
    ico = drawn.read_bytes()
    group = resource(exe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    count = int.from_bytes(group[4:6], "little")
    sizes = [group[6 + 14 * i] for i in range(count)]
    assert sizes == [16, 32, 48]
    for i in range(count):
        entry = group[6 + 14 * i: 6 + 14 * (i + 1)]
        length = int.from_bytes(entry[8:12], "little")
        number = int.from_bytes(entry[12:14], "little")
        offset = int.from_bytes(ico[6 + 16 * i + 12: 6 + 16 * i + 16], "little")
        assert resource(exe, pefile.RESOURCE_TYPE["RT_ICON"], number) == ico[offset: offset + length]


BANNER_RULE = "=" * 46


def test_console_window_shows_the_banner_and_a_taken_port(wine, cups_queues):
    port = harness.free_port()
    bridge = harness.start(wine, "--port", port, "--no-open", "--no-setup", port=port, console=True)
    bridge.wait_shown(" Arranque automatico con Windows: boton en el panel", BANNER_RULE)
    second = harness.run(wine, "--port", port, "--no-open", "--no-setup", console=True, timeout=120)
    bridge.stop()
    assert harness.console_lines(bridge.stdout) == [
        BANNER_RULE,
        " KORBA Vizoza v1.5.0 (build 1.5.0) - listo",
        f" Panel: http://127.0.0.1:{port}/",
        " Impresora: KORBA_DEFAULT",
        " (deja esta ventana abierta; cierrala para salir)",
        " Arranque automatico con Windows: boton en el panel",
        BANNER_RULE,
        "",
    ]
    shown = harness.console_lines(second.stdout)
    assert shown[0].startswith(f"ERROR: no puedo escuchar en 127.0.0.1:{port} (OS Error 10048 ")
    assert shown[0].endswith(")")
    assert shown[1:] == ["Puede que el vizoza ya este abierto en otra ventana.", "",
                         "Si no ves ninguna ventana abierta, prueba:",
                         "  1. Cierra cualquier 'korba-vizoza' en el Administrador de tareas",
                         "  2. O usa otro puerto:  korba-vizoza.exe --port 9231", ""]


def test_signing_with_a_throwaway_certificate(wine, tmp_path):
    password = "prueba-7f3a9c"
    key, cert, pkcs12 = tmp_path / "key.pem", tmp_path / "cert.pem", tmp_path / "cert.p12"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-subj", "/CN=KORBA prueba", "-days", "2", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pkcs12,
                    "-passout", f"pass:{password}"], check=True, capture_output=True)
    program = tmp_path / "korba-vizoza.exe"
    program.write_bytes(harness.WINDOWS_BIN.read_bytes())
    clean_env = {k: v for k, v in os.environ.items() if not k.startswith("KORBA_SIGN_")}

    def sign(**settings):
        return subprocess.run([ROOT / "scripts/sign.sh", program], env=dict(clean_env, **settings),
                              capture_output=True, text=True, timeout=60)

    def verify():
        return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", program],
                              capture_output=True, text=True, timeout=60)

    unsigned = sign()
    assert (unsigned.returncode, unsigned.stdout) == (0, f"sin firmar: {program} (KORBA_SIGN_PKCS12 no esta definido)\n")
    assert program.read_bytes() == harness.WINDOWS_BIN.read_bytes()
    assert verify().returncode != 0

    refused = sign(KORBA_SIGN_PKCS12=str(pkcs12), KORBA_SIGN_PASSWORD="otra")
    assert refused.returncode == 1 and refused.stderr.endswith(f"FALLO la firma de {program}\n")
    assert program.read_bytes() == harness.WINDOWS_BIN.read_bytes()

    signed = sign(KORBA_SIGN_PKCS12=str(pkcs12), KORBA_SIGN_PASSWORD=password)
    assert (signed.returncode, signed.stdout, signed.stderr) == (0, f"firmado: {program}\n", "")
    checked = verify()
    assert checked.returncode == 0, checked.stdout + checked.stderr
    lines = [line.strip() for line in checked.stdout.splitlines()]
    assert {"Subject: /CN=KORBA prueba", "Text description: KORBA Vizoza", "Signature verification: ok"} <= set(lines)
    assert password not in refused.stdout + refused.stderr + signed.stdout + signed.stderr

    still_runs = harness.run(wine, "--help", exe=program)
    assert still_runs.stdout.startswith(b"korba-vizoza 1.5.0 (build 1.5.0) - Vizoza de impresion local para KORBA\n")


# Stands for every command that scripts/release.sh runs: notes its name, its arguments and the
# password it sees, and makes the files the script expects.
RELEASE_STANDIN = """#!/bin/sh
echo "$(basename "$0") [${KORBA_SIGN_PASSWORD-}] $*" >>"$STANDIN_LOG"
while [ $# -gt 1 ]; do [ "$1" = -o ] && : >"$2"; shift; done
if [ "$(basename "$0")" = npm ]; then : >../dist/client.tgz; echo client.tgz; fi
if [ "$(basename "$0")" = package-deb.sh ]; then : >dist/korba-vizoza.deb; echo dist/korba-vizoza.deb; fi
"""


def test_release_hands_the_signing_password_to_the_signing_step_only(tmp_path):
    """In a throwaway copy of the tree whose scripts and tools are stand-ins."""
    password = "prueba-5c1e"
    tools = tmp_path / "tools"
    for folder in ("scripts", "client", "tools", "src/common", "build/release-windows"):
        (tmp_path / folder).mkdir(parents=True)
    shutil.copy(ROOT / "scripts/release.sh", tmp_path / "scripts")
    shutil.copy(ROOT / "src/common/constants.h", tmp_path / "src/common")
    standin = tools / "standin"
    standin.write_text(RELEASE_STANDIN)
    standin.chmod(0o755)
    for name in ("cmake", "strip", "x86_64-w64-mingw32-strip", "x86_64-w64-mingw32-objdump", "npm", "wixl"):
        (tools / name).symlink_to(standin)
    for name in ("deps.sh", "sign.sh", "package-deb.sh"):
        (tmp_path / "scripts" / name).symlink_to(standin)
    log = tmp_path / "log"
    done = subprocess.run([tmp_path / "scripts/release.sh"], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}", STANDIN_LOG=str(log),
                                   KORBA_SIGN_PKCS12="cert.p12", KORBA_SIGN_PASSWORD=password))
    assert done.returncode == 0, done.stderr
    calls = log.read_text().splitlines()
    assert {call.split()[0] for call in calls} == {"deps.sh", "cmake", "strip", "x86_64-w64-mingw32-strip",
                                                   "x86_64-w64-mingw32-objdump", "sign.sh", "npm", "wixl",
                                                   "package-deb.sh"}
    assert [call for call in calls if password in call] == [f"sign.sh [{password}] dist/korba-vizoza.exe",
                                                            f"sign.sh [{password}] dist/korba-vizoza-1.5.0.msi"]
