"""A local adapter unplugged and plugged in again, as a /dev/serial/by-id name
that comes back pointing at another tty: board-sim replaces its pty pair under
the same symlink in the middle of a whole-image write. The console notices the
port is gone, reopens the name within a second of its return, and the board's
retries finish the write: the image equals the source."""
import os
import sys

from net_support import Scratch, board, board_result, wait_for

CONSOLE, BOARDSIM = sys.argv[1], sys.argv[2]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    scratch = Scratch()
    try:
        served = scratch.fat_image("a.img", "OLDDISK", 1)
        source = scratch.fat_image("b.img", "NEWDISK", 2)
        line = scratch.path("usb-FTDI_board-if00-port0")
        writer = board(scratch, BOARDSIM, line, "write-image", source, "--replug-after", "60")
        wait_for(lambda: os.path.islink(line), 10, "the board's pty")
        log = scratch.path("console.txt")
        host = scratch.start([CONSOLE, "--headless", "--com1", line, "--image", served, "--log", log],
                             "console.log")
        r = board_result(scratch, writer, 120)
        assert r["ok"], f"write across the replug: {r}\n{scratch.log('console.log')}"
        assert r["replugs"] == 1, r
        assert 0 <= r["replug_reopen_ms"] <= 1000, f"reopened after {r['replug_reopen_ms']} ms"
        assert read_bytes(served) == read_bytes(source), "the image differs from the source"
        text = scratch.log("console.txt")
        assert "Serial port lost: waiting for it to come back" in text, text
        assert "Serial port back" in text, text
        host.terminate()
        assert host.wait(15) == 0
        print(f"replug: reopened {r['replug_reopen_ms']} ms after the adapter came back; write finished, image equal")
    finally:
        scratch.close()


if __name__ == "__main__":
    main()
