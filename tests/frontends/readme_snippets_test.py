"""The README's examples run as printed: the blocks marked `<!-- tested: NAME -->`
are taken from README.md itself and run against the simulated board on a pty of
its own (board-sim --pty-link), with only their paths moved into a scratch
directory: the board's line, the console's pty, the demo diskette and the
build's board-sim. `consolew` is found on PATH (the build's own first)."""
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

from frontend_support import SKIP, need, wait_for

CONSOLE, BOARDSIM, README, DEMO_IMAGE = (os.path.abspath(a) for a in sys.argv[1:5])
PYTHON = "/usr/bin/python3"  # Debian's python3-* packages belong to it


def snippets(text):
    """NAME -> the body of the fenced block right after its marker."""
    found = {}
    for m in re.finditer(r"<!-- tested: ([\w-]+) -->\n```\w*\n(.*?)\n```", text, re.S):
        assert m.group(1) not in found, f"two blocks marked {m.group(1)}"
        found[m.group(1)] = m.group(2)
    return found


def required_snippets(readme, demo_image, names):
    """The README's blocks NAMES (each must be there); skips without the demo image."""
    if not os.path.exists(demo_image):
        print(f"SKIP: {demo_image} was not made (make deps installs mkfs.fat and mcopy)")
        sys.exit(SKIP)
    found = snippets(open(readme, encoding="utf-8").read())
    for name in names:
        assert name in found, f"README.md has no block marked <!-- tested: {name} -->"
    return found


class Scratch:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="consolew-readme-")
        self.procs = []
        # The README's paths, and where they are here.
        self.paths = {
            "/tmp/board-line": os.path.join(self.dir, "board-line"),
            "/tmp/board-console": os.path.join(self.dir, "board-console"),
            "build/demo.img": os.path.join(self.dir, "demo.img"),
            "build/board-sim": BOARDSIM,
        }
        shutil.copyfile(DEMO_IMAGE, self.paths["build/demo.img"])  # the console writes to it
        self.env = dict(os.environ, PATH=os.path.dirname(CONSOLE) + os.pathsep + os.environ.get("PATH", ""),
                        TERM="xterm")

    def place(self, text):
        for readme, here in self.paths.items():
            text = text.replace(readme, here)
        return text

    def start(self, command_line, name):
        """A one-line shell block: the command, without its trailing '&'."""
        args = shlex.split(self.place(command_line), comments=True)
        if args and args[-1] == "&":
            args.pop()
        log = open(os.path.join(self.dir, name + ".log"), "w")
        proc = subprocess.Popen(args, stdout=log, stderr=log, env=self.env)
        self.procs.append((proc, name))
        return proc

    def run(self, code, name):
        path = os.path.join(self.dir, "readme_" + name + ".py")  # not the module's own name
        with open(path, "w") as f:
            f.write(self.place(code) + "\n")
        r = subprocess.run([PYTHON, path], env=self.env, cwd=self.dir, timeout=120,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        assert r.returncode == 0, f"the {name} snippet failed ({r.returncode}):\n{r.stdout}\n{self.logs()}"

    def logs(self):
        out = ""
        for _, name in self.procs:
            out += f"--- {name}:\n" + open(os.path.join(self.dir, name + ".log")).read()
        return out

    def stop(self):
        for proc, name in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(15)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    raise AssertionError(f"{name} did not end on SIGTERM")
        self.procs = []

    def close(self):
        try:
            self.stop()
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


def main():
    need("pexpect")
    need("labgrid")
    if not os.path.exists(DEMO_IMAGE):
        print(f"SKIP: {DEMO_IMAGE} was not made (make deps installs mkfs.fat and mcopy)")
        sys.exit(SKIP)
    found = snippets(open(README, encoding="utf-8").read())
    for name in ("board", "pexpect", "pty-console", "labgrid"):
        assert name in found, f"README.md has no block marked <!-- tested: {name} -->"
    assert len(found["board"].splitlines()) == 1 and len(found["pty-console"].splitlines()) == 1

    # pexpect, with a fresh board.
    s = Scratch()
    try:
        s.start(found["board"], "board-sim")
        wait_for(lambda: os.path.islink(s.paths["/tmp/board-line"]), 10, "the board's line")
        s.run(found["pexpect"], "pexpect")
    finally:
        s.close()

    # labgrid at the pty of a console started as the README says, with a fresh board.
    s = Scratch()
    try:
        s.start(found["board"], "board-sim")
        wait_for(lambda: os.path.islink(s.paths["/tmp/board-line"]), 10, "the board's line")
        console = s.start(found["pty-console"], "consolew")
        wait_for(lambda: os.path.islink(s.paths["/tmp/board-console"]) or console.poll() is not None, 10,
                 "the console's pty")
        assert console.poll() is None, f"the console ended ({console.returncode}):\n{s.logs()}"
        s.run(found["labgrid"], "labgrid")
        s.stop()
        assert console.returncode == 0, f"the console ended with {console.returncode} on SIGTERM"
    finally:
        s.close()
    print("README snippets (pexpect; labgrid at consolew --pty) against board-sim --pty-link: OK")


if __name__ == "__main__":
    main()
