"""consolew --serve through real clients (python3-websocket, raw HTTP) against
the simulated board: the links and tokens, the HTTP API with its bearer token,
the WebSocket's hello and Origin check, and bad input (huge requests, bad
frames, floods, connections opened and dropped) after which the console still
serves the board and its clients."""
import json
import socket
import struct
import sys
import urllib.error
import urllib.request

from frontend_support import SKIP, Line, wait_for
from web_support import VIEWER, WRITER, Served

try:
    import websocket
except ImportError:
    print("SKIP: the Python module websocket is missing (make deps installs python3-websocket)")
    sys.exit(SKIP)

CONSOLE, BOARDSIM = sys.argv[1:3]


def http(base, method, path, token=None, body=None, headers=None):
    req = urllib.request.Request(base + path, method=method, data=body, headers=headers or {})
    if token is not None:
        req.add_header("Authorization", "Bearer " + token)
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def raw_request(hostport, data):
    """What the server answers to `data` sent as it is (b"" when it just closes)."""
    host, port = hostport.split(":")
    s = socket.create_connection((host, int(port)), timeout=10)
    try:
        s.sendall(data)
    except OSError:
        pass  # closed while we still sent: an answer as good as any
    got = b""
    try:
        while chunk := s.recv(4096):
            got += chunk
    except OSError:
        pass
    s.close()
    return got


def ws(served, origin=None, token=None):
    c = websocket.create_connection("ws://" + served.hostport + "/ws", timeout=10,
                                    **({"origin": origin} if origin else {"suppress_origin": True}))
    if token is not None:
        c.send(json.dumps({"cmd": "hello", "token": token}))
    return c


def close_code(c):
    while True:
        op, data = c.recv_data(control_frame=True)
        if op == websocket.ABNF.OPCODE_CLOSE:
            return struct.unpack("!H", data[:2])[0] if len(data) >= 2 else None


def answer(c, request):
    c.send(json.dumps(request))
    while True:
        m = json.loads(c.recv())
        if "ok" in m:
            return m


def check_links(line):
    served = Served(CONSOLE, line, env_tokens=False)
    (_, writer), (_, viewer) = served.links["keyboard"], served.links["view only"]
    assert writer != viewer and min(len(writer), len(viewer)) >= 32, served.links  # 128 bits in hex
    assert http(served.base, "GET", "/api/status.json", writer)[0] == 200
    served.stop()


