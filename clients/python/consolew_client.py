"""A client of consolew's control socket (consolew --control PATH), standard
library only.

    from consolew_client import Console
    with Console("/tmp/board.sock") as c:
        c.wait_text("bytes free", timeout=30)
        c.take()
        c.type("dir\\r")
        c.wait_regex(r"\\d+ bytes free")
        print("\\n".join(c.screen()["text"]))

Every request is one JSON object on one line; answers carry "ok" and the
request's "id", events ({"event": ...}) carry no "ok". A failed wait raises
ConsoleError whose message holds the screen's text."""
import itertools
import json
import socket

__all__ = ["Console", "ConsoleError"]


class ConsoleError(Exception):
    """A request the console answered with "ok": false. `answer` is the whole
    answer (for a timed-out wait it holds the screen: `text`, `cells`, `cursor`)."""

    def __init__(self, message, answer=None):
        super().__init__(message)
        self.answer = answer or {}


class Console:
    def __init__(self, path, timeout=None):
        """Connects to the control socket at `path`. `timeout` (seconds) bounds
        each read of the socket; None waits as long as the request does."""
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(path)
        self.file = self.sock.makefile("rwb")
        self.ids = itertools.count(1)
        self.events = []  # events read while waiting for an answer, oldest first
        self.answers = {}  # answers read while waiting for another one, by id

    def close(self):
        try:
            self.file.close()
        finally:
            self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- the protocol -------------------------------------------------------

    def send(self, cmd, **args):
        """Sends one request and returns its id (the answer comes through `answer`)."""
        request_id = next(self.ids)
        message = dict(args, cmd=cmd, id=request_id)
        self.file.write(json.dumps(message).encode() + b"\n")
        self.file.flush()
        return request_id

    def read(self):
        """The next message from the console (an answer or an event)."""
        line = self.file.readline()
        if not line:
            raise ConnectionError("the console closed the connection")
        return json.loads(line)

    def answer(self, request_id):
        """Reads until the answer of `request_id`; events and other answers read
        meanwhile are kept."""
        if request_id in self.answers:
            return self.answers.pop(request_id)
        while True:
            message = self.read()
            if "ok" not in message:
                self.events.append(message)
            elif message.get("id") == request_id:
                return message
            else:
                self.answers[message.get("id")] = message

    def request(self, cmd, **args):
        """Sends a request and returns its answer; raises ConsoleError when it failed."""
        reply = self.answer(self.send(cmd, **args))
        if not reply.get("ok"):
            raise ConsoleError(f"{cmd}: {reply.get('error', 'failed')}", reply)
        return reply

    def next_event(self, kind=None):
        """The next event (of `kind`, when given), kept ones first."""
        while True:
            if self.events:
                event = self.events.pop(0)
            else:
                event = self.read()
                if "event" not in event:
                    continue
            if kind is None or event["event"] == kind:
                return event

    # -- commands -----------------------------------------------------------

    def screen(self):
        """{"cols", "rows", "cursor": [col, row], "text": 25 rows, "cells": base64}."""
        return self.request("screen")

    def _wait(self, timeout, **what):
        reply = self.answer(self.send("wait", timeout=timeout, **what))
        if not reply.get("ok"):
            shown = "\n".join(reply.get("text", []))
            raise ConsoleError(f"wait for {what} failed ({reply.get('error')}); the screen:\n{shown}", reply)
        return reply

    @staticmethod
    def _where(row, col, attr):
        return {k: v for k, v in (("row", row), ("col", col), ("attr", attr)) if v is not None}

    def wait_text(self, text, row=None, col=None, attr=None, timeout=30):
        """Waits until the screen shows `text`; returns the answer with the
        match's "row" and "col" and the screen."""
        return self._wait(timeout, text=text, **self._where(row, col, attr))

    def wait_regex(self, regex, row=None, col=None, attr=None, timeout=30):
        return self._wait(timeout, regex=regex, **self._where(row, col, attr))

    def wait_stable(self, ms, timeout=30):
        """Waits until no cell and not the cursor changed for `ms` milliseconds."""
        return self._wait(timeout, stable=ms)

    def type(self, text):
        """Types text as a US keyboard does (the writer only); returns once every key is queued."""
        return self.request("type", text=text)

    def key(self, name):
        """A key by its KeyboardEvent.code, with modifiers: "F1", "Enter", "Ctrl+Alt+Delete"."""
        return self.request("key", key=name)

    def keyevent(self, code, down):
        return self.request("keyevent", code=code, down=down)

    def code(self, word):
        """A BIOS key word (scan code * 256 + character) as it is."""
        return self.request("code", code=word)

    def take(self):
        """Takes the keyboard: this client becomes the writer."""
        return self.request("take")

    def release(self):
        return self.request("release")

    def status(self):
        return self.request("status")

    def subscribe(self):
        """From now on screen, status and role events arrive (see next_event)."""
        return self.request("subscribe")

    def refresh(self):
        return self.request("refresh")

    def floppy(self, path, read_only=None):
        args = {"path": path}
        if read_only is not None:
            args["readOnly"] = read_only
        return self.request("floppy", **args)

    def connect(self):
        return self.request("connect")

    def disconnect(self):
        return self.request("disconnect")
