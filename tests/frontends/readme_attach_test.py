"""The README's labgrid example for --attach runs as printed: labgrid's
ExternalConsoleDriver running `consolew --attach PATH --take` (the
`attach-labgrid` block) against the console of the `control-console` block on
board-sim --pty-link (the `board` block); the console goes on after the
driver has detached."""
import os
import sys

from frontend_support import need, wait_for
from readme_snippets_test import Scratch, required_snippets

CONSOLE, BOARDSIM, README, DEMO_IMAGE, CLIENTS = (os.path.abspath(a) for a in sys.argv[1:6])
sys.path.insert(0, CLIENTS)
from consolew_client import Console  # noqa: E402


def main():
    need("labgrid")
    found = required_snippets(README, DEMO_IMAGE, ("board", "control-console", "attach-labgrid"))
    s = Scratch()
    try:
        sock = s.paths["/tmp/board.sock"] = os.path.join(s.dir, "board.sock")
        s.start(found["board"], "board-sim")
        wait_for(lambda: os.path.islink(s.paths["/tmp/board-line"]), 10, "the board's line")
        console = s.start(found["control-console"], "consolew")
        wait_for(lambda: os.path.exists(sock) or console.poll() is not None, 10, "the control socket")
        assert console.poll() is None, f"the console ended ({console.returncode}):\n{s.logs()}"
        s.run(found["attach-labgrid"], "attach_labgrid")
        # The board got the keys of the labgrid seat; the console is still there.
        with Console(sock) as c:
            c.wait_text("hello", row=21, timeout=5)
            status = c.status()
            assert status["connected"] and status["clients"] == 1 and status["keyboard"] == "nobody", status
        s.stop()
        assert console.returncode == 0, f"the console ended with {console.returncode} on SIGTERM"
    finally:
        s.close()
    print("README labgrid example: ExternalConsoleDriver running consolew --attach --take: OK")


if __name__ == "__main__":
    main()
