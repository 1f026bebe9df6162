"""The README's pytest example for the control socket runs as printed: the
blocks marked `control-console` and `control-pytest` are taken from README.md
and run against board-sim --pty-link (the `board` block), with their paths
moved into a scratch directory and `clients/python` pointing at the
project's client."""
import os
import subprocess
import sys

from frontend_support import need, wait_for
from readme_snippets_test import PYTHON, Scratch, required_snippets

CONSOLE, BOARDSIM, README, DEMO_IMAGE, CLIENTS = (os.path.abspath(a) for a in sys.argv[1:6])


def main():
    need("pytest")
    found = required_snippets(README, DEMO_IMAGE, ("board", "control-console", "control-pytest"))
    s = Scratch()
    try:
        s.paths["/tmp/board.sock"] = os.path.join(s.dir, "board.sock")
        s.paths["clients/python"] = CLIENTS
        s.start(found["board"], "board-sim")
        wait_for(lambda: os.path.islink(s.paths["/tmp/board-line"]), 10, "the board's line")
        console = s.start(found["control-console"], "consolew")
        wait_for(lambda: os.path.exists(s.paths["/tmp/board.sock"]) or console.poll() is not None, 10,
                 "the control socket")
        assert console.poll() is None, f"the console ended ({console.returncode}):\n{s.logs()}"
        test = os.path.join(s.dir, "test_board.py")
        with open(test, "w") as f:
            f.write(s.place(found["control-pytest"]) + "\n")
        r = subprocess.run([PYTHON, "-m", "pytest", "-q", "-p", "no:cacheprovider", test], env=s.env, cwd=s.dir,
                           timeout=120, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        assert r.returncode == 0, f"the pytest example failed ({r.returncode}):\n{r.stdout}\n{s.logs()}"
        assert "1 passed" in r.stdout, r.stdout
        s.stop()
        assert console.returncode == 0, f"the console ended with {console.returncode} on SIGTERM"
    finally:
        s.close()
    print("README pytest example against the control socket: OK")


if __name__ == "__main__":
    main()
