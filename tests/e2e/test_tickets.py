"""Tickets with ids through real CUPS queues of this run's own: one job per id whatever happens to
the bridge, and the state of each job as the scheduler reports it."""

import errno
import json
import os
import re
import shutil
import signal
import subprocess
import threading
from collections import Counter

import pytest

import harness
from cups_queue import cups_queues, own_queue as named_queue, wait_until  # noqa: F401  (fixture)
from harness import reply_bytes, cors
from test_printing import get, ok, own_queue, post  # noqa: F401  (fixture)

JSON = "application/json; charset=utf-8"
RECEIVED = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def native_only(target):
    if target.is_wine:
        pytest.skip("Wine's spooler shows neither the CUPS jobs nor their states")


def sent(port, id, data, printer, job, repeat):
    reply = post(port, f"/raw?id={id}", data)
    flag = b"true" if repeat else b"false"
    assert reply == ok(b'{"ok":true,"printer":"%s","bytes":%d,"id":"%s","job":%s,"repeat":%s}'
                       % (printer.encode(), len(data), id.encode(), str(job).encode(), flag))


def job_of(reply):
    return json.loads(harness.split_reply(reply)[2])["job"]


def ticket(port, id=None):
    status, _, body = harness.split_reply(get(port, f"/tickets?id={id}" if id else "/tickets"))
    assert status == 200
    found = json.loads(body)
    assert found.pop("ok") is True
    if id:
        assert RECEIVED.match(found.pop("received"))
    return found


def wait_state(port, id, state, timeout=30):
    wait_until(lambda: ticket(port, id)["state"] == state, timeout, f"{id} is not {state}: {ticket(port, id)}")
    return ticket(port, id)


def conflict(id):
    message = f'{{"ok":false,"error":"el ticket {id} ya se recibio con otro contenido"}}'.encode()
    return reply_bytes(409, "Conflict", JSON, message, cors())


def too_late(id):
    message = f'{{"ok":false,"error":"el ticket {id} ya no se puede cancelar"}}'.encode()
    return reply_bytes(409, "Conflict", JSON, message, cors())


def jobs_waiting(queue):
    out = subprocess.run(["lpstat", "-W", "not-completed", "-o", queue.name], capture_output=True, text=True).stdout
    return {int(line.split()[0].rsplit("-", 1)[1]) for line in out.splitlines() if line.strip()}


def record_error(message):
    text = json.dumps("no puedo guardar el registro de tickets: " + message, ensure_ascii=False).encode()
    return reply_bytes(500, "Internal Server Error", JSON, b'{"ok":false,"error":' + text + b"}", cors())


def record_folder(target, tmp_path):
    """The record's folder: %LOCALAPPDATA%\\KORBA\\tickets in the prefix under Wine, one of the test's own natively."""
    if target.is_wine:
        return harness.WINE_PREFIX / "drive_c" / "users" / os.environ.get("USER", "root") / "AppData" / "Local" / \
            "KORBA" / "tickets"
    return tmp_path / "estado" / "tickets"


