"""consolew --attach PATH on one --headless console over board-sim, beside a
Python client: two attached terminals (a viewer, and one started with --take)
and the client see the same screen (each terminal rendered by pyte against the
client's text); the viewer's keys are refused on its status line and never
reach the board; take moves the keyboard (the client's take makes the --take
seat a viewer, Ctrl-] w on the viewer takes it from the client); Ctrl-] q
detaches and the console goes on; a console that goes away ends the seat with
status 1 and the reason; no console at the path: status 1."""
import os
import signal
import subprocess
import sys
import time

from frontend_support import Line, need, wait_for

pexpect = need("pexpect")
pyte = need("pyte")
CONSOLE, BOARDSIM, CLIENTS, DEMO_IMAGE = sys.argv[1:5]
sys.path.insert(0, CLIENTS)
from consolew_client import Console  # noqa: E402

ENV = dict(os.environ, TERM="xterm", LANG="C.UTF-8", LC_ALL="")


class Seat:
    """A consolew --attach in a pty of 80x26, its output rendered by pyte."""

    def __init__(self, sock, *extra):
        self.screen = pyte.Screen(80, 26)
        self.stream = pyte.ByteStream(self.screen)
        self.child = pexpect.spawn(CONSOLE, ["--attach", sock, *extra], dimensions=(26, 80), env=ENV)
        self.child.logfile_read = self
        self.raw = bytearray()

    def write(self, data):
        self.raw += data
        self.stream.feed(data)

    def flush(self):
        pass

    def rows(self):
        return self.screen.display

    def wait(self, predicate, what, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if predicate(self.rows()):
                return
            self.child.expect([pexpect.TIMEOUT, pexpect.EOF], timeout=0.1)
        raise AssertionError(f"never {what}:\n" + "\n".join(self.rows()) + f"\n{bytes(self.raw[-1500:])!r}")

    def status_has(self, text):
        self.wait(lambda rows: text in rows[25], f"'{text}' on the status line")

    def writer(self):
        self.wait(lambda rows: " view " not in rows[25] + " " and "Ctrl-] w" not in rows[25], "the writer")

    def ended(self):
        self.child.expect(pexpect.EOF, timeout=15)
        self.child.close()
        return self.child.exitstatus


def same_screen(c, seats):
    c.wait_stable(300, timeout=10)
    text = c.screen()["text"]
    for seat in seats:
        seat.wait(lambda rows: rows[:25] == text, "the client's screen")


def main():
    line = Line()
    console = None
    seats = []
    try:
        line.start_board(BOARDSIM)
        sock = line.path("ctl")
        console = subprocess.Popen([CONSOLE, "--headless", "--com1", line.host, "--image", DEMO_IMAGE,
                                    "--read-only", "--control", sock], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, text=True)
        wait_for(lambda: os.path.exists(sock) or console.poll() is not None, 10, "the control socket")
        c = Console(sock)
        c.wait_text("bytes free", timeout=30)
        viewer, writer = Seat(sock), Seat(sock, "--take")
        seats = [viewer, writer]
        writer.writer()
        viewer.status_has(" view")
        assert c.status()["clients"] == 3

        # The viewer's keys are refused where it types, and reach nobody.
        viewer.child.send("nope")
        viewer.status_has("keys are not sent")
        writer.child.send("hello")
        c.wait_text("hello", row=21, timeout=10)
        same_screen(c, seats)

        # The client takes: the --take seat becomes a viewer and is told so.
        c.take()
        writer.status_has(" view")
        writer.child.send("x")
        writer.status_has("keys are not sent")
        c.type("abc")
        # Ctrl-] w on the viewer takes the keyboard from the client.
        viewer.child.send("\x1dw")
        viewer.writer()
        wait_for(lambda: not c.status()["writer"], 5, "the client to lose the keyboard")
        viewer.child.send("zz")
        found = c.wait_text("helloabczz", row=21, timeout=10)
        assert "nope" not in "".join(found["text"]) and "helloabczzx" not in "".join(found["text"])
        same_screen(c, seats)

        # Ctrl-] q detaches; the console goes on and the keyboard is free again.
        viewer.child.send("\x1dq")
        assert viewer.ended() == 0
        status = c.status()
        assert status["connected"] and status["clients"] == 2 and status["keyboard"] == "nobody", status

        # The console goes: the seat says so and ends with 1.
        console.send_signal(signal.SIGTERM)
        assert console.wait(15) == 0, console.stderr.read()
        assert writer.ended() == 1
        assert b"has gone" in writer.raw, writer.raw[-300:]

        # No console at the path.
        r = subprocess.run([CONSOLE, "--attach", sock], stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, timeout=10, env=ENV)
        assert r.returncode == 1 and "--attach" in r.stderr, (r.returncode, r.stderr)
    finally:
        for seat in seats:
            if seat.child.isalive():
                seat.child.terminate(force=True)
        if console is not None and console.poll() is None:
            console.kill()
        line.close()
    print("--attach: two seats and a client on one console, roles, detach, a console that goes: OK")


if __name__ == "__main__":
    main()
