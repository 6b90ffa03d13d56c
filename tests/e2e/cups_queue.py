"""A real CUPS scheduler with capture queues for the printing tests.

The queues ACME and KORBA_DEFAULT (the scheduler's default destination) use the korba-capture
backend (scripts/cups/korba-capture), which keeps every job as job-N.title and job-N.data
in the queue's own folder, so a test reads exactly the title and bytes that were printed.
CUPS is installed with apt-get when missing and its scheduler started when it is not running."""

import os
import shutil
import subprocess
import time
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

import pytest

BACKEND_SOURCE = Path(__file__).resolve().parents[2] / "scripts" / "cups" / "korba-capture"
BACKEND = Path("/usr/lib/cups/backend/korba-capture")
CAPTURE_ROOT = Path(os.environ.get("KORBA_CUPS_CAPTURE", "/tmp/korba-cups-capture"))
QUEUES = ("ACME", "KORBA_DEFAULT")
DEFAULT_QUEUE = "KORBA_DEFAULT"
CUPS_PACKAGES = ("cups", "cups-client", "cups-bsd")


def run(*args, check=True):
    return subprocess.run(list(args), check=check, capture_output=True, text=True, timeout=120)


def scheduler_running():
    return shutil.which("lpstat") and run("lpstat", "-r", check=False).stdout.strip() == "scheduler is running"


def install_cups():
    if shutil.which("cupsd") and shutil.which("lpadmin"):
        return
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], env=env, check=True, capture_output=True)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *CUPS_PACKAGES], env=env,
                   check=True, capture_output=True)


def install_backend():
    # CUPS runs a backend as root only when nobody else may run it (mode 0700).
    if not BACKEND.exists() or BACKEND.read_bytes() != BACKEND_SOURCE.read_bytes():
        shutil.copyfile(BACKEND_SOURCE, BACKEND)
    BACKEND.chmod(0o700)


class Scheduler:
    """cupsd, started here (in the foreground of its own session, so its id is known) unless
    one already runs; only a scheduler started here is ever stopped by a test."""

    def __init__(self):
        self.proc = None

    @property
    def owned(self):
        return self.proc is not None

    def ensure_running(self):
        if scheduler_running():
            return
        self.proc = subprocess.Popen(["cupsd", "-f"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        wait_until(scheduler_running, 30, "the CUPS scheduler does not answer")

    def stop(self):
        assert self.owned, "only a scheduler started by the tests is stopped"
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc = None
        wait_until(lambda: not scheduler_running(), 30, "the CUPS scheduler does not stop")


def wait_until(condition, timeout, message):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError(message)
        time.sleep(0.1)


@dataclass
class Job:
    id: int
    title: str
    data: bytes


class CaptureQueue:
    def __init__(self, name):
        self.name = name
        self.folder = CAPTURE_ROOT / name

    def create(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        # No PPD: a raw queue, which hands every job to the backend untouched.
        run("lpadmin", "-p", self.name, "-E", "-v", f"korba-capture:{self.folder}")

    def remove(self):
        run("lpadmin", "-x", self.name, check=False)
        shutil.rmtree(self.folder, ignore_errors=True)

    def captured_ids(self):
        """The jobs in the folder, as (job number, capture time) pairs to hand to wait_for_jobs."""
        return {tuple(int(n) for n in p.name[4:-5].split("-")) for p in self.folder.glob("job-*.data")}

    def cups_job_ids(self):
        """The jobs the scheduler remembers for this queue, cancelled and completed ones too
        (it forgets the oldest ones in time)."""
        out = run("lpstat", "-W", "all", "-o", self.name, check=False).stdout
        return {int(line.split()[0].rsplit("-", 1)[1]) for line in out.splitlines() if line.strip()}

    def last_cups_job(self):
        return max(self.cups_job_ids(), default=0)

    def cups_jobs_since(self, last):
        """The jobs created for this queue after the job numbered `last`, whatever became of them."""
        return sorted(i for i in self.cups_job_ids() if i > last)

    def wait_for_jobs(self, known, count, timeout=30):
        """Waits until `count` jobs not in `known` (from captured_ids) have reached the backend;
        returns them in the order the scheduler numbered them."""
        def new_jobs():
            return sorted(self.captured_ids() - set(known))
        wait_until(lambda: len(new_jobs()) >= count, timeout, f"{self.name}: fewer than {count} new jobs arrived")
        return [Job(number, (self.folder / f"job-{number}-{stamp}.title").read_text(),
                    (self.folder / f"job-{number}-{stamp}.data").read_bytes())
                for number, stamp in new_jobs()]


@contextmanager
def own_queue(name):
    """A capture queue of the caller's own, so that jobs of tests running beside it are not counted;
    removed afterwards."""
    queue = CaptureQueue(name)
    queue.create()
    try:
        yield queue
    finally:
        run("lpadmin", "-x", name, check=False)
        shutil.rmtree(queue.folder, ignore_errors=True)


@contextmanager
def device_queue(name, uri):
    """A raw queue of the caller's own that sends its jobs to `uri` (for example a socket:// printer
    of the test's own); removed afterwards."""
    run("lpadmin", "-p", name, "-E", "-v", uri)
    try:
        yield name
    finally:
        run("lpadmin", "-x", name, check=False)


class CupsQueues:
    def __init__(self, scheduler):
        self.scheduler = scheduler
        self.queues = {name: CaptureQueue(name) for name in QUEUES}

    def __getitem__(self, name):
        return self.queues[name]

    def destinations(self):
        """The destination names in the scheduler's own order."""
        return run("lpstat", "-e").stdout.split()


def prepare():
    install_cups()
    install_backend()
    scheduler = Scheduler()
    scheduler.ensure_running()
    queues = CupsQueues(scheduler)
    for queue in queues.queues.values():
        queue.create()
    run("lpadmin", "-d", DEFAULT_QUEUE)
    return queues


@pytest.fixture(scope="session")
def cups_queues():
    queues = prepare()
    yield queues
    # A scheduler the tests started ends with them, like everything else they start.
    if queues.scheduler.owned:
        queues.scheduler.stop()
