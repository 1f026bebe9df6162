"""The web console's page in headless Chromium (python3-selenium and
chromium-driver) against the simulated board: the canvas shows the board's
cells in the palette with box characters that join, typed keys reach the board
as BIOS codes (letters, Shift, arrows, F-keys, Ctrl+Alt+Del from the menu), a
view-only page types nothing, a reload shows the same screen, the replay of
the history ends on the board's screen, a screen event's "scroll" moves the
page's copy, and keys typed
while the socket is down are never sent later. With CONSOLEW_SCREENSHOTS=DIR
the page's pictures for the README are saved there."""
import base64
import json
import os
import shutil
import sys
import urllib.request

from frontend_support import PALETTE, SKIP, Line, wait_for
from web_support import VIEWER, WRITER, Served

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
except ImportError:
    print("SKIP: the Python module selenium is missing (make deps installs python3-selenium)")
    sys.exit(SKIP)

CONSOLE, BOARDSIM = sys.argv[1:3]
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
SHOTS = os.environ.get("CONSOLEW_SCREENSHOTS")


def browser():
    if not os.path.exists(DRIVER):
        print("SKIP: chromedriver is missing (make deps installs chromium-driver)")
        sys.exit(SKIP)
    o = Options()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1100,720"):
        o.add_argument(a)
    return webdriver.Chrome(service=Service(DRIVER), options=o)


def open_page(d, served, token):
    d.get("about:blank")  # a new load, not a change of the fragment
    d.get(served.base + "/#token=" + token)
    wait_for(lambda: d.execute_script("return consolew.ready && consolew.glyphs !== null"), 20, "the page's socket")


def screen(served):
    req = urllib.request.Request(served.base + "/api/screen.json", headers={"Authorization": "Bearer " + VIEWER})
    return json.loads(urllib.request.urlopen(req, timeout=10).read())


# The canvas pixels of one cell as [r, g, b] triples, row by row.
CELL_JS = """const [c, r] = arguments, w = consolew.glyphW, h = consolew.glyphH;
const d = document.getElementById('screen').getContext('2d').getImageData(c * w, r * h, w, h).data;
const out = []; for (let i = 0; i < d.length; i += 4) out.push((d[i] << 16) | (d[i + 1] << 8) | d[i + 2]);
return [w, h, out];"""


def check_canvas(d, served):
    s = screen(served)
    cells = base64.b64decode(s["cells"])
    text = s["text"]
    assert d.execute_script("return document.getElementById('text').textContent") == "\n".join(text)
    # A corner, a line, a letter, a blank, each in its own colours (never the cursor's cell).
    row = next(r for r in range(25) if "══" in text[r])
    col = text[row].index("══")
    picks = [(text[row].index("╔"), row), (col, row), (col + 1, row), (2, 0), (79, 24)]
    for c, r in picks:
        ch, attr = cells[(r * 80 + c) * 2], cells[(r * 80 + c) * 2 + 1]
        w, h, px = d.execute_script(CELL_JS, c, r)
        fg, bg = PALETTE[attr & 15], PALETTE[attr >> 4]
        if (c, r) != tuple(s["cursor"]):
            assert set(px) <= {fg, bg}, (c, r, hex(attr), {hex(p) for p in px})
            assert (fg in px) == (ch not in (0, 0x20)), (c, r, ch)
    # The double line joins its neighbour: the ink rows at the cell's right edge go on at the next cell's left edge.
    _, _, a = d.execute_script(CELL_JS, col, row)
    _, _, b = d.execute_script(CELL_JS, col + 1, row)
    fg = PALETTE[cells[(row * 80 + col) * 2 + 1] & 15]
    edge_a = [y for y in range(h) if a[y * w + w - 1] == fg]
    edge_b = [y for y in range(h) if b[y * w] == fg]
    assert edge_a and edge_a == edge_b, (edge_a, edge_b)
    box = d.execute_script("const r = document.getElementById('screen').getBoundingClientRect(); return [r.width, r.height]")
    assert abs(box[0] / box[1] - (80 * w) / (25 * h)) < 0.01, box


def snapshot(d):
    """The canvas without the cursor's row (it blinks)."""
    return d.execute_script("""const c = document.getElementById('screen'), h = consolew.glyphH;
const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data, skip = consolew.cursor[1];
let sum = 0; for (let i = 0; i < d.length; i += 4) { const y = Math.floor(i / 4 / c.width);
if (Math.floor(y / h) !== skip) sum = (sum * 31 + d[i] + 7 * d[i + 1] + 13 * d[i + 2]) % 1000000007; } return sum;""")


# The replay's cells against the live ones as they look: code 0 and the blank
# alike, and a blank's foreground unseen (the terminal writer leaves it).
SAME_CELLS_JS = """const r = consolew.replay; if (!r || r.next < r.events.length) return null;
const blank = (c, i) => c[i & ~1] === 0 || c[i & ~1] === 32;
const norm = c => Array.from(c, (v, i) => i % 2 === 0 ? (v === 0 ? 32 : v) : blank(c, i) ? v & 0xF0 : v).join();
return norm(r.term.cells) === norm(consolew.cells);"""


