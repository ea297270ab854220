#!/usr/bin/python3
"""The demo's desktop part: the real agent captures a window by itself.

Runs inside tests/x11/session.sh (Xvfb, openbox, a session bus, the accessibility bus).
The personal server is already running and indexed; the settings hives of the demo home
register it. It starts sapiolux, opens a GTK window showing the passage, switches to it,
waits until the agent has read the window and listed its suggestions, prints the lines
as read over the accessibility bus, saves a screenshot and ends the agent.

usage: demo_desktop.py BIN_DIR DEMO_HOME PASSAGE_FILE TITLE SCREENSHOT
"""
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "x11"))
import desktoptest  # noqa: E402
from desktoptest import GTK_WINDOW, fail, find, find_app, wait_for, window_id  # noqa: E402

# A suggestion line: "87%   title".
SUGGESTION = re.compile(r"^\d+%\s")


def list_lines(app):
    node = find(app, "list", "Results")
    if node is None:
        return []
    return [node.get_child_at_index(i).get_name() for i in range(node.get_child_count())]


def main():
    bin_dir, home, passage, title, shot = sys.argv[1:6]
    env = dict(os.environ,
               SAPIOLUX_USER_HIVE_DIR=os.path.join(home, "hive"),
               SAPIOLUX_MACHINE_HIVE_DIR=os.path.join(home, "hive"),
               SAPIOLUX_DATA_DIR=os.path.join(home, "agent"),
               XDG_RUNTIME_DIR=os.path.join(home, "run"))
    procs = []
    seen = []

    def show_seen():
        for line in seen:
            print("  seen: " + line, file=sys.stderr)
    desktoptest.on_fail = show_seen

    def start(args):
        p = subprocess.Popen(args, env=env)
        procs.append(p)
        return p

    try:
        agent = start([os.path.join(bin_dir, "sapiolux")])
        # Its title may name the selected source after the product name.
        wait_for("the agent's window", lambda: subprocess.run(
            ["xdotool", "search", "--name", "^Halvoran Vantri"], capture_output=True,
            text=True).stdout.split(), 30)
        app = wait_for("the agent on the accessibility bus", lambda: find_app("sapiolux"), 30)
        print("== the agent is up; opening a window with the passage")

        # The passage window and an empty scratch window are opened first; then the
        # passage window is switched to, as a user would, and the agent reads it 1.5 s later.
        start(["/usr/bin/python3", "-c", GTK_WINDOW, title, passage, "scroll"])
        shown = wait_for("the passage window", lambda: window_id(title), 20)
        scratch_file = os.path.join(home, "scratch.txt")
        with open(scratch_file, "w") as f:
            f.write("\n")
        scratch_window = start(["/usr/bin/python3", "-c", GTK_WINDOW, "Scratch", scratch_file])
        scratch = wait_for("the scratch window", lambda: window_id("Scratch"), 20)
        time.sleep(2.0)
        subprocess.run(["xdotool", "windowmove", "--sync", scratch, "700", "80"], check=False)
        subprocess.run(["xdotool", "windowmove", "--sync", shown, "60", "60"], check=False)
        subprocess.run(["xdotool", "windowsize", "--sync", shown, "620", "420"], check=False)
        started = time.time()
        subprocess.run(["xdotool", "windowactivate", "--sync", shown], check=True)

        def suggestions():
            lines = list_lines(app)
            joined = " | ".join(lines)
            if lines and (not seen or seen[-1] != joined):
                seen.append(joined)
            return lines if lines and SUGGESTION.match(lines[0]) else None

        lines = wait_for("the agent's suggestions for the passage window", suggestions, 45)
        print("== the agent read the window by itself and listed, after %.1f s "
              "(read over the accessibility bus):" % (time.time() - started))
        for line in lines:
            print("   " + line)
        scratch_window.kill()  # not needed any more; the screenshot shows the passage
        time.sleep(0.5)  # let the list finish painting
        os.makedirs(os.path.dirname(shot), exist_ok=True)
        subprocess.run(["import", "-window", "root", shot], check=True)
        print("== screenshot: " + shot)

        agent.send_signal(signal.SIGTERM)
        try:
            code = agent.wait(timeout=15)
        except subprocess.TimeoutExpired:
            fail("the agent did not end after SIGTERM")
        if code != 0:
            fail("the agent ended with %d" % code)
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()


if __name__ == "__main__":
    main()
