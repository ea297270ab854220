#!/usr/bin/python3
"""The agent reads other programs' windows by itself (run inside tests/x11/session.sh).

A loopback HTTP server stands in for the retrieval server and records the suggestion
requests. The agent must send the terms of: a GTK 3 window it is switched to, a Qt
window, new clipboard text, and a window picked with the hit tool; and a program that
stops answering the accessibility bus must not stop it from reading the next window.

usage: capture_e2e.py BIN_DIR OUT_DIR
"""
import http.server
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

import desktoptest
from desktoptest import (GTK_WINDOW, Atspi, activate, fail, find, find_app, wait_for,
                         window_id, write_extended)

PASSAGES = {
    "gtk": "Granite and basalt are igneous rocks; quartz crystals grow in granite while "
           "basalt cools quickly from lava flows near volcanic ridges.",
    "qt": "Sourdough bread rises slowly because wild yeast and lactobacilli ferment the "
          "flour; bakers knead the dough and proof it overnight.",
    "clip": "Penguins and albatrosses nest on subantarctic islands where krill swarms feed "
            "the colonies through the southern summer.",
    "picked": "Violins, violas and cellos are string instruments whose bows of horsehair "
              "draw rosin across the strings in orchestras.",
    "hung": "Glaciers carve fjords and moraines as compacted snow flows downhill under its "
            "own weight across mountain valleys.",
    "after": "Lighthouses guide ships past reefs and headlands with rotating lenses and "
             "foghorns along rocky coastlines at night.",
}
# A term of each passage as it appears in the query (upper case, stemmed form's start).
MARKS = {"gtk": "BASALT", "qt": "SOURDOUGH", "clip": "PENGUIN", "picked": "VIOLIN",
         "hung": "GLACIER", "after": "LIGHTHOUS"}


requests = []
requests_lock = threading.Lock()


