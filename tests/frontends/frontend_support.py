"""Shared pieces of the front-end tests: a linked pair of pseudo-terminals for
the simulated board and the console, the demo board on one end, and the
console's screen model as written at exit."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77  # CTest's skip status for these tests

PALETTE = [0x000000, 0x00007F, 0x007F00, 0x007F7F, 0x7F0000, 0x7F007F, 0x7F7F00, 0xBFBFBF,
           0x7F7F7F, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF]


def need(module):
    try:
        return __import__(module)
    except ImportError:
        print(f"SKIP: the Python module {module} is missing (make deps installs python3-{module})")
        sys.exit(SKIP)


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise AssertionError(f"timed out waiting for {what}")


class Line:
    """socat joins two ptys: the board opens one end, the console the other."""

    def __init__(self):
        if shutil.which("socat") is None:
            print("SKIP: socat is missing (make deps installs it)")
            sys.exit(SKIP)
        self.dir = tempfile.mkdtemp(prefix="consolew-fe-")
        self.board = os.path.join(self.dir, "board")
        self.host = os.path.join(self.dir, "host")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.board}", f"pty,raw,echo=0,link={self.host}"],
            stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(self.board) and os.path.exists(self.host), 10, "socat's ptys")
        self.sim = None

    def start_board(self, boardsim, *extra):
        self.log = open(os.path.join(self.dir, "board.log"), "w")
        self.sim = subprocess.Popen([boardsim, "--device", self.board, "--unpaced", *extra],
                                    stdout=self.log, stderr=self.log)

    def path(self, name):
        return os.path.join(self.dir, name)

    def close(self):
        for p in (self.sim, self.socat):
            if p is not None and p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def read_screen_dump(path):
    """The console's screen model at exit: rows 0-24 of (character, attribute)."""
    data = open(path, "rb").read()
    assert len(data) >= 4000, f"screen dump of {len(data)} bytes"
    return [[(data[(r * 80 + c) * 2], data[(r * 80 + c) * 2 + 1]) for c in range(80)] for r in range(25)]
