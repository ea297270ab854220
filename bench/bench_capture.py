#!/usr/bin/python3
"""Window text capture on X11, measured (run inside tests/x11/session.sh).

1. The text reader (sxNT.so, loaded through ctypes as the agent loads it): the time from
   asking for a window's text to the text waiting in the mailslot, for GTK text views of
   10 KB and 200 KB, median of several reads.
2. The agent itself: the time from a window becoming active to the suggestion request
   reaching a stand-in retrieval server, less the 1.5 s the agent waits for a window to
   settle, for a 10 KB window.

usage: bench_capture.py BIN_DIR [READS]
"""
import ctypes
import http.server
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "x11"))
import desktoptest  # noqa: E402
from desktoptest import GTK_WINDOW, wait_for, write_extended  # noqa: E402


WORDS = ("granite basalt quartz crystal volcanic ridge lava flow igneous rock mineral "
         "erosion sediment layer fossil glacier valley river delta plateau canyon").split()


def prose(size):
    out, i = [], 0
    total = 0
    while total < size:
        sentence = " ".join(WORDS[(i * 7 + k) % len(WORDS)] for k in range(12)) + ". "
        out.append(sentence)
        total += len(sentence)
        i += 1
    return "".join(out)[:size]


def window_id(title):
    return int(wait_for("the window " + title, lambda: desktoptest.window_id(title), 10))


class SxHost(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("post", ctypes.c_void_p),
                ("ownPid", ctypes.c_int32), ("mailslotPath", ctypes.c_char_p),
                ("timeoutMs", ctypes.c_int32)]


class SxTextHook(ctypes.Structure):
    _fields_ = [("version", ctypes.c_int32),
                ("getText", ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.POINTER(SxHost), ctypes.c_uint64)),
                ("lastClass", ctypes.c_void_p), ("shutdown", ctypes.CFUNCTYPE(None))]


def bench_reader(bin_dir, home, reads):
    lib = ctypes.CDLL(os.path.join(bin_dir, "..", "lib", "sxNT.so"))
    lib.GetMessageHookFunction.restype = ctypes.POINTER(SxTextHook)
    hook = lib.GetMessageHookFunction().contents
    slot_path = os.path.join(home, "slot")
    slot = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    slot.bind(slot_path)
    slot.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    done = threading.Event()
    post_type = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_size_t,
                                 ctypes.c_ssize_t)
    post = post_type(lambda ctx, msg, w, l: done.set())
    host = SxHost(None, ctypes.cast(post, ctypes.c_void_p), 0, slot_path.encode(), 1500)
    results = {}
    for size in (10 * 1024, 200 * 1024):
        path = os.path.join(home, "text%d.txt" % size)
        with open(path, "w") as f:
            f.write(prose(size))
        title = "Bench %d" % size
        proc = subprocess.Popen(["/usr/bin/python3", "-c", GTK_WINDOW, title, path, "scroll"])
        wid = window_id(title)
        time.sleep(1.0)
        times, got = [], 0
        for _ in range(reads):
            done.clear()
            t0 = time.perf_counter()
            hook.getText(ctypes.byref(host), wid)
            if not done.wait(10):
                raise SystemExit("no text for " + title)
            times.append(time.perf_counter() - t0)
            got = len(slot.recv(1 << 17))
        proc.kill()
        proc.wait()
        results[size] = (statistics.median(times), got)
        print("reader: %3d KB text view: median %.1f ms over %d reads (%d bytes read)"
              % (size // 1024, statistics.median(times) * 1000, reads, got))
    hook.shutdown()
    return results


arrivals = []


class StandIn(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        if "qmethod=E" in self.path:
            arrivals.append(time.perf_counter())
        body = b"numhits=0\n"
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def bench_agent(bin_dir, home, rounds):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), StandIn)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    data, hive, run = (os.path.join(home, d) for d in ("data", "hive", "run"))
    for d in (data, hive, run):
        os.makedirs(d, mode=0o700)
    write_extended(os.path.join(data, "Extended.cfg"),
                   "[Settings]\nIXO=127.0.0.1\nPORT=%d\nSOURCE=3\nNOENCRYPTQUERY=1\n"
                   "NOCOMPRESS=1\nBLOCKPORN=1\nWEBDATABASES=web\n" % server.server_port)
    with open(os.path.join(hive, "machine.reg"), "w") as f:
        f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\Sapiolux\\ApplicationIxo]\n"
                '"UseClientCache"=dword:00000000\n\n')
    env = dict(os.environ, SAPIOLUX_USER_HIVE_DIR=hive, SAPIOLUX_MACHINE_HIVE_DIR=hive,
               SAPIOLUX_DATA_DIR=data, XDG_RUNTIME_DIR=run)
    agent = subprocess.Popen([os.path.join(bin_dir, "sapiolux")], env=env)
    window_id("Halvoran Vantri")
    texts = []
    for k in range(2):
        path = os.path.join(home, "w%d.txt" % k)
        with open(path, "w") as f:
            f.write(prose(10 * 1024))
        texts.append(subprocess.Popen(["/usr/bin/python3", "-c", GTK_WINDOW, "W%d" % k, path], env=env))
    ids = [window_id("W0"), window_id("W1")]
    time.sleep(1.0)
    delays = []
    for r in range(rounds):
        before = len(arrivals)
        t0 = time.perf_counter()
        subprocess.run(["xdotool", "windowactivate", str(ids[r % 2])])
        until = time.time() + 10
        while len(arrivals) == before and time.time() < until:
            time.sleep(0.005)
        if len(arrivals) > before:
            delays.append(arrivals[before] - t0 - 1.5)
        time.sleep(0.5)
    agent.terminate()
    agent.wait()
    for p in texts:
        p.kill()
        p.wait()
    server.shutdown()
    print("agent: window change to request sent, less the 1.5 s settle time: median %.0f ms, "
          "max %.0f ms over %d changes"
          % (statistics.median(delays) * 1000, max(delays) * 1000, len(delays)))


def main():
    bin_dir = sys.argv[1]
    reads = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    home = tempfile.mkdtemp(prefix="sapiolux-bench-")
    try:
        bench_reader(bin_dir, home, reads)
        bench_agent(bin_dir, home, reads)
    finally:
        subprocess.run(["rm", "-rf", home])


if __name__ == "__main__":
    main()
