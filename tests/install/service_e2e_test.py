"""The service end to end, as far as a machine without systemd goes: the
installed unit's ExecStart, for a profile whose board is board-sim on a pty of
its own, run as a command; `consolew --attach` on the socket the unit names
shows the board's screen and detaches; the recording the profile names,
replayed through pyte, ends on the screen the console had at exit. Skipped
(77) while the console has no --profile, --attach or --record.

    service_e2e_test.py BUILD BOARDSIM            the build tree, installed with cmake --install
    service_e2e_test.py --root ROOT BOARDSIM      a package extracted into ROOT (dpkg -x)"""
import json
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import shutil

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "frontends"))
from frontend_support import SKIP, need, wait_for, read_screen_dump  # noqa: E402

PACKAGE_ROOT = os.path.abspath(sys.argv[2]) if sys.argv[1] == "--root" else None
BUILD = None if PACKAGE_ROOT else os.path.abspath(sys.argv[1])
BOARDSIM = os.path.abspath(sys.argv[-1])
BANNER = "Nerova board simulator - target application"


def main():
    console = os.path.join(PACKAGE_ROOT, "usr/bin/consolew") if PACKAGE_ROOT else os.path.join(BUILD, "consolew")
    usage = subprocess.run([console, "--help"], stdout=subprocess.PIPE, text=True).stdout
    missing = [o for o in ("--profile", "--attach", "--record", "--control") if o not in usage]
    if missing:
        print("SKIP: the console has no " + ", ".join(missing) + " yet")
        sys.exit(SKIP)
    need("pexpect")
    need("pyte")
    import pexpect
    import pyte

    scratch = tempfile.mkdtemp(prefix="consolew-service-")
    procs = []
    try:
        prefix, run = os.path.join(scratch, "prefix"), os.path.join(scratch, "run")
        os.makedirs(run)
        if PACKAGE_ROOT:
            prefix = PACKAGE_ROOT
        else:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        unit = open(os.path.join(prefix, "lib/systemd/system/consolew@.service")).read()
        exec_start = next(l[len("ExecStart="):] for l in unit.splitlines() if l.startswith("ExecStart="))
        if PACKAGE_ROOT:  # the unit names /usr/bin/consolew; here it is under the scratch root
            exec_start = exec_start.replace("/usr/bin/consolew", console, 1)
        # What systemd would do: %i is the instance, /run/consolew the runtime folder.
        command = shlex.split(exec_start.replace("%i", "bench1").replace("/run/consolew", run))
        socket_path = os.path.join(run, "bench1.sock")
        assert socket_path in command, f"the unit names no socket for its instance: {exec_start}"

        line, cast, dump = (os.path.join(scratch, n) for n in ("line", "bench1.cast", "screen.bin"))
        home = os.path.join(scratch, "home")
        os.makedirs(os.path.join(home, ".config/consolew"))
        with open(os.path.join(home, ".config/consolew/consolew.conf"), "w") as f:
            f.write(f"[bench1]\ncom1 = {line}\nconnect = true\nrecord = {cast}\n")
        env = dict(os.environ, HOME=home, TERM="xterm", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.pop("XDG_CONFIG_HOME", None)

        log = open(os.path.join(scratch, "logs"), "w")
        procs.append(subprocess.Popen([BOARDSIM, "--pty-link", line, "--unpaced"], stdout=log, stderr=log))
        wait_for(lambda: os.path.islink(line), 10, "the board's line")
        service = subprocess.Popen(command + ["--screen-at-exit", dump], stdout=log, stderr=log, env=env)
        procs.append(service)
        wait_for(lambda: os.path.exists(socket_path) or service.poll() is not None, 15, "the control socket")
        assert service.poll() is None, f"the service ended ({service.returncode}): {open(log.name).read()}"

        attach = pexpect.spawn(console, ["--attach", socket_path], env=env, dimensions=(26, 80),
                               encoding="utf-8", timeout=20)
        attach.expect(BANNER)
        attach.send("\x1dq")  # Ctrl-] q detaches; the console goes on
        attach.expect(pexpect.EOF)
        attach.close()
        assert attach.exitstatus == 0, f"--attach ended with {attach.exitstatus}"
        assert service.poll() is None, "the console ended when the attached client detached"

        service.send_signal(signal.SIGTERM)
        assert service.wait(15) == 0, f"the service ended with {service.returncode} on SIGTERM"

        lines = open(cast, encoding="utf-8").read().splitlines()
        header = json.loads(lines[0])
        assert (header["version"], header["width"], header["height"]) == (2, 80, 25), header
        screen = pyte.Screen(80, 25)
        stream = pyte.Stream(screen)
        for event in map(json.loads, lines[1:]):
            if event[1] == "o":
                stream.feed(event[2])
        cells = read_screen_dump(dump)
        for row in range(25):
            for col in range(80):
                ch = cells[row][col][0]
                if 0 < ch < 32 or ch == 127:
                    continue  # CP437 symbols that Python's codec leaves as controls
                want = " " if ch == 0 else bytes([ch]).decode("cp437")
                got = screen.buffer[row][col].data
                assert got == want, f"replayed ({row},{col}) is {got!r}, the console had {want!r}"
        assert any(BANNER in r for r in screen.display), "the banner is not in the replay"
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print("service: the unit's command line for a board-sim profile, --attach, the recording replayed: OK")


if __name__ == "__main__":
    main()
