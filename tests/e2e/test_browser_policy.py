"""The loopback policy that the install writes for the browsers, seen working in a real headless
Chromium with the managed policy file of scripts/browser-policy.sh: a page on the production
origin, made "public" with the switches docs/browsers.md uses, prints through the bridge without
any permission granted; without the file the same call fails and nothing reaches the bridge.

The policy folder is the machine's own (/etc/chromium/policies/managed), shared with whatever else
runs Chromium here: the file exists only while the one browser that needs it starts and calls."""

import base64
import http.server
import json
import os
import shutil
import ssl
import subprocess
import threading

import pytest

import harness
from browser import chromium
from cups_queue import cups_queues  # noqa: F401  (fixture)

APP = "korba.app"  # the default build's production origin
POLICY_SCRIPT = harness.ROOT / "scripts" / "browser-policy.sh"
TICKET = "KORBA política\n".encode("utf-8")
# A JSON POST, so the preflight is part of what the policy must let through.
PRINT = """const done = arguments[arguments.length - 1];
fetch(arguments[0], {method: "POST", headers: {"Content-Type": "application/json"}, body: arguments[1]})
  .then(r => r.text().then(t => done([r.status, t])), e => done([0, String(e)]));"""


class Page(http.server.BaseHTTPRequestHandler):
    BODY = b"<!doctype html><title>KORBA</title><p>caja</p>"

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(self.BODY)))
        self.end_headers()
        self.wfile.write(self.BODY)

    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def production_page(tmp_path_factory):
    """https://korba.app/ as the browser will see it: a self-signed HTTPS server on a free loopback port."""
    if "native" not in harness.TARGETS or os.environ.get("KORBA_SANITIZED"):
        pytest.skip("a browser test of the POSIX build; nothing for a sanitizer to find")
    folder = tmp_path_factory.mktemp("production-page")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", folder / "key.pem",
                    "-out", folder / "cert.pem", "-subj", f"/CN={APP}", "-addext", f"subjectAltName=DNS:{APP}"],
                   check=True, capture_output=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(folder / "cert.pem", folder / "key.pem")
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield server.server_address[1]
    server.shutdown()


def print_from_production_page(page_port, bridge_port, profile):
    """Starts a browser, opens the page and sends one ticket to the bridge from it."""
    driver = chromium(profile, host_rules=[f"MAP {APP}:443 127.0.0.1:{page_port}"],
                      extra_flags=["--ignore-certificate-errors",
                                   f"--ip-address-space-overrides=127.0.0.1:{page_port}=public"])
    try:
        driver.get(f"https://{APP}/")
        assert driver.execute_script("return location.origin") == f"https://{APP}"
        body = '{"data_b64":"%s"}' % base64.b64encode(TICKET).decode()
        return driver.execute_async_script(PRINT, f"http://127.0.0.1:{bridge_port}/raw", body)
    finally:
        driver.quit()


def test_the_policy_file_lets_the_production_page_print_without_a_prompt(
        production_page, cups_queues, tmp_path):
    acme = cups_queues["ACME"]
    bridge = harness.start(harness.Target("native"), "--printer", "ACME")
    try:
        known = acme.captured_ids()
        assert print_from_production_page(production_page, bridge.port, tmp_path / "without") == [
            0, "TypeError: Failed to fetch"]
        assert acme.captured_ids() == known, "the blocked call reached the bridge"

        subprocess.run([POLICY_SCRIPT, "install"], check=True)
        try:
            reply = print_from_production_page(production_page, bridge.port, tmp_path / "with")
        finally:
            subprocess.run([POLICY_SCRIPT, "remove"], check=True)
    finally:
        bridge.stop()
    assert reply == [200, '{"ok":true,"printer":"ACME","bytes":%d}' % len(TICKET)]
    assert [job.data for job in acme.wait_for_jobs(known, 1)] == [TICKET]


@pytest.mark.parametrize("option, value", [
    (None, None),
    ("KORBA_APP_DOMAIN", 'korba.app", "*"], "URLAllowlist": ["*'),
    ("KORBA_HOSTING_PROJECT", "*/korba-pos"),
    ("KORBA_HOSTING_DOMAIN", "Pages.dev"),
], ids=["defaults", "a quote in the app domain", "a pattern in the project", "upper case"])
def test_the_policy_file_holds_domain_names_only(tmp_path, option, value):
    """In a throwaway copy of the tree, the script's folders under a throwaway root."""
    (tmp_path / "scripts").mkdir()
    shutil.copy(POLICY_SCRIPT, tmp_path / "scripts")
    shutil.copy(harness.ROOT / "CMakeLists.txt", tmp_path)
    if option:
        (tmp_path / "build/native").mkdir(parents=True)
        (tmp_path / "build/native/CMakeCache.txt").write_text(f"{option}:STRING={value}\n")
    root = tmp_path / "root"
    done = subprocess.run([tmp_path / "scripts/browser-policy.sh", "install"], capture_output=True, text=True,
                          env=dict(os.environ, KORBA_POLICY_ROOT=str(root)), timeout=30)
    files = [root / f"etc/{folder}/policies/managed/korba-vizoza.json" for folder in ("chromium", "opt/chrome")]
    if option:
        assert (done.returncode, done.stderr) == (1, f"FALLO: {option} no es un nombre de dominio: {value}\n")
        assert not any(f.exists() for f in files)
    else:
        assert done.returncode == 0, done.stderr
        for f in files:
            assert json.loads(f.read_text()) == {
                "LoopbackNetworkAllowedForUrls": [f"https://{APP}", f"[*.]{APP}", "[*.]korba-pos.pages.dev"]}