def test_an_id_prints_once_across_repeats_and_restarts(start_bridge, target, own_queue, tmp_path):
    folder = record_folder(target, tmp_path)
    data_option = [] if target.is_wine else ["--data", str(folder)]
    bridge = start_bridge("--printer", own_queue.name, *data_option)
    known, last = own_queue.captured_ids(), own_queue.last_cups_job()
    id = f"e2e-{os.getpid()}-{target.name}:1"
    first = post(bridge.port, f"/raw?id={id}&expire=600", b"uno")
    job = job_of(first)
    sent(bridge.port, id, b"uno", own_queue.name, job, repeat=True)
    assert post(bridge.port, f"/raw?id={id}", b"otro") == conflict(id)
    # A JSON post of the same bytes is the same ticket; without an id the reply is as it always was.
    assert post(bridge.port, f"/raw?id={id}", b'{"data_b64":"dW5v"}', "application/json") == \
        ok(b'{"ok":true,"printer":"%s","bytes":3,"id":"%s","job":%d,"repeat":true}' % (own_queue.name.encode(), id.encode(), job))
    assert post(bridge.port, "/raw", b"sin id") == ok(b'{"ok":true,"printer":"%s","bytes":6}' % own_queue.name.encode())
    assert [j.data for j in own_queue.wait_for_jobs(known, 2)] == [b"uno", b"sin id"]
    if not target.is_wine:
        # The scheduler numbers the jobs of all its queues: another queue's may come in between.
        jobs = own_queue.cups_jobs_since(last)
        assert len(jobs) == 2 and jobs[0] == job
        assert folder.stat().st_mode & 0o777 == 0o700 and folder.parent.stat().st_mode & 0o777 == 0o700
    # Wine's spooler answers no question about a job (GetJobW fails with ERROR_INVALID_HANDLE), so
    # there the job's end is never seen.
    final = "unknown" if target.is_wine else "sent"
    done = wait_state(bridge.port, id, final)
    assert done == {"id": id, "printer": own_queue.name, "bytes": 3, "job": job, "state": final,
                    "reasons": done["reasons"], "error": None}
    listed = ticket(bridge.port)["tickets"]
    assert [(t["id"], t["bytes"]) for t in listed[:2]] == [(None, 6), (id, 3)]

    # A second bridge on the same folder leaves the record to the first, and takes it once the
    # first has ended.
    second = start_bridge("--printer", own_queue.name, *data_option)
    shown = f"C:\\users\\{os.environ.get('USER', 'root')}\\AppData\\Local\\KORBA\\tickets" if target.is_wine \
        else str(folder)
    assert post(second.port, f"/raw?id={id}", b"uno") == \
        record_error(f"otra copia del vizoza usa la carpeta de tickets {shown}")
    bridge.stop()
    sent(second.port, id, b"uno", own_queue.name, job, repeat=True)
    second.stop()
    assert (folder / "tickets.log").exists()
    assert b"uno" not in (folder / "tickets.log").read_bytes()
    bridge = start_bridge("--printer", own_queue.name, *data_option)
    sent(bridge.port, id, b"uno", own_queue.name, job, repeat=True)
    assert post(bridge.port, f"/raw?id={id}", b"otro") == conflict(id)
    assert ticket(bridge.port, id)["state"] == final
    assert len(own_queue.captured_ids() - known) == 2


def test_a_refused_ticket_prints_when_sent_again(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path))
    known = own_queue.captured_ids()
    subprocess.run(["cupsreject", own_queue.name], check=True)
    status, _, body = harness.split_reply(post(bridge.port, "/raw?id=r1", b"uno"))
    assert status == 500
    failed = ticket(bridge.port, "r1")
    assert (failed["state"], failed["job"], failed["reasons"]) == ("failed", None, [])
    assert failed["error"] == json.loads(body)["error"]
    subprocess.run(["cupsaccept", own_queue.name], check=True)
    reply = post(bridge.port, "/raw?id=r1", b"uno")
    assert json.loads(harness.split_reply(reply)[2])["repeat"] is False
    assert [j.data for j in own_queue.wait_for_jobs(known, 1)] == [b"uno"]


def test_a_record_that_cannot_be_written_prints_no_ticket_with_an_id(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    (tmp_path / "file").write_bytes(b"")
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path / "file" / "tickets"))
    known, last = own_queue.captured_ids(), own_queue.last_cups_job()
    message = b'"no puedo guardar el registro de tickets: Not a directory (os error 20)"'
    assert post(bridge.port, "/raw?id=w1", b"uno") == \
        reply_bytes(500, "Internal Server Error", JSON, b'{"ok":false,"error":' + message + b"}", cors())
    assert post(bridge.port, "/raw", b"dos") == ok(b'{"ok":true,"printer":"%s","bytes":3}' % own_queue.name.encode())
    assert [j.data for j in own_queue.wait_for_jobs(known, 1)] == [b"dos"]
    assert len(own_queue.cups_jobs_since(last)) == 1


def test_killed_after_the_reply_the_restarted_bridge_does_not_print_again(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path))
    last = own_queue.last_cups_job()
    job = job_of(post(bridge.port, "/raw?id=k1", b"uno"))
    os.kill(bridge.proc.pid, signal.SIGKILL)
    bridge.stop()
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path))
    sent(bridge.port, "k1", b"uno", own_queue.name, job, repeat=True)
    assert own_queue.cups_jobs_since(last) == [job]


