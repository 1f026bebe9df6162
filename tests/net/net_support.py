"""Pieces of the network-port tests: FAT diskettes made with mkfs.fat and mcopy,
the simulated board on a pty of its own (board-sim --pty-link), ser2net in
front of it with a YAML of the test's own on a free loopback port, and the
console without a window."""
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77  # CTest's skip status


def tool(name):
    path = shutil.which(name) or next((p for p in (f"/usr/sbin/{name}", f"/sbin/{name}") if os.path.exists(p)), None)
    if path is None:
        print(f"SKIP: {name} is missing (make deps installs it)")
        sys.exit(SKIP)
    return path


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise AssertionError(f"timed out waiting for {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process, sig=signal.SIGTERM):
    if process is not None and process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Scratch:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="consolew-net-")
        self.processes = []

    def path(self, name):
        return os.path.join(self.dir, name)

    def start(self, argv, log_name):
        log = open(self.path(log_name), "w")
        p = subprocess.Popen(argv, stdout=log, stderr=log)
        self.processes.append(p)
        return p

    def log(self, name):
        with open(self.path(name), encoding="utf-8", errors="replace") as f:
            return f.read()

    def close(self):
        for p in reversed(self.processes):
            stop(p)
        shutil.rmtree(self.dir, ignore_errors=True)

    def fat_image(self, name, label, seed):
        """A 1.44 MB FAT12 diskette with a few files of seeded random bytes."""
        image = self.path(name)
        subprocess.run([tool("mkfs.fat"), "-C", "-n", label, image, "1440"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rng = random.Random(seed)
        for i, size in enumerate((300000, 500000, 12345)):
            f = self.path(f"{label}{i}.BIN")
            with open(f, "wb") as out:
                out.write(bytes(rng.getrandbits(8) for _ in range(size)))
            subprocess.run([tool("mcopy"), "-i", image, f, f"::/F{i}.BIN"], check=True)
        return image


def board(scratch, boardsim, link, script, path, *extra):
    """board-sim as the board on a pty of its own, named by `link`."""
    return scratch.start([boardsim, "--pty-link", link, "--unpaced", "--script", script, path, *extra],
                         "board.log")


def board_result(scratch, process, seconds):
    process.wait(seconds)
    lines = [l for l in scratch.log("board.log").splitlines() if l.startswith("{")]
    assert lines, "board-sim printed no result:\n" + scratch.log("board.log")
    return json.loads(lines[-1])


class Ser2net:
    """ser2net with a raw and a telnet(rfc2217) accepter in front of one device."""

    def __init__(self, scratch, device):
        self.scratch = scratch
        self.raw = free_port()
        self.rfc2217 = free_port()
        self.config = scratch.path("ser2net.yaml")
        with open(self.config, "w") as f:
            for name, accepter in (("raw", f"tcp,127.0.0.1,{self.raw}"),
                                   ("rfc", f"telnet(rfc2217),tcp,127.0.0.1,{self.rfc2217}")):
                f.write(f"connection: &{name}\n  accepter: {accepter}\n"
                        f"  connector: serialdev,{device},115200n81,local\n"
                        "  options:\n    chardelay: false\n")
        self.process = None
        self.start()

    def start(self):
        self.process = self.scratch.start([tool("ser2net"), "-n", "-d", "-c", self.config], "ser2net.log")
        for port in (self.raw, self.rfc2217):
            wait_for(lambda: self.listening(port), 10, f"ser2net on port {port}")

    @staticmethod
    def listening(port):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            return False

    def kill(self):
        stop(self.process, signal.SIGKILL)