class StandIn(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        with requests_lock:
            requests.append(self.path)
        body = ("numhits=1\nDoc_name=http://example/doc\nURL_title=Stand-in result\n"
                "Doc_id=1\nDoc_weight=77\nlinks=\ndbase=0\n").encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass





def print_seen():
    with requests_lock:
        for r in requests:
            print("  seen: " + r[:200], file=sys.stderr)


desktoptest.on_fail = print_seen


def query_with(mark):
    with requests_lock:
        return any("qmethod=E" in r and mark in r for r in requests)




def main():
    bin_dir, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    home = tempfile.mkdtemp(prefix="sapiolux-capture-")
    hive, data, runtime = (os.path.join(home, d) for d in ("hive", "data", "run"))
    for d in (hive, data, runtime):
        os.makedirs(d, mode=0o700)
    files = {}
    for key, text in PASSAGES.items():
        files[key] = os.path.join(home, key + ".txt")
        with open(files[key], "w") as f:
            f.write(text)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), StandIn)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    write_extended(os.path.join(data, "Extended.cfg"),
                   "[Settings]\nIXO=127.0.0.1\nPORT=%d\nSOURCE=3\nNOENCRYPTQUERY=1\n"
                   "NOCOMPRESS=1\nBLOCKPORN=1\nWEBDATABASES=web\n" % server.server_port)
    with open(os.path.join(hive, "user.reg"), "w") as f:
        f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Halvoran\\Sapiolux\\Suggestions]\n"
                '"SuggestFromClipboard"=dword:00000001\n"AutoPopup"=dword:00000000\n\n')
    with open(os.path.join(hive, "machine.reg"), "w") as f:
        f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\Sapiolux\\Miscellaneous]\n"
                '"QueryLogoPeriod"=dword:00000064\n\n')
    # In a sanitizer build the programs' leak check is left to the unit tests: the desktop
    # libraries (D-Bus, accessibility) keep allocations until exit.
    asan = os.environ.get("ASAN_OPTIONS", "")
    env = dict(os.environ, ASAN_OPTIONS=(asan + ":" if asan else "") + "detect_leaks=0",
               SAPIOLUX_USER_HIVE_DIR=hive, SAPIOLUX_MACHINE_HIVE_DIR=hive,
               SAPIOLUX_DATA_DIR=data, XDG_RUNTIME_DIR=runtime)

    procs = []

    def start(args):
        p = subprocess.Popen(args, env=env)
        procs.append(p)
        return p

    try:
        agent = start([os.path.join(bin_dir, "sapiolux")])
        wait_for("the agent to reach its server", lambda: window_id("Halvoran Vantri"), 30)
        app = wait_for("the agent on the accessibility bus", lambda: find_app("sapiolux"), 20)

        # A GTK and a Qt window. Both are opened first (a window the window manager
        # activates as it opens may be read before its program is ready), then each is
        # switched to: read 1.5 s later, its terms sent.
        start(["/usr/bin/python3", "-c", GTK_WINDOW, "GTK notes", files["gtk"]])
        start([os.path.join(bin_dir, "qtnotes"), "Qt notes", files["qt"]])
        gtk = wait_for("the GTK window", lambda: window_id("GTK notes"), 20)
        qt = wait_for("the Qt window", lambda: window_id("Qt notes"), 20)
        time.sleep(2.0)
        activate(qt)
        time.sleep(0.5)
        t0 = time.time()
        activate(gtk)
        wait_for("the GTK window's query", lambda: query_with(MARKS["gtk"]), 15)
        print("GTK window: query after %.2f s" % (time.time() - t0))
        t0 = time.time()
        activate(qt)
        wait_for("the Qt window's query", lambda: query_with(MARKS["qt"]), 15)
        print("Qt window: query after %.2f s" % (time.time() - t0))

        # New clipboard text.
        clip = subprocess.Popen(["xclip", "-selection", "clipboard"],
                                stdin=subprocess.PIPE, env=env)
        procs.append(clip)
        clip.stdin.write(PASSAGES["clip"].encode())
        clip.stdin.close()
        wait_for("the clipboard's query", lambda: query_with(MARKS["clip"]), 15)
        print("clipboard: query sent")

        # The hit tool dragged onto a window that is not the active one.
        start(["/usr/bin/python3", "-c", GTK_WINDOW, "Picked notes", files["picked"]])
        picked = wait_for("the window to pick", lambda: window_id("Picked notes"), 20)
        subprocess.run(["xdotool", "windowmove", "--sync", picked, "40", "300"], check=True)
        activate(gtk)
        button = wait_for("the hit tool", lambda: find(app, "push button", "Hit-tool"), 10)
        box = button.get_extents(Atspi.CoordType.SCREEN)
        bx, by = box.x + box.width // 2, box.y + box.height // 2
        subprocess.run(["xdotool", "mousemove", "--sync", str(bx), str(by), "mousedown", "1"],
                       check=True)
        for step in range(1, 6):
            subprocess.run(["xdotool", "mousemove", "--sync", str(bx + (200 - bx) * step // 5),
                            str(by + (420 - by) * step // 5)], check=True)
            time.sleep(0.05)
        subprocess.run(["import", "-window", "root", os.path.join(out_dir, "x11-hit-tool.png")])
        subprocess.run(["xdotool", "mouseup", "1"], check=True)
        wait_for("the picked window's query", lambda: query_with(MARKS["picked"]), 15)
        print("hit tool: query sent")
        # Release the picked window again (right click on the tool).
        subprocess.run(["xdotool", "mousemove", "--sync", str(bx), str(by), "click", "3"],
                       check=True)

        # A program that stops answering: reading it waits at most the time-outs, and the
        # next window is still read. (A text already asked for may be answered from the
        # agent's cache without a request, so the next window shows a new text.)
        start(["/usr/bin/python3", "-c", GTK_WINDOW, "After notes", files["after"]])
        after = wait_for("the window after", lambda: window_id("After notes"), 20)
        hung = start(["/usr/bin/python3", "-c", GTK_WINDOW, "Hung notes", files["hung"]])
        hung_id = wait_for("the window that will hang", lambda: window_id("Hung notes"), 20)
        hung.send_signal(signal.SIGSTOP)
        subprocess.run(["xdotool", "windowactivate", hung_id])
        time.sleep(3.5)  # long enough for the agent to try to read it
        t0 = time.time()
        subprocess.run(["xdotool", "windowactivate", after])
        wait_for("a query after the hung program", lambda: query_with(MARKS["after"]), 40)
        print("after a hung program: next query within %.2f s" % (time.time() - t0))
        hung.send_signal(signal.SIGCONT)

        agent.send_signal(signal.SIGTERM)
        try:
            code = agent.wait(timeout=10)
        except subprocess.TimeoutExpired:
            fail("the agent did not end after SIGTERM")
        if code != 0:
            fail("agent exit code %d" % code)
        print("PASS")
    finally:
        for p in procs:
            if p.poll() is None:
                try:
                    p.send_signal(signal.SIGCONT)
                    p.kill()
                    p.wait(timeout=5)
                except Exception:
                    pass
        server.shutdown()
        subprocess.run(["rm", "-rf", home])


if __name__ == "__main__":
    main()