def test_a_paused_queue_holds_expires_and_cancels(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path))
    known = own_queue.captured_ids()
    subprocess.run(["cupsdisable", own_queue.name], check=True)
    post(bridge.port, "/raw?id=waits", b"espera")
    post(bridge.port, "/raw?id=late&expire=2", b"tarde")
    cancelled = job_of(post(bridge.port, "/raw?id=gone", b"borrado"))
    # The queue's reasons come with the first look at the job.
    wait_until(lambda: "paused" in ticket(bridge.port, "waits")["reasons"], 5, "the pause is not shown")
    assert ticket(bridge.port, "waits")["state"] == "queued"
    subprocess.run(["cancel", f"{own_queue.name}-{cancelled}"], check=True)
    assert wait_state(bridge.port, "gone", "cancelled")["job"] == cancelled
    assert wait_state(bridge.port, "late", "expired", timeout=10)["reasons"] != []
    subprocess.run(["cupsenable", own_queue.name], check=True)
    assert [j.data for j in own_queue.wait_for_jobs(known, 1)] == [b"espera"]
    assert wait_state(bridge.port, "waits", "sent")["state"] == "sent"
    # Nothing else comes out once the queue runs again.
    assert all(ticket(bridge.port, id)["state"] == state for id, state in [("late", "expired"), ("gone", "cancelled")])
    assert len(own_queue.captured_ids() - known) == 1


def test_a_waiting_ticket_is_cancelled_never_prints_and_its_id_prints_on_no_other_printer(
        start_bridge, target, own_queue, tmp_path):
    folder = record_folder(target, tmp_path)
    data_option = [] if target.is_wine else ["--data", str(folder)]
    with named_queue(f"KORBA_BARRA_{os.getpid()}") as bar:
        bridge = start_bridge("--printer", own_queue.name, "--printer-for", f"barra={bar.name}", *data_option)
        port, id = bridge.port, f"e2e-{os.getpid()}-{target.name}-cancel"
        known, bar_known, last = own_queue.captured_ids(), bar.captured_ids(), own_queue.last_cups_job()
        subprocess.run(["cupsdisable", own_queue.name], check=True)
        job = job_of(post(port, f"/raw?id={id}", b"comanda"))
        # One id, one ticket: sent to another printer it is a conflict, and that printer prints nothing.
        assert post(port, f"/raw?id={id}&printer=barra", b"comanda") == conflict(id)
        # A ticket that was printed can no longer be cancelled.
        done = f"{id}-bar"
        bar_job = job_of(post(port, f"/raw?id={done}&printer=barra", b"cafe"))
        assert [j.data for j in bar.wait_for_jobs(bar_known, 1)] == [b"cafe"]
        if not target.is_wine:
            wait_state(port, done, "sent")
        assert post(port, f"/tickets/cancel?id={done}") == too_late(done)
        assert ticket(port, done)["job"] == bar_job
        cancel = post(port, f"/tickets/cancel?id={id}")
        if target.is_wine:
            # Wine's spooler tells nothing of a job, so no job is known to wait: it prints once enabled.
            assert cancel == too_late(id)
            subprocess.run(["cupsenable", own_queue.name], check=True)
            assert [j.data for j in own_queue.wait_for_jobs(known, 1)] == [b"comanda"]
            return
        assert cancel == get(port, f"/tickets?id={id}")
        assert (ticket(port, id)["state"], ticket(port, id)["job"]) == ("cancelled", job)
        assert post(port, f"/tickets/cancel?id={id}") == cancel
        assert job not in jobs_waiting(own_queue)
        sent(port, id, b"comanda", own_queue.name, job, repeat=True)
        # Once the queue runs again only the next ticket comes out.
        subprocess.run(["cupsenable", own_queue.name], check=True)
        assert post(port, "/raw", b"after") == ok(b'{"ok":true,"printer":"%s","bytes":5}' % own_queue.name.encode())
        assert [j.data for j in own_queue.wait_for_jobs(known, 1)] == [b"after"]
        assert own_queue.cups_jobs_since(last)[:1] == [job] and len(own_queue.cups_jobs_since(last)) == 2
        assert post(port, "/tickets/cancel?id=nunca") == reply_bytes(
            404, "Not Found", JSON, b'{"ok":false,"error":"no hay ningun ticket con id nunca"}', cors())
        assert post(port, "/tickets/cancel?id=a%20b") == reply_bytes(
            400, "Bad Request", JSON, b'{"ok":false,"error":"id de ticket invalido (1 a 64 letras, cifras o . _ ~ : -)"}',
            cors())


