"""consolew --headless --pty LINK reached by labgrid: a RawSerialPort at LINK
with a SerialDriver finds the demo's banner and the echo of typed keys; a
second program that opens the pty meanwhile is refused (EBUSY), root is let
through and told of; a peer that goes away and a new one that comes get the
whole screen afresh; SIGTERM ends the console with status 0 and removes the
link."""
import errno
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


def open_as_user(path):
    """Opens `path` as an ordinary user would (as nobody when this runs as root,
    which the pty's lock lets through): 0 when it opened, else the errno."""
    if os.getuid() != 0:
        try:
            os.close(os.open(path, os.O_RDWR | os.O_NOCTTY))
            return 0
        except OSError as e:
            return e.errno
    pid = os.fork()
    if pid == 0:
        code = 0
        try:
            os.setgid(65534)
            os.setuid(65534)
            os.close(os.open(path, os.O_RDWR | os.O_NOCTTY))
        except OSError as e:
            code = e.errno
        os._exit(code)
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])


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

        # A second program while labgrid has the pty: refused, the picture stays whole.
        slave = os.path.realpath(link)
        if os.getuid() == 0:
            os.chmod(slave, 0o666)  # so that only the lock can refuse nobody
        refused = open_as_user(slave)
        assert refused == errno.EBUSY, f"a second opener was let in ({refused})"
        if os.getuid() == 0:
            os.close(os.open(link, os.O_RDWR | os.O_NOCTTY))  # root passes the lock: told of
        target.deactivate(driver)
        # Once the peer has gone the pty is free again.
        wait_for(lambda: open_as_user(slave) == 0, 10, "the pty to be free again")

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
        if os.getuid() == 0:
            assert f"a second program opened {slave} past its lock" in err, err
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
