"""--record FILE.cast and the control socket's "history" against the demo board:
the recording and the history replayed by a terminal emulator (pyte), and the
recording through `asciinema cat`, end on the screen the console had at exit
(--screen-at-exit); markers at connect; a record file on a full disk stops the
recording with one message while the console goes on."""
import json
import os
import shutil
import signal
import subprocess
import sys

from frontend_support import SKIP, Line, read_screen_dump, wait_for

pyte = __import__("frontend_support").need("pyte")
CONSOLE, BOARDSIM, CLIENTS = sys.argv[1], sys.argv[2], sys.argv[3]
sys.path.insert(0, CLIENTS)
from consolew_client import Console  # noqa: E402


def events(cast_text):
    lines = cast_text.splitlines()
    header = json.loads(lines[0])
    assert (header["version"], header["width"], header["height"]) == (2, 80, 25), header
    return header, [json.loads(l) for l in lines[1:]]


def render(output):
    screen = pyte.Screen(80, 25)
    pyte.Stream(screen).feed(output)
    return screen.display


def expected(dump):
    """The model's rows as text (code 0 as a space; the symbols of codes 1-31 as '?')."""
    def ch(code):
        return " " if code == 0 else "?" if code < 0x20 else bytes([code]).decode("cp437")
    return ["".join(ch(c) for c, _ in row) for row in dump]


def same(shown, want, what):
    for r, (got, exp) in enumerate(zip(shown, want)):
        for c, (g, e) in enumerate(zip(got, exp)):
            assert e == "?" or g == e, f"{what}: row {r} col {c} shows {g!r}, the model {e!r}\n" + \
                "\n".join(shown)


def run_console(line, *extra):
    sock = line.path("ctl")
    err = open(line.path("stderr"), "w+")
    proc = subprocess.Popen([CONSOLE, "--headless", "--com1", line.host, "--image", line.image,
                             "--control", sock, *extra], stderr=err)
    wait_for(lambda: os.path.exists(sock) or proc.poll() is not None, 10, "the control socket")
    return proc, Console(sock), err


def main():
    line = Line()
    line.image = sys.argv[4]
    try:
        line.start_board(BOARDSIM)
        cast, dump = line.path("boot.cast"), line.path("screen.bin")
        proc, c, _ = run_console(line, "--record", cast, "--screen-at-exit", dump)
        c.wait_text("bytes free")
        c.take()
        c.type("hello")
        c.wait_text("hello")
        history = c.request("history", seconds=600)
        bad = c.answer(c.send("history", seconds="ten"))
        assert not bad["ok"] and "seconds" in bad["error"], bad
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(20) == 0
        want = expected(read_screen_dump(dump))

        header, recorded = events(open(cast, encoding="utf-8").read())
        assert header["title"] == f"consolew COM1 {line.host}", header
        assert ["m", f"connect COM1 {line.host}"] in [e[1:] for e in recorded], recorded[:3]
        times = [e[0] for e in recorded]
        assert times == sorted(times), "event times go back"
        same(render("".join(e[2] for e in recorded if e[1] == "o")), want, "the recording")

        # The history: its first event draws the whole screen, and it ends where the model is
        # (the "hello" typed last came before the request).
        _, replayed = events(history["cast"])
        assert replayed[0][0] == 0 and replayed[0][1] == "o" and "\x1b[2J" in replayed[0][2]
        shown = render("".join(e[2] for e in replayed if e[1] == "o"))
        assert any("hello" in row for row in shown), shown
        same(shown, want, "the history")
        # A span shorter than the board's life starts with the whole screen as well.
        assert history["seconds"] <= 600

        # asciinema itself reads the file (it needs a terminal: script gives it one).
        if shutil.which("asciinema") and shutil.which("script"):
            out = subprocess.run(["script", "-qec", f"asciinema cat '{cast}'", "/dev/null"],
                                 capture_output=True, timeout=60)
            assert out.returncode == 0, out.stderr
            same(render(out.stdout.decode("utf-8", "replace").replace("\r\n", "\n")), want, "asciinema cat")

        # A full disk: one message, and the console still serves.
        line.sim.send_signal(signal.SIGTERM)
        line.sim.wait(10)
        line.start_board(BOARDSIM)
        proc, c, err = run_console(line, "--record", "/dev/full")
        c.wait_text("bytes free")
        assert proc.poll() is None
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(20) == 0
        err.seek(0)
        messages = [l for l in err.read().splitlines() if "recording" in l]
        assert len(messages) == 1 and "No space left on device" in messages[0], messages
        print("recording: cast == model, history == model, asciinema cat, markers, full disk")
    finally:
        line.close()


if __name__ == "__main__":
    main()
