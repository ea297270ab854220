"""What the X11 end-to-end tests and the capture benchmark share: waiting, finding
windows by title and objects on the accessibility bus, a GTK text window to read, and
the agent's Extended file."""
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# A GTK 3 window showing a text file: python3 -c GTK_WINDOW TITLE FILE [scroll] (a long
# text wants the scrolled view).
GTK_WINDOW = """
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title=sys.argv[1])
w.set_default_size(500, 300)
view = Gtk.TextView()
view.get_buffer().set_text(open(sys.argv[2]).read())
if len(sys.argv) > 3:
    scroll = Gtk.ScrolledWindow()
    scroll.add(view)
    w.add(scroll)
else:
    w.add(view)
w.connect("destroy", Gtk.main_quit)
w.show_all()
Gtk.main()
"""

# Called with the failure's message before the script ends (to print what it saw).
on_fail = None


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    if on_fail:
        on_fail()
    sys.exit(1)


def wait_for(what, predicate, seconds):
    until = time.time() + seconds
    while time.time() < until:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def window_id(title):
    """The id of the window of exactly this title, or None."""
    out = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], capture_output=True,
                         text=True).stdout.split()
    return out[0] if out else None


def activate(window):
    """Makes the window the active one and waits until the window manager names it
    active; an activation that went astray (seen rarely on a loaded desktop) is asked
    for again."""
    for _ in range(3):
        try:
            subprocess.run(["xdotool", "windowactivate", "--sync", window],
                           capture_output=True, timeout=5)
        except subprocess.TimeoutExpired:
            pass
        deadline = time.time() + 3
        while time.time() < deadline:
            active = subprocess.run(["xdotool", "getactivewindow"], capture_output=True,
                                    text=True).stdout.strip()
            if active == window:
                return
            time.sleep(0.1)
    fail("window %s could not be made active" % window)


def find_app(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def find(node, role, name):
    return next((n for n in walk(node) if n.get_role_name() == role and n.get_name() == name),
                None)


def write_extended(path, text):
    """The agent's Extended file, stored with every byte XORed with 0x5A."""
    with open(path, "wb") as f:
        f.write(bytes(b ^ 0x5A for b in text.encode()))
