"""consolew --terminal driven by pexpect in an 80x26 pty against the demo board:
the banner appears, typed keys come back as the demo's echo, the command key
works, Ctrl-] q exits 0 with the terminal put back, and the byte stream
rendered by a terminal emulator (pyte) equals the console's screen model."""
import os
import re
import signal
import subprocess
import sys
import time

from frontend_support import PALETTE, Line, need, read_screen_dump

pexpect = need("pexpect")
pyte = need("pyte")
CONSOLE, BOARDSIM = sys.argv[1], sys.argv[2]


class Renderer:
    """Everything the console writes, fed into pyte as it comes."""

    def __init__(self):
        self.screen = pyte.Screen(80, 26)
        self.stream = pyte.ByteStream(self.screen)
        self.raw = bytearray()

    def write(self, data):
        self.raw += data
        self.stream.feed(data)

    def flush(self):
        pass


def wait_screen(child, out, text, seconds=20):
    """Pumps the console's output until the rendered screen shows `text` (a change
    of a few cells is sent as just those cells, so the byte stream may not hold it)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if any(text in line for line in out.screen.display):
            return
        child.expect([pexpect.TIMEOUT, pexpect.EOF], timeout=0.1)
    raise AssertionError(f"the screen never showed {text!r}: " + "\n".join(out.screen.display))


def expected_char(code):
    if code == 0:
        return " "
    if 0x20 <= code <= 0x7E or code >= 0x80:
        return bytes([code]).decode("cp437")
    return None  # control-code symbols: not checked here


def main():
    line = Line()
    try:
        line.start_board(BOARDSIM)
        dump = line.path("screen.bin")
        env = dict(os.environ, COLORTERM="truecolor", TERM="xterm-256color", LANG="C.UTF-8", LC_ALL="")
        # After the console: its status, then the terminal's settings as it left them.
        script = f"'{CONSOLE}' --terminal --com1 '{line.host}' --screen-at-exit '{dump}'; " \
                 "echo STATUS=$?; stty -a"
        child = pexpect.spawn("/bin/sh", ["-c", script], env=env, dimensions=(26, 80), timeout=30)
        out = Renderer()
        child.logfile_read = out

        child.expect("Nerova board simulator - target application")
        child.expect("Boot number 1")  # typed inside a box drawn before it: still one run
        wait_screen(child, out, "Ctrl+Alt+Del reboots the board.")
        wait_screen(child, out, "> ")
        child.send("hello")
        child.expect("hello")
        child.send("\x1b[D")  # Left arrow: the demo echoes its code
        child.expect(re.escape("[4B00]"))
        child.send("\x1d?")  # the command key's help line
        child.expect("l redraw")
        child.send("\x1dd")  # Ctrl+Alt+Del through the command key: the demo reboots
        wait_screen(child, out, "Boot number 2")
        child.send("abc")
        child.expect("abc")
        # A line sent at once is more than the board's 15-key queue holds: the
        # keys wait for room and the board gets every one of them.
        sentence = " The quick brown fox jumps over the lazy dog 0123456789"
        child.send(sentence)
        wait_screen(child, out, "abc" + sentence)
        # The board is idle now: what the terminal shows is the screen as it stays.
        child.expect([pexpect.TIMEOUT], timeout=0.5)
        shown = [[out.screen.buffer[r][c] for c in range(80)] for r in range(25)]
        child.send("\x1dq")
        child.expect("STATUS=(\\d+)")
        status = int(child.match.group(1))
        child.expect(pexpect.EOF)
        stty = child.before.decode(errors="replace")
        assert status == 0, f"exit status {status}"
        assert b"\x1b[?1049h" in out.raw[:64], "no alternate screen at start"
        tail = out.raw[out.raw.rfind(b"\x1b[?1049l") - 32:]
        assert b"\x1b[?1049l" in out.raw and b"\x1b[?25h" in tail, "terminal not restored"
        assert re.search(r"(?<!-)icanon", stty) and re.search(r"(?<![-\w])echo\b", stty), \
            f"termios not restored: {stty}"

        # What pyte showed before the quit equals the model.
        model = read_screen_dump(dump)
        wrong = []
        for r in range(25):
            for c in range(80):
                ch, attr = model[r][c]
                cell = shown[r][c]
                want = expected_char(ch)
                if want is not None and cell.data != want:
                    wrong.append(f"({c},{r}) char {cell.data!r} want {want!r}")
                if cell.fg != f"{PALETTE[attr & 15]:06x}" or cell.bg != f"{PALETTE[attr >> 4]:06x}":
                    wrong.append(f"({c},{r}) colours {cell.fg}/{cell.bg} want attr {attr:02x}")
        assert not wrong, f"{len(wrong)} cells differ: " + "; ".join(wrong[:10])

        # SIGTERM ends it with status 0 and the terminal put back, too.
        child = pexpect.spawn(CONSOLE, ["--terminal", "--com1", line.host], env=env, dimensions=(26, 80),
                              timeout=30)
        out = Renderer()
        child.logfile_read = out
        child.expect("connected")  # the status line (the board, past its boot, draws nothing new)
        child.kill(signal.SIGTERM)
        child.expect(pexpect.EOF)
        child.close()
        assert child.exitstatus == 0, f"status {child.exitstatus} after SIGTERM"
        assert out.raw.endswith(b"\x1b[?1049l"), out.raw[-40:]

        # A trace and a log that cannot be written are told on the status line,
        # not in the middle of the picture; standard error gets them at exit.
        child = pexpect.spawn(CONSOLE, ["--terminal", "--com1", line.host, "--trace", "/dev/full",
                                        "--log", "/dev/full"], env=env, dimensions=(26, 80), timeout=30)
        out = Renderer()
        child.logfile_read = out
        wait_screen(child, out, "cannot be written")
        assert "cannot be written" in out.screen.display[25], out.screen.display[25]
        child.send("\x1dq")
        child.expect(pexpect.EOF)
        restored = out.raw.rfind(b"\x1b[?1049l")
        assert b"consolew:" not in out.raw[:restored], "a line on standard error inside the picture"
        tail = bytes(out.raw[restored:])
        assert b"consolew: the trace cannot be written (/dev/full: No space left on device); tracing stops" \
            in tail, tail
        assert b"consolew: the log cannot be written (No space left on device); logging stops" in tail, tail

        # The Linux console in a locale that is not UTF-8: not one byte beyond
        # ASCII, the boxes through the DEC line-drawing set, bright backgrounds
        # through the blink bit (the demo's title bar is black on light grey,
        # its desktop light grey on blue: nothing bright but the yellow text).
        linux = dict(env, TERM="linux", LANG="C", COLORTERM="")
        child = pexpect.spawn(CONSOLE, ["--terminal", "--com1", line.host], env=linux, dimensions=(26, 80),
                              timeout=30)
        out = Renderer()
        out.stream.use_utf8 = False  # pyte takes the character sets only so
        child.logfile_read = out
        child.send("\x1dd")  # the demo reboots and draws its boxes again
        wait_screen(child, out, "Boot number")
        wait_screen(child, out, "Ctrl+Alt+Del reboots the board.")
        child.send("\x1dq")
        child.expect(pexpect.EOF)
        assert max(out.raw) < 0x80, "a byte beyond ASCII in a locale without UTF-8"
        assert b"\x1b(0" in out.raw and out.raw.rfind(b"\x1b(B") > out.raw.rfind(b"\x1b(0"), \
            "boxes not drawn with the line-drawing set, or the set left on"
        assert b";93;" not in out.raw and b";1;33;" in out.raw, "yellow not as the console takes it"
        box = out.screen.display[2]
        assert box.startswith(" \u250c\u2500") and "\u2510" in box, box

        # An image that cannot be opened ends the start, before the terminal is taken.
        child = pexpect.spawn(CONSOLE, ["--terminal", "--com1", line.host, "--image", "/nonexistent.img"],
                              env=env, dimensions=(26, 80), timeout=30)
        child.expect(pexpect.EOF)
        child.close()
        assert child.exitstatus == 1, child.exitstatus
        assert b"--image /nonexistent.img: No such file or directory" in child.before, child.before

        # A terminal that cannot show the screen is refused with the reason.
        child = pexpect.spawn(CONSOLE, ["--terminal", "--com1", line.host], env=dict(env, TERM="dumb"),
                              dimensions=(26, 80), timeout=30)
        child.expect(pexpect.EOF)
        child.close()
        assert child.exitstatus == 2, child.exitstatus
        assert b"this terminal cannot show the board's screen (TERM=dumb" in child.before, child.before

        # Without a terminal it says so and exits 2.
        result = subprocess.run([CONSOLE, "--terminal", "--com1", line.host], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=30)
        assert result.returncode == 2 and "needs a terminal" in result.stderr, result
        print("terminal front-end: banner, echo, command key, exit and restore, pyte == model, "
              "SIGTERM, no terminal: OK")
    finally:
        line.close()


if __name__ == "__main__":
    main()