def check_replay(d):
    """"Replay the last 10 minutes" reads the console's recording back into the
    very cells it shows now, and a click goes back to live."""
    d.find_element("id", "replay").click()
    wait_for(lambda: d.execute_script(SAME_CELLS_JS) is not None, 30, "the replay's end")
    assert d.execute_script(SAME_CELLS_JS), "the replay ends on another screen than the board's: " + str(d.execute_script(
        """const a = consolew.replay.term.cells, b = consolew.cells, out = [];
for (let i = 0; i < a.length && out.length < 12; i++) if (a[i] !== b[i])
out.push([i >> 1, i % 2, a[i], b[i]]); return out;"""))
    d.find_element("id", "replaying").click()
    assert d.execute_script("return consolew.replay === null"), "still replaying after the click"


# A screen event that says the rows moved up by 20 (the demo's desktop goes where
# blank rows come in), with the new bottom row only: the page's copy before and after.
SCROLL_JS = """const before = [Array.from(consolew.cells), consolew.text.slice()];
screenEvent({event: "screen", full: false, scroll: 20, cursor: [0, 24], rows: [arguments[0]]});
return [before, [Array.from(consolew.cells), consolew.text.slice(), document.getElementById('text').textContent]];"""


def check_scroll_event(d):
    """"scroll": N moves the page's copy up, blank rows (a space in 07h) come in
    at the bottom, and the event's rows are written over it."""
    text24 = "scrolled".ljust(80)
    cells24 = bytes(b for ch in text24.encode() for b in (ch, 0x1E))  # yellow on blue
    row = {"row": 24, "text": text24, "cells": base64.b64encode(cells24).decode()}
    (cells, text), (after, after_text, shown) = d.execute_script(SCROLL_JS, row)
    expected = cells[20 * 160:] + [0x20, 0x07] * 80 * 19 + list(cells24)  # rows 20-24 up, 19 blank, the new one
    assert after == expected, [i for i in range(4000) if after[i] != expected[i]][:12]
    assert after_text == text[20:] + [" " * 80] * 19 + [text24], after_text
    assert shown == "\n".join(after_text)


def type_keys(d, *keys):
    chain = ActionChains(d)
    for k in keys:
        if isinstance(k, tuple):
            chain.key_down(k[0]).send_keys(k[1]).key_up(k[0])
        else:
            chain.send_keys(k)
    chain.perform()


def check_demo(line):
    line.start_board(BOARDSIM)
    served = Served(CONSOLE, line)
    d = browser()
    try:
        open_page(d, served, VIEWER)
        wait_for(lambda: "Ctrl+Alt+Del" in d.execute_script("return consolew.text.join('')"), 30, "the demo screen")
        wait_for(lambda: d.execute_script("return consolew.cursor[1]") > 20, 30, "the prompt")
        check_canvas(d, served)
        before = snapshot(d)
        d.refresh()
        open_page(d, served, VIEWER)
        wait_for(lambda: snapshot(d) == before, 10, "the same screen after a reload")
        assert d.execute_script("return document.getElementById('take').hidden"), "a viewer may not take"
        check_replay(d)
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            d.save_screenshot(os.path.join(SHOTS, "web-console-view.png"))
            open_page(d, served, WRITER)
            d.find_element("id", "take").click()
            wait_for(lambda: d.execute_script("return consolew.writer"), 10, "the keyboard")
            type_keys(d, "dir", Keys.LEFT)
            d.find_element("id", "stats").click()
            d.save_screenshot(os.path.join(SHOTS, "web-console.png"))
        check_scroll_event(d)  # last: the page's copy is no longer the board's
    finally:
        d.quit()
        served.kill()


def check_keys(line):
    # What the writer's page sends, in order; the viewer's key and the one typed
    # while the socket is down must not be among them.
    expected = ["1E61", "3042", "4B00", "3B00", "8600", "2C7A", "5300"]
    line.start_board(BOARDSIM, "--script", "keys", str(len(expected)), "--timeout", "60")
    served = Served(CONSOLE, line)
    viewer, writer = browser(), browser()
    try:
        open_page(viewer, served, VIEWER)
        type_keys(viewer, "q")
        open_page(writer, served, WRITER)
        writer.find_element("id", "take").click()
        wait_for(lambda: writer.execute_script("return consolew.writer"), 10, "the keyboard")
        type_keys(writer, "a", (Keys.SHIFT, "b"), Keys.LEFT, Keys.F1, Keys.F12)
        wait_for(lambda: writer.execute_script("return consolew.unanswered") == 0, 10, "the keys in the queue")
        # The socket drops: what is typed now is dropped, never sent after the reconnect.
        writer.execute_script("consolew.ws.close()")
        type_keys(writer, "x")
        wait_for(lambda: writer.execute_script("return document.getElementById('overlay').style.display") == "flex",
                 5, "the disconnected notice")
        wait_for(lambda: writer.execute_script("return consolew.ready"), 10, "the reconnect")
        writer.find_element("id", "take").click()
        wait_for(lambda: writer.execute_script("return consolew.writer"), 10, "the keyboard again")
        type_keys(writer, "z")
        Select(writer.find_element("id", "keys")).select_by_visible_text("Ctrl+Alt+Delete")
        line.sim.wait(30)
        result = json.loads(open(line.path("board.log")).read().strip().splitlines()[-1])
        assert result["codes"] == expected, (result["codes"], expected)
    finally:
        viewer.quit()
        writer.quit()
        served.kill()


def main():
    for check in (check_demo, check_keys):
        line = Line()
        try:
            check(line)
        finally:
            line.close()
    print("web console in Chromium: ok")


if __name__ == "__main__":
    main()
