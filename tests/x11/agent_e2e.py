#!/usr/bin/python3
"""The real agent on a real X11 desktop (run inside tests/x11/session.sh).

A personal ixoserver holding a few documents is registered in temporary settings hives;
sapiolux is started, a query is typed into its window with xdotool, the suggestion lines
are read back over the accessibility bus, a screenshot is saved, and SIGTERM must stop
the agent in order: the personal server asked to shut down, the stop file written and
the window's placement saved.

usage: agent_e2e.py BIN_DIR OUT_DIR
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

from desktoptest import GTK_WINDOW, fail, find, find_app, wait_for, window_id

DOCS = [
    ("Rocks of the volcanic ridge",
     "Granite and basalt are igneous rocks; quartz crystals grow in granite while basalt "
     "cools quickly from lava flows near volcanic ridges."),
    ("Quarried stones",
     "Marble and limestone are sedimentary or metamorphic stones quarried for sculpture, "
     "and chalk cliffs hold limestone fossils."),
    ("Baking bread",
     "Flour water yeast and salt are kneaded into dough that rises overnight before baking "
     "in a hot oven until the crust is brown."),
]
QUERY = "marble limestone quarried for sculpture and chalk fossils"
EXPECTED_FIRST = "Quarried stones"



def free_ports(n):
    socks = [socket.socket() for _ in range(n)]
    for s in socks:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports



def work_area():
    out = subprocess.run(["xprop", "-root", "_NET_WORKAREA"], capture_output=True,
                         text=True).stdout
    numbers = out.split("=", 1)[1].replace(",", " ").split() if "=" in out else []
    return [int(n) for n in numbers[:4]]




def list_lines(app):
    node = find(app, "list", "Results")
    return [node.get_child_at_index(i).get_name() for i in range(node.get_child_count())] if node else []


def main():
    bin_dir, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    home = tempfile.mkdtemp(prefix="sapiolux-e2e-")
    hive = os.path.join(home, "hive")
    personal = os.path.join(home, "personal")
    runtime = os.path.join(home, "run")
    for d in (hive, os.path.join(personal, "ixo"), runtime, os.path.join(home, "data")):
        os.makedirs(d, mode=0o700, exist_ok=True)
    qport, iport = free_ports(2)
    with open(os.path.join(personal, "ixo", "ixo.ini"), "w") as f:
        f.write("[SERVER]\nQUERYPORT=%d\nINDEXPORT=%d\nCOMMITINTERVALMS=100\n" % (qport, iport))
    with open(os.path.join(hive, "machine.reg"), "w") as f:
        f.write("REGEDIT4\n\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\PersonalIXO]\n"
                '"Path"="%s"\n"ExeFilePath"="%s"\n\n'
                "[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\Sapiolux\\Miscellaneous]\n"
                '"QueryLogoPeriod"=dword:00000064\n\n' % (personal, os.path.join(bin_dir, "ixoserver")))
    # In a sanitizer build the programs' leak check is left to the unit tests: the desktop
    # libraries (D-Bus, accessibility) keep allocations until exit.
    asan = os.environ.get("ASAN_OPTIONS", "")
    env = dict(os.environ, ASAN_OPTIONS=(asan + ":" if asan else "") + "detect_leaks=0",
               SAPIOLUX_USER_HIVE_DIR=hive, SAPIOLUX_MACHINE_HIVE_DIR=hive,
               SAPIOLUX_DATA_DIR=os.path.join(home, "data"), XDG_RUNTIME_DIR=runtime)

    server = subprocess.Popen([os.path.join(bin_dir, "ixoserver"), "-runhidden", "--home", personal],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    agent = None
    control = None
    try:
        wait_for("ixoserver", lambda: os.path.exists(os.path.join(personal, "ixo", "ports")), 30)
        idx = "".join("#IXOREFERENCE file:///doc/%d\n#IXOTITLE %s\n#IXOCONTENT\n%s\n#IXOENDDOC\n"
                      % (i, title, text) for i, (title, text) in enumerate(DOCS))
        idx_file = os.path.join(home, "docs.idx")
        with open(idx_file, "w") as f:
            f.write(idx)
        # The server made an index user of its own; ixoclient reads it from the home.
        subprocess.run([os.path.join(bin_dir, "ixoclient"), "--home", personal, "index",
                        idx_file], env=env, check=True, stdout=subprocess.DEVNULL)
        time.sleep(0.5)

        full_area = work_area()
        started = time.time()
        agent = subprocess.Popen([os.path.join(bin_dir, "sapiolux")], env=env)
        window = wait_for("the agent's window", lambda: subprocess.run(
            ["xdotool", "search", "--name", "^Halvoran Vantri"], capture_output=True,
            text=True).stdout.split(), 20)[0]
        print("window %s up after %.2f s" % (window, time.time() - started))
        # Docked at the bottom (the default): other windows lose a strip of 53 pixels.
        docked = full_area[:3] + [full_area[3] - 53]
        wait_for("the work area to shrink by the docked strip", lambda: work_area() == docked, 10)

        # A second copy ends at once, leaving the first alone.
        second = subprocess.run([os.path.join(bin_dir, "sapiolux")], env=env, timeout=10)
        if second.returncode != 0:
            fail("second copy exited %d" % second.returncode)
        if agent.poll() is not None:
            fail("the first copy ended")

        app = wait_for("the agent on the accessibility bus", lambda: find_app("sapiolux"), 20)

        # Click into the list area (which enters typed-query mode), type, press Enter.
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                  capture_output=True, text=True, check=True).stdout
        values = dict(line.split("=", 1) for line in geometry.split())
        x = int(values["X"]) + int(values["WIDTH"]) // 2
        y = int(values["Y"]) + int(values["HEIGHT"]) // 3
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        time.sleep(0.3)
        subprocess.run(["xdotool", "type", "--delay", "5", QUERY], check=True)
        subprocess.run(["xdotool", "key", "Return"], check=True)

        lines = wait_for("suggestion lines", lambda: list_lines(app), 20)
        print("lines read over the accessibility bus:")
        for line in lines:
            print("  " + line)
        if not lines[0].endswith("   " + EXPECTED_FIRST):
            fail("first line is %r, expected the %r document" % (lines[0], EXPECTED_FIRST))

        shot = os.path.join(out_dir, "x11-agent.png")
        subprocess.run(["import", "-window", "root", shot], check=True)
        print("screenshot: " + shot)

        # A stand-in for the personal server's control window: a window of that title that
        # ends when the window manager asks it to close.
        control = subprocess.Popen(["/usr/bin/python3", "-c", GTK_WINDOW,
                                    "Halvoran Personal Vantri", idx_file], env=env)
        ids = wait_for("the control window", lambda: subprocess.run(
            ["xdotool", "search", "--name", "^Halvoran Personal Vantri$"], capture_output=True,
            text=True).stdout.split(), 20)
        # The agent finds it in the window manager's client list, which follows the mapping.
        wait_for("the control window managed", lambda: hex(int(ids[0])) in subprocess.run(
            ["xprop", "-root", "_NET_CLIENT_LIST"], capture_output=True, text=True).stdout, 10)

        agent.send_signal(signal.SIGTERM)
        t0 = time.time()
        try:
            code = agent.wait(timeout=5)
        except subprocess.TimeoutExpired:
            fail("the agent did not end within 5 s of SIGTERM")
        print("agent ended with %d after %.2f s" % (code, time.time() - t0))
        if code != 0:
            fail("agent exit code %d" % code)
        try:
            control.wait(timeout=10)
        except subprocess.TimeoutExpired:
            control.kill()
            fail("the control window was not asked to close")
        wait_for("the work area back whole", lambda: work_area() == full_area, 10)
        # The server ends on the shutdown request (and removes the stop file as it ends).
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            fail("the personal server was not asked to shut down")
        with open(os.path.join(hive, "user.reg"), encoding="latin-1") as f:
            user = f.read()
        if '"XPosition"' not in user or '"Width"' not in user:
            fail("placement not saved:\n" + user)
        print("PASS")
    finally:
        for proc in (agent, server, control):
            if proc is not None and proc.poll() is None:
                proc.kill()
                proc.wait()
        subprocess.run(["rm", "-rf", home])


if __name__ == "__main__":
    main()