def check_http(served):
    b = served.base
    cases = [  # method, path, token, status
        ("GET", "/", None, 200), ("GET", "/glyphs.bin", None, 200), ("GET", "/nothing", None, 404),
        ("DELETE", "/", None, 405), ("GET", "/api/screen.txt", None, 401), ("GET", "/api/screen.txt", "x", 401),
        ("GET", "/api/screen.txt", VIEWER + "x", 401), ("GET", "/api/status.json", VIEWER, 200),
        ("POST", "/api/screen.json", VIEWER, 403), ("PUT", "/api/screen.json", WRITER, 405),
        ("GET", "/api/nothing", WRITER, 404),
    ]
    got = [(m, p, t, http(b, m, p, t, body=b"{}" if m in ("POST", "PUT") else None)[0]) for m, p, t, _ in cases]
    assert got == cases, got
    status, page = http(b, "GET", "/")
    assert b'id="screen"' in page and b"http://" not in page.replace(b"http://www.w3.org", b""), "page fetches nothing"
    screen = json.loads(http(b, "GET", "/api/screen.json", VIEWER)[1])
    text = http(b, "GET", "/api/screen.txt", WRITER)[1].decode("utf-8").split("\n")
    assert text[:25] == screen["text"] and text[25:] == [""], text
    png = http(b, "GET", "/api/screen.png", VIEWER)[1]
    assert png[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack("!II", png[16:24]) == (800, 475), png[:24]
    status = json.loads(http(b, "GET", "/api/status.json", WRITER)[1])
    assert status["connected"] and status["port"] == "COM1", status


def check_socket(served):
    own = "http://" + served.hostport
    for origin in ("http://evil.example", "http://127.0.0.1:1", "null"):
        try:
            ws(served, origin=origin)
            raise AssertionError(f"Origin {origin} was let in")
        except websocket.WebSocketBadStatusException as e:
            assert e.status_code == 403, (origin, e.status_code)
    bad_hellos = [json.dumps({"cmd": "hello", "token": "nope"}), json.dumps({"cmd": "hello"}),
                  json.dumps({"cmd": "screen", "token": WRITER}), "not json", b"\x00binary"]
    for hello in bad_hellos:
        c = ws(served, origin=own)
        c.send_binary(hello) if isinstance(hello, bytes) else c.send(hello)
        assert close_code(c) == 4001, hello
    v = ws(served, origin=own, token=VIEWER)
    assert json.loads(v.recv()) == {"ok": True, "mayTake": False}
    assert answer(v, {"cmd": "take"})["error"] == "read-only connection"
    assert answer(v, {"cmd": "keyevent", "code": "KeyA", "down": True})["error"] == "not the writer"
    assert answer(v, {"cmd": "screen", "id": 7})["id"] == 7
    w = ws(served, token=WRITER)
    assert json.loads(w.recv()) == {"ok": True, "mayTake": True}
    assert answer(w, {"cmd": "take"})["writer"] is True
    w.send_binary(b"\x01\x02")
    assert json.loads(w.recv()) == {"ok": False, "error": "text messages only"}
    assert answer(w, {"cmd": "nothing"})["ok"] is False
    w.send("{not json")
    assert json.loads(w.recv())["ok"] is False
    for i in range(3000):  # a flood of keys: answered, bounded, the board still served
        w.send(json.dumps({"cmd": "keyevent", "code": "KeyA", "down": i % 2 == 0}))
    for _ in range(3000):
        w.recv()
    assert answer(w, {"cmd": "status"})["writer"] is True
    # Over 64 KiB: the socket ends with 1009. The server closes while the
    # client may still be sending, so the close frame can be lost to a reset.
    try:
        w.send("x" * (70 * 1024))
        ended = close_code(w)
    except (ConnectionResetError, BrokenPipeError, websocket.WebSocketConnectionClosedException):
        ended = "reset"
    assert ended in (1009, "reset"), ended
    v.close()


def check_bad_requests(served):
    before = json.loads(http(served.base, "GET", "/api/status.json", VIEWER)[1])["stats"]["requests"]
    huge_header = b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * (200 * 1024) + b"\r\n\r\n"
    huge_body = b"POST /api/screen.json HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n\r\n" + b"b" * 2000000
    for data in (huge_header, huge_body):
        got = raw_request(served.hostport, data)
        assert got == b"" or got.startswith(b"HTTP/1.1 413"), got[:80]
    assert raw_request(served.hostport, b"\x16\x03\x01garbage\r\n\r\n")[:12] in (b"", b"HTTP/1.1 400")
    # Many connections opened and dropped, some mid-request, some mid-hello.
    for i in range(600):
        s = socket.create_connection(tuple(served.hostport.split(":")[:1]) + (int(served.hostport.split(":")[1]),))
        if i % 3 == 1:
            s.send(b"GET /api/screen.json HTTP/1.1\r\nHost: x\r\n")
        elif i % 3 == 2:
            s.send(b"GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        s.close()
    c = ws(served, token=VIEWER)
    assert json.loads(c.recv())["ok"] is True
    wait_for(lambda: json.loads(http(served.base, "GET", "/api/status.json", VIEWER)[1])["stats"]["requests"] > before,
             20, "the board still served")
    c.close()


def main():
    for use in ("links", "the rest"):
        line = Line()
        try:
            line.start_board(BOARDSIM)
            if use == "links":
                check_links(line)
            else:
                check_served(line)
        finally:
            line.close()
    print("web console: ok")


def check_served(line):
    served = Served(CONSOLE, line)
    try:
        check_all(served)
    finally:
        served.kill()


def check_all(served):
    wait_for(lambda: served.alive() and "Nerova board simulator" in http(served.base, "GET", "/api/screen.txt", VIEWER)[1].decode(), 30,
             "the demo board's screen")
    c = ws(served, token=VIEWER)
    c.recv()
    assert answer(c, {"cmd": "wait", "stable": 500, "timeout": 20})["ok"], "the screen settles"
    c.close()
    check_http(served)
    check_socket(served)
    check_bad_requests(served)
    served.stop()


if __name__ == "__main__":
    main()
