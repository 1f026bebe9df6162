"""The console through ser2net, the serial server labs use: a whole-image read
and a whole-image write through its raw and its telnet(rfc2217) accepters,
compared byte for byte (and fsck.fat clean); then ser2net killed in the middle
of a write and started again: the console reconnects by itself, the board's
retries finish the write, and the image equals the source."""
import os
import subprocess
import sys
import time

from net_support import Scratch, Ser2net, board, board_result, tool, wait_for

CONSOLE, BOARDSIM = sys.argv[1], sys.argv[2]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def console(scratch, url, image, log_name):
    return scratch.start([CONSOLE, "--headless", "--com1", url, "--image", image, "--log",
                          scratch.path(log_name + ".txt")], log_name)


def fsck_clean(image):
    return subprocess.run([tool("fsck.fat"), "-n", image], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def transfer(scratch, url, served, line, script, path, *extra):
    """One board-sim script through the console at `url`; the board's pty first,
    since ser2net opens its device when the console connects."""
    bs = board(scratch, BOARDSIM, line, script, path, *extra)
    wait_for(lambda: os.path.islink(line), 10, "the board's pty")
    host = console(scratch, url, served, "console.log")
    result = board_result(scratch, bs, 120)
    host.terminate()
    assert host.wait(15) == 0, scratch.log("console.log")
    return result


def round_trips(scratch, server, line, source):
    for scheme, port in (("tcp", server.raw), ("rfc2217", server.rfc2217)):
        url = f"{scheme}://127.0.0.1:{port}"
        served = scratch.path(f"served-{scheme}.img")
        with open(served, "wb") as f:
            f.write(read_bytes(scratch.path("a.img")))
        out = scratch.path(f"read-{scheme}.img")
        r = transfer(scratch, url, served, line, "read-image", out)
        assert r["ok"], f"{scheme} read: {r}"
        assert read_bytes(out) == read_bytes(served), f"{scheme}: the image read differs from the served one"
        w = transfer(scratch, url, served, line, "write-image", source)
        assert w["ok"], f"{scheme} write: {w}"
        assert read_bytes(served) == read_bytes(source), f"{scheme}: the written image differs from the source"
        assert fsck_clean(served), f"{scheme}: fsck.fat finds faults"
        print(f"{scheme}: whole-image read {r['seconds']:.2f} s, write {w['seconds']:.2f} s, equal, fsck clean")


def reconnect(scratch, server, line, source):
    served = scratch.path("served-reconnect.img")
    before = read_bytes(scratch.path("a.img"))
    with open(served, "wb") as f:
        f.write(before)
    # Paced, so that the write is well under way when the server goes.
    writer = board(scratch, BOARDSIM, line, "write-image", source, "--baud", "3000000")
    wait_for(lambda: os.path.islink(line), 10, "the board's pty")
    host = console(scratch, f"rfc2217://127.0.0.1:{server.rfc2217}", served, "console-reconnect.log")
    target = read_bytes(source)
    head = 40 * 9216  # the first 40 tracks written
    wait_for(lambda: read_bytes(served)[:head] == target[:head], 60, "the first tracks of the write")
    server.kill()
    time.sleep(0.3)  # the server is down for a while
    server.start()
    w = board_result(scratch, writer, 120)
    assert w["ok"], f"write across the reconnect: {w}\n{scratch.log('console-reconnect.log')}"
    assert read_bytes(served) == target, "the image after the reconnect differs from the source"
    assert fsck_clean(served)
    log = scratch.log("console-reconnect.log.txt")
    assert "Serial port lost: waiting for it to come back" in log, log
    assert "Serial port back" in log, log
    host.terminate()
    assert host.wait(15) == 0
    print(f"reconnect: ser2net killed after 40 tracks and restarted; write finished "
          f"({w['resends']} resends, {w['failed_calls']} failed calls), image equal, fsck clean")


def main():
    scratch = Scratch()
    try:
        line = scratch.path("line")
        scratch.fat_image("a.img", "OLDDISK", 1)
        source = scratch.fat_image("b.img", "NEWDISK", 2)
        assert read_bytes(scratch.path("a.img")) != read_bytes(source)
        server = Ser2net(scratch, line)
        round_trips(scratch, server, line, source)
        reconnect(scratch, server, line, source)
    finally:
        scratch.close()


if __name__ == "__main__":
    main()
