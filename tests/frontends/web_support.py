"""Shared pieces of the web console's tests: a console with --serve on a free
port beside the simulated board, its two links read from standard error."""
import os
import re
import subprocess
import threading

from frontend_support import wait_for

WRITER, VIEWER = "writer-token-1234", "view-token-5678"
LINK = re.compile(r"^consolew: web console \((keyboard|view only)\) (http://[^/]+)/#token=(\S+)$")


class Served:
    def __init__(self, console, line, *extra, env_tokens=True):
        env = dict(os.environ)
        env.pop("CONSOLEW_TOKEN", None)
        env.pop("CONSOLEW_VIEW_TOKEN", None)
        if env_tokens:
            env.update(CONSOLEW_TOKEN=WRITER, CONSOLEW_VIEW_TOKEN=VIEWER)
        self.proc = subprocess.Popen([console, "--headless", "--com1", line.host, "--serve", "127.0.0.1:0", *extra],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        self.links, self.err = {}, []
        threading.Thread(target=self._read, daemon=True).start()
        wait_for(lambda: len(self.links) == 2 or self.proc.poll() is not None, 10, "the web console's links")
        assert len(self.links) == 2, self.err
        self.base = self.links["keyboard"][0]
        self.hostport = self.base[len("http://"):]

    def _read(self):
        for text in self.proc.stderr:
            self.err.append(text)
            m = LINK.match(text.strip())
            if m:
                self.links[m.group(1)] = (m.group(2), m.group(3))

    def alive(self):
        assert self.proc.poll() is None, f"the console ended ({self.proc.returncode}): {''.join(self.err)}"
        return True

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def stop(self):
        self.proc.terminate()
        assert self.proc.wait(15) == 0, f"exit status {self.proc.returncode}: {''.join(self.err)}"