def test_twenty_parallel_posts_with_one_id_make_one_job(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    bridge = start_bridge("--printer", own_queue.name, "--data", str(tmp_path))
    last = own_queue.last_cups_job()
    replies = [None] * 20
    def send(i):
        replies[i] = post(bridge.port, "/raw?id=same", b"una vez")
    threads = [threading.Thread(target=send, args=(i,)) for i in range(20)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    bodies = [json.loads(harness.split_reply(reply)[2]) for reply in replies]
    assert sorted(body["repeat"] for body in bodies) == [False] + [True] * 19
    assert len({body["job"] for body in bodies}) == 1
    assert own_queue.cups_jobs_since(last) == [bodies[0]["job"]]


def test_a_record_deleted_under_the_bridge_is_made_again(start_bridge, target, own_queue, tmp_path):
    native_only(target)
    args = ("--printer", own_queue.name, "--data", str(tmp_path / "tickets"))
    bridge = start_bridge(*args)
    last = own_queue.last_cups_job()
    first = job_of(post(bridge.port, "/raw?id=d1", b"uno"))
    shutil.rmtree(tmp_path / "tickets")
    second = job_of(post(bridge.port, "/raw?id=d2", b"dos"))
    os.kill(bridge.proc.pid, signal.SIGKILL)
    bridge.stop()
    bridge = start_bridge(*args)
    sent(bridge.port, "d1", b"uno", own_queue.name, first, repeat=True)
    sent(bridge.port, "d2", b"dos", own_queue.name, second, repeat=True)
    assert own_queue.cups_jobs_since(last) == [first, second]


@pytest.fixture
def small_disk(tmp_path):
    """A 64 KiB file system of the test's own."""
    if os.geteuid() != 0:
        pytest.skip("mounting a file system takes root")
    folder = tmp_path / "disco"
    folder.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0700", "tmpfs", str(folder)]).returncode:
        pytest.skip("no tmpfs can be mounted here")
    yield folder
    subprocess.run(["umount", "-l", str(folder)], check=True)


def fill(folder):
    with open(folder / "relleno", "wb", buffering=0) as filler:
        try:
            while True:
                filler.write(b"x" * 500)
        except OSError as error:
            assert error.errno == errno.ENOSPC


def check_record(path):
    """Every line whole, with the fields of its kind, every ticket arriving once."""
    lines = path.read_bytes().split(b"\n")
    assert lines.pop() == b""
    fields = {b"T": 9, b"J": 4, b"S": 6}
    arrivals = [line.split(b"\t")[2] for line in lines if line.split(b"\t")[1] == b"T"]
    assert all(line.split(b"\t")[0] == b"1" and len(line.split(b"\t")) == fields[line.split(b"\t")[1]]
               for line in lines), lines
    assert len(arrivals) == len(set(arrivals))


def test_a_full_disk_never_prints_an_id_twice(start_bridge, target, own_queue, small_disk):
    native_only(target)
    args = ("--printer", own_queue.name, "--data", str(small_disk / "tickets"))
    bridge = start_bridge(*args)
    known = own_queue.captured_ids()
    full = record_error("No space left on device (os error 28)")
    printed, refused, plain = [], [], 0

    def send(id):
        nonlocal plain
        reply = post(bridge.port, f"/raw?id={id}", id.encode())
        if reply == full:
            refused.append(id)
        else:
            sent(bridge.port, id, id.encode(), own_queue.name, job_of(reply), repeat=True)
            printed.append(id)
        # Tickets without an id print whatever the disk does.
        assert post(bridge.port, "/raw", b"sin id") == ok(b'{"ok":true,"printer":"%s","bytes":6}' % own_queue.name.encode())
        plain += 1

    for i in range(3):
        send(f"antes-{i}")
    fill(small_disk)
    for i in range(40):
        send(f"lleno-{i}")
    # The follower's lines of the jobs that printed meanwhile meet the full disk too.
    own_queue.wait_for_jobs(known, len(printed) + plain)
    assert refused and printed[3:], "the disk never filled, or nothing fitted in the record's last page"
    (small_disk / "relleno").unlink()
    for i in range(3):
        send(f"despues-{i}")
    own_queue.wait_for_jobs(known, len(printed) + plain)
    os.kill(bridge.proc.pid, signal.SIGKILL)
    bridge.stop()

    check_record(small_disk / "tickets" / "tickets.log")
    bridge = start_bridge(*args)
    for id in printed:
        assert json.loads(harness.split_reply(post(bridge.port, f"/raw?id={id}", id.encode()))[2])["repeat"] is True
    for id in refused:
        assert json.loads(harness.split_reply(post(bridge.port, f"/raw?id={id}", id.encode()))[2])["repeat"] is False
    jobs = own_queue.wait_for_jobs(known, len(printed) + len(refused) + plain)
    assert Counter(job.data for job in jobs) == Counter([id.encode() for id in printed + refused] + [b"sin id"] * plain)
