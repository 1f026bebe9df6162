"""consolew --headless --pty LINK reached by labgrid: a RawSerialPort at LINK
with a SerialDriver finds the demo's banner and the echo of typed keys; a peer
that goes away and a new one that comes get the whole screen afresh; SIGTERM
ends the console with status 0 and removes the link."""
import os
import signal
import subprocess
import sys

from frontend_support import Line, need, wait_for

need("labgrid")
from labgrid import Target  # noqa: E402
from labgrid.driver import SerialDriver  # noqa: E402
from labgrid.resource import RawSerialPort  # noqa: E402

CONSOLE, BOARDSIM = sys.argv[1], sys.argv[2]


def connect(link, name):
    target = Target(name)
    RawSerialPort(target, name=None, port=link, speed=115200)
    driver = SerialDriver(target, name=None)
    target.activate(driver)
    return target, driver


def main():
    line = Line()
    console = None
    try:
        line.start_board(BOARDSIM)
        link = line.path("console")
        log = line.path("boot.log")
        console = subprocess.Popen([CONSOLE, "--headless", "--com1", line.host, "--pty", link, "--log", log],
                                   stderr=subprocess.PIPE, text=True)
        wait_for(lambda: os.path.islink(link), 10, "the pty link")
        target, driver = connect(link, "board")
        driver.expect("Nerova board simulator - target application", timeout=20)
        driver.expect("> ", timeout=10)
        driver.write(b"labgrid")
        driver.expect("labgrid", timeout=10)
        target.deactivate(driver)

        # A second peer: everything is drawn again for it, and keys still reach the board.
        target, driver = connect(link, "board-again")
        driver.expect("Nerova board simulator - target application", timeout=10)
        driver.write(b"xyz")
        driver.expect("labgridxyz", timeout=10)
        target.deactivate(driver)

        console.send_signal(signal.SIGTERM)
        assert console.wait(15) == 0, f"exit status {console.returncode}"
        err = console.stderr.read()
        assert not os.path.lexists(link), "link left behind"
        assert "/dev/pts/" in err, f"slave path not printed: {err!r}"
        text = open(log, encoding="utf-8").read()
        assert "Remote console V1.01 for Windows" in text, text
        assert "Nerova board simulator - target application" in text, text
        print("pty front-end with labgrid: banner, echo, second peer, SIGTERM, log: OK")
    finally:
        if console is not None and console.poll() is None:
            console.kill()
        line.close()


if __name__ == "__main__":
    main()
