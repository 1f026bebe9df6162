"""consolew --control PATH through the real socket, with the Python client,
against the simulated board: the commands, the writer role and its takeover,
a late joiner's first screen event against --screen-at-exit, the key names
against the codes the board reads, bad input, slow clients, and the socket
file itself (mode, a dead console's socket, a live one, a missing folder)."""
import base64
import json
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time

from frontend_support import SKIP, Line, read_screen_dump, wait_for

CONSOLE, BOARDSIM, CLIENTS, DEMO_IMAGE = sys.argv[1:5]
sys.path.insert(0, CLIENTS)
from consolew_client import Console, ConsoleError  # noqa: E402


STARTED = []  # killed at the end whatever happened (they hold CTest's output open)
# A board that waits 5 s for the console's acknowledgement: on a loaded machine
# (or under the sanitizers) its resends would show characters twice and lose keys.
PATIENT = ("--ack-timeout", "5000")


def start_console(line, *extra):
    sock = line.path("ctl")
    proc = subprocess.Popen([CONSOLE, "--headless", "--com1", line.host, "--control", sock, *extra],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    STARTED.append(proc)
    wait_for(lambda: answers(sock) or proc.poll() is not None, 10, "the control socket")
    assert proc.poll() is None, proc.stderr.read()
    return proc, sock


def answers(path):
    """Whether a console listens at `path` (a dead one's socket file refuses)."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(path)
        return True
    except OSError:
        return False
    finally:
        s.close()


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(15) == 0, f"exit status {proc.returncode}: {proc.stderr.read()}"


def raw(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    return s, s.makefile("rwb")


def ask(f, line):
    f.write(line if isinstance(line, bytes) else line.encode())
    f.flush()
    while True:
        answer = json.loads(f.readline())
        if "ok" in answer:
            return answer


def cells_of(answer):
    return base64.b64decode(answer["cells"])


def check_commands(sock, line):
    c = Console(sock)
    found = c.wait_text("bytes free", timeout=30)
    text = found["text"]
    assert len(text) == 25 and all(len(r) == 80 for r in text), [len(r) for r in text]
    assert text[found["row"]][found["col"]:].startswith("bytes free"), found
    cells = cells_of(found)
    assert len(cells) == 4000
    # The text is the cells through CP437: the box corner 0xC9 is U+2554.
    corner = text[2].index("\u2554")
    assert cells[(2 * 80 + corner) * 2] == 0xC9, cells[(2 * 80 + corner) * 2]
    attr = cells[(found["row"] * 80 + found["col"]) * 2 + 1]

    # row, col and attr narrow the search; a failed wait shows the screen.
    assert c.wait_text("bytes free", row=found["row"], col=found["col"], attr=attr, timeout=5)["row"] == found["row"]
    for where in ({"row": found["row"] - 1}, {"col": found["col"] + 1}, {"attr": attr ^ 0x01}):
        try:
            c.wait_text("bytes free", timeout=0.2, **where)
            raise AssertionError(f"found with {where}")
        except ConsoleError as e:
            assert e.answer["error"] == "timeout" and "bytes free" in str(e), str(e)[:200]
    m = c.wait_regex(r"\d+ entries, (\d+) bytes", timeout=5)
    assert m["row"] == found["row"] and text[m["row"]][m["col"]:].startswith("4 entries"), m

    # Viewers' keys reach nobody; the writer's go in and come back as the board's echo.
    for refused in (lambda: c.type("viewer"), lambda: c.key("KeyQ"), lambda: c.code(0x1071),
                    lambda: c.keyevent("KeyQ", True), lambda: c.refresh(), lambda: c.disconnect()):
        try:
            refused()
            raise AssertionError("a viewer's command went through")
        except ConsoleError as e:
            assert e.answer["error"] == "not the writer", e.answer
    c.take()
    # Two requests in flight: the wait is answered after the screen it was sent before.
    wait_id = c.send("wait", text="zebra", row=21, timeout=20)
    screen_id = c.send("screen")
    first = c.read()
    assert first["id"] == screen_id and "zebra" not in "".join(first["text"]), first.get("id")
    c.type("zebra")
    done = c.answer(wait_id)
    assert done["ok"] and done["row"] == 21 and done["col"] == 2, done
    assert "viewer" not in "".join(done["text"]), "a viewer's keys reached the board"
    c.key("F1")
    c.code(0x4B00)
    c.wait_text("zebra[3B00][4B00]", row=21, timeout=5)
    # A text longer than the board's 16-key queue loses nothing.
    long_text = "0123456789" * 6
    c.key("Enter")
    c.type(long_text)
    c.wait_text(long_text, row=22, timeout=20)

    # A stable screen: answered once nothing changed for the time asked,
    # counted from the echo of a key typed before it.
    t0 = time.monotonic()
    c.type("s")
    st = c.wait_stable(400, timeout=10)
    assert time.monotonic() - t0 >= 0.4 and long_text + "s" in "".join(st["text"]), time.monotonic() - t0

    # status, refresh (the board uploads its screen: 8 blocks), floppy.
    s = c.status()
    assert s["connected"] and s["writer"] and s["keyboard"] == "client" and s["clients"] == 1, s
    assert s["floppy"]["image"].endswith("demo.img") and s["port"] == "COM1" and s["device"] == line.host, s
    blocks = s["stats"]["blocksReceived"]
    c.refresh()
    wait_for(lambda: c.status()["stats"]["blocksReceived"] >= blocks + 8, 10, "the board's upload")
    c.floppy(line.path("missing.img"))
    c.wait_text("Still serving", timeout=10)  # after "Can not open image file ..."
    assert c.status()["floppy"]["image"].endswith("demo.img"), "the old image stays in service"
    c.close()


def check_roles(sock, ro_sock):
    a, b, v = Console(sock), Console(sock), Console(ro_sock)
    b.subscribe()
    a.take()
    assert b.status()["keyboard"] == "client" and not b.status()["writer"]
    b.take()  # the writer changes: A is told (after the event of its own take)
    assert a.next_event("role") == {"event": "role", "writer": True}
    assert a.next_event("role") == {"event": "role", "writer": False}
    assert b.next_event("role") == {"event": "role", "writer": True}
    try:
        a.type("x")
        raise AssertionError("the old writer typed")
    except ConsoleError as e:
        assert e.answer["error"] == "not the writer"
    try:
        v.take()
        raise AssertionError("a read-only client took the keyboard")
    except ConsoleError as e:
        assert e.answer["error"] == "read-only connection"
    assert not v.status()["mayTake"] and v.status()["clients"] == 3
    b.release()  # --headless: nobody holds it now
    assert a.status()["keyboard"] == "nobody"
    a.take()
    a.close()  # the writer vanishes: the keyboard is nobody's again
    wait_for(lambda: b.status()["keyboard"] == "nobody", 5, "the keyboard to be let go")
    b.close()
    v.close()


def check_bad_input(sock):
    s, f = raw(sock)
    before = ask(f, '{"cmd":"screen"}\n')
    table = [
        (b'{"cmd":"screen"\n', "malformed JSON"),
        (b'[1,2]\n', "not a JSON object"),
        (b'{"id":7}\n', "no cmd"),
        (b'{"cmd":"reboot-everything","id":1}\n', "unknown command"),
        (b'{"cmd":"wait","text":5}\n', "text must be a non-empty string"),
        (b'{"cmd":"wait","text":"x","row":25}\n', "row must be 0-24"),
        (b'{"cmd":"wait","text":"x","timeout":1e12}\n', "timeout must be 0-86400 seconds"),
        (b'{"cmd":"wait","regex":"(unclosed"}\n', "bad regex"),
        (b'{"cmd":"wait"}\n', "wait needs one of text, regex, stable"),
        (b'{"cmd":"code","code":65536}\n', "code must be an integer 0-65535"),
        (b'{"cmd":"key","key":["F1"]}\n', "key must be a string"),
        (b'{"cmd":"keyevent","code":"ShiftLeft","down":"yes"}\n', "down must be true or false"),
        (b'{"cmd":"subscribe","scroll":1}\n', "scroll must be true or false"),
        (b'{"cmd":"type","text":"\xff\xfe"}\n', None),  # not UTF-8: some error, nothing typed
    ]
    for line, error in table:
        answer = ask(f, line)
        assert answer["ok"] is False and (error is None or answer["error"] == error), (line, answer)
    assert ask(f, '{"cmd":"wait","text":"x","id":"q1","timeout":0}\n')["id"] == "q1"
    # A regex that backtracks for long on the row of digits typed before: given up
    # (at once, or at its timeout when this machine is fast), and the console answers on.
    t0 = time.monotonic()
    slow = ask(f, '{"cmd":"wait","regex":"(\\\\d|\\\\d\\\\d)+$","timeout":0.2}\n')
    assert slow["ok"] is False and slow["error"] in ("regex too slow", "timeout"), slow.get("error")
    assert ask(f, '{"cmd":"status"}\n')["ok"] and time.monotonic() - t0 < 2, time.monotonic() - t0
    # Writer-only errors once it holds the keyboard: the names the board has no key for.
    assert ask(f, '{"cmd":"take"}\n')["ok"]
    for line, error in ((b'{"cmd":"key","key":"Hyper+KeyA"}\n', "unknown modifier"),
                        ("{\"cmd\":\"key\",\"key\":\"KeyÄ\"}\n".encode(), "unknown key"),
                        (b'{"cmd":"keyevent","code":"Fn","down":true}\n', "unknown key")):
        assert ask(f, line) == {"ok": False, "error": error}, line
    assert ask(f, '{"cmd":"release"}\n')["ok"]
    after = ask(f, '{"cmd":"screen"}\n')
    assert after["cells"] == before["cells"], "bad input changed the screen"
    # A line over 64 KiB: an error, and that connection ends.
    f.write(b'{"cmd":"type","text":"' + b"a" * (70 * 1024))
    f.flush()
    assert json.loads(f.readline()) == {"ok": False, "error": "line too long"}
    assert f.readline() == b"", "the connection stayed open"
    s.close()


def check_slow_clients(sock):
    c = Console(sock)
    # One that asks and never reads: past 1 MiB unread it is closed.
    s, f = raw(sock)
    s.setblocking(False)
    request = b'{"cmd":"screen"}\n' * 50
    for _ in range(20):  # 1000 screens of about 10 KB
        try:
            s.sendall(request)
        except (BlockingIOError, BrokenPipeError, ConnectionResetError):
            break
    wait_for(lambda: c.status()["clients"] == 1, 10, "the reader of nothing to be closed")
    s.close()
    # One that subscribes and never reads while the board scrolls: it stays
    # bounded, and the others are answered as before.
    lazy = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    lazy.connect(sock)
    lazy.sendall(b'{"cmd":"subscribe"}\n')
    # A wait whose client vanishes costs nothing.
    gone = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    gone.connect(sock)
    gone.sendall(b'{"cmd":"wait","text":"never shown","timeout":60}\n')
    gone.close()
    # One that sends its requests and shuts its side (as socat at the end of its
    # input) still gets the answers it is owed, then the end of the connection.
    half = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    half.connect(sock)
    half.sendall(b'{"cmd":"wait","text":"line 3","id":"h"}\n')
    half.shutdown(socket.SHUT_WR)
    c.take()
    for i in range(30):
        c.type(f"line {i}\r")
    c.wait_text("line 29", timeout=30)
    hf = half.makefile("rb")
    assert json.loads(hf.readline())["id"] == "h" and hf.readline() == b"", "no answer after the half close"
    half.close()
    st = c.status()
    assert st["clients"] == 2, st  # the lazy subscriber is still there: its events were merged
    lazy.close()
    c.close()


def check_late_joiner(proc, sock, dump):
    c = Console(sock)
    c.take()
    c.type("late joiner")
    c.wait_text("late joiner", timeout=10)
    c.release()
    c.wait_stable(500, timeout=10)
    late = Console(sock)
    late.subscribe()
    first = late.next_event("screen")
    assert first["full"] and [r["row"] for r in first["rows"]] == list(range(25)), first.keys()
    cells = b"".join(base64.b64decode(r["cells"]) for r in first["rows"])
    c.close()
    late.close()
    stop(proc)
    model = read_screen_dump(dump)
    assert cells == bytes(b for row in model for cell in row for b in cell), "first event differs from the model"


def check_socket_file(line):
    # A live console's socket is refused, with the reason.
    proc, sock = start_console(line)
    assert stat.S_IMODE(os.stat(sock).st_mode) == 0o600
    second = subprocess.run([CONSOLE, "--headless", "--com1", line.host, "--control", sock],
                            stderr=subprocess.PIPE, text=True, timeout=15)
    assert second.returncode == 1 and "another console listens there" in second.stderr, second.stderr
    # A dead console's socket file is replaced.
    proc.send_signal(signal.SIGKILL)
    proc.wait(10)
    assert os.path.exists(sock)
    proc, sock = start_console(line, "--control-mode", "0660")
    assert stat.S_IMODE(os.stat(sock).st_mode) == 0o660
    stop(proc)
    assert not os.path.exists(sock), "the socket file stayed"
    missing = subprocess.run([CONSOLE, "--headless", "--com1", line.host, "--control",
                              line.path("no-such-folder/ctl")], stderr=subprocess.PIPE, text=True, timeout=15)
    assert missing.returncode == 1 and "its folder does not exist" in missing.stderr, missing.stderr


# Key names and what the board reads for them (the demo board's key script).
KEYS = [
    ("key", "KeyA", "1E61"), ("key", "Shift+KeyA", "1E41"), ("key", "Ctrl+KeyC", "2E03"),
    ("key", "F1", "3B00"), ("key", "Shift+F1", "5400"), ("key", "Alt+F1", "6800"), ("key", "F12", "8600"),
    ("key", "Digit1", "0231"), ("key", "Shift+Digit1", "0221"), ("key", "ArrowLeft", "4B00"),
    ("key", "Ctrl+ArrowLeft", "4B00"), ("key", "Enter", "1C0D"), ("key", "NumpadEnter", "1C0D"),
    ("key", "Escape", "011B"), ("key", "Backspace", "0E08"), ("key", "Tab", "0F09"), ("key", "Space", "3920"),
    ("key", "Minus", "0C2D"), ("key", "Delete", "5300"), ("key", "Numpad7", "4700"),
    ("keyevent", ("NumLock", True), None), ("keyevent", ("NumLock", False), None),
    ("key", "Numpad7", "4737"), ("key", "NumpadDecimal", "532E"),
    ("keyevent", ("ShiftLeft", True), None), ("key", "KeyB", "3042"), ("keyevent", ("ShiftLeft", False), None),
    ("key", "KeyB", "3062"), ("code", 0x1234, "1234"), ("type", "Hi!\n", ["2348", "1769", "0221", "1C0D"]),
    ("key", "Ctrl+Alt+Delete", "5300"),
]


def check_key_names():
    expected = []
    for kind, _, codes in KEYS:
        if codes is not None:
            expected += codes if isinstance(codes, list) else [codes]
    line = Line()
    try:
        line.start_board(BOARDSIM, "--script", "keys", str(len(expected)), "--timeout", "60", *PATIENT)
        proc, sock = start_console(line)
        c = Console(sock)
        c.take()
        wait_for(lambda: c.status()["connected"] and c.status()["stats"]["requests"] > 0, 20, "the board")
        for kind, arg, _ in KEYS:
            if kind == "keyevent":
                c.keyevent(*arg)
            else:
                getattr(c, kind)(arg)
        line.sim.wait(30)
        result = json.loads(open(line.path("board.log")).read().strip().splitlines()[-1])
        assert result["codes"] == expected, (result["codes"], expected)
        c.close()
        stop(proc)
    finally:
        line.close()


def main():
    if not os.path.exists(DEMO_IMAGE):
        print(f"SKIP: {DEMO_IMAGE} was not made (make deps installs mkfs.fat and mcopy)")
        sys.exit(SKIP)
    line = Line()
    try:
        image = line.path("demo.img")
        shutil.copyfile(DEMO_IMAGE, image)  # the console may write to it
        line.start_board(BOARDSIM, *PATIENT)
        dump = line.path("screen.bin")
        proc, sock = start_console(line, "--image", image, "--control-read-only", line.path("ro"),
                                   "--screen-at-exit", dump)
        check_commands(sock, line)
        check_roles(sock, line.path("ro"))
        check_bad_input(sock)
        check_slow_clients(sock)
        check_late_joiner(proc, sock, dump)
        check_socket_file(line)
    finally:
        line.close()
    check_key_names()
    print("control socket: commands, roles, bad input, slow clients, late joiner, socket file, key names: OK")


if __name__ == "__main__":
    try:
        main()
    finally:
        for p in STARTED:
            if p.poll() is None:
                p.kill()
