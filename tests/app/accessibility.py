"""Reads the program's four windows over AT-SPI as a screen reader does, in the
language of the environment, in a session bus of its own: every field, button,
list and gauge named (the fields by row and column), the status changes
announced; prints the main window's tree.  Usage: accessibility.py PROGRAM CATALOGUES
"""
import gettext
import os
import subprocess
import sys
import tempfile
import time

import pyatspi as R
from gi.repository import GLib

program, catalogues = sys.argv[1:3]
_ = gettext.translation("dravik", catalogues, languages=[os.environ["LANG"].split(".")[0]], fallback=True).gettext
FIELDS = ["Stamp current", "Stamp timeout (ms)", "Stamp delay (ms)", "Stamp Return current",
          "Stamp Return timeout (ms)", "Stamp Return delay (ms)", "Replace Die current", "Replace Die timeout (ms)",
          "Replace Die delay (ms)", "Paper Sensor sensitivity", "Paper Sensor activate time (ms)"]
LIST = (R.ROLE_TABLE, R.ROLE_TREE_TABLE)  # as GTK's versions have it
NAMED = (R.ROLE_PUSH_BUTTON, R.ROLE_TEXT, R.ROLE_PROGRESS_BAR) + LIST
heard = []  # (role, text) of each text put into a control, as the bus announces it


def fail(what):
    sys.exit(f"FAIL {what}")


def wait_for(find, what):
    for _tick in range(150):
        while GLib.MainContext.default().iteration(False):  # takes in the bus's events
            pass
        if found := find():
            return found
        time.sleep(0.1)
    fail(what)


def descendants(node):
    for child in filter(None, node):
        yield child
        yield from descendants(child)


def window(title):
    apps = [app for app in R.Registry.getDesktop(0) if app is not None and app.name == "dravik"]
    return next((w for app in apps for w in app if w is not None and w.name == title), None)


def named(node, roles, name):
    return next((d for d in descendants(node) if d.getRole() in roles and d.name == name), None)


def press(node, *keys, button=None):
    """Keys on a control (a button by its label), as a screen reader's user presses them."""
    if button:
        node = wait_for(lambda: named(node, [R.ROLE_PUSH_BUTTON], button), f"no button {button!r}")
    node.queryComponent().grabFocus()
    for key in keys or ["space"]:
        time.sleep(0.3)
        subprocess.run(["xdotool", "key", key], check=True)


def open_window(title, *controls):
    """The window once shown, every field, button, list and gauge in it named, and the controls given in it."""
    found = wait_for(lambda: window(title), f"no window {title!r}")
    unnamed = [c.getRoleName() for c in descendants(found) if c.getRole() in NAMED and not c.name]
    unnamed and fail(f"{title}: unnamed {unnamed}")
    for roles, name in controls:
        named(found, roles, name) or fail(f"{title}: nothing named {name!r}")
    return found


# The program in a home of its own (its window placement), with the bridge to
# the accessibility bus that the other window tests switch off; the registry
# up first, as the bridge registers at start. A file, so no open dialog comes first.
R.Registry.registerEventListener(lambda e: heard.append((e.source.getRole(), e.any_data)), "object:text-changed:insert")
time.sleep(1)
example = os.path.join(os.path.dirname(__file__), "..", "files", "corpus", "example.dvk")
env = {name: value for name, value in os.environ.items() if name != "NO_AT_BRIDGE"}
with tempfile.TemporaryDirectory() as home, subprocess.Popen([program, example], env=dict(env, HOME=home)) as dravik:
    try:
        main = open_window("Dravik Embosser Controller")
        tree = [f"  {c.getRoleName()}: {c.name}" for c in descendants(main)
                if c.getRole() not in (R.ROLE_FILLER, R.ROLE_PANEL, R.ROLE_SEPARATOR)]
        print("The main window's accessible tree (role: name):", *tree, sep="\n")
        fields = [c.name for c in descendants(main) if c.getRole() == R.ROLE_TEXT]
        fields == [_(name) for name in FIELDS] or fail(f"the fields are named {fields}")

        # Help > About by the menus' Alt-key letters in the language of the run.
        letter = [_(text)[_(text).index("&") + 1].lower() for text in ("&Help", "&About")]
        press(named(main, [R.ROLE_TEXT], fields[0]), "alt+" + letter[0], letter[1])
        press(open_window(_("Dravik - About")), button=_("OK"))
        wait_for(lambda: not window(_("Dravik - About")), "About does not close")

        press(main, button=_("Program"))
        screen = open_window(_("Dravik - Screen Programmer"), ([R.ROLE_PROGRESS_BAR], _("Progress")))
        # Each new status reaches a screen reader as the label's new text.
        for button, status in ((_("Start"), _("Starting in...%d") % 3), (_("Stop"), _("Programming...Stopped"))):
            press(screen, button=button)
            wait_for(lambda: (R.ROLE_LABEL, status) in heard, f"{status!r} not announced")
        press(screen, button=_("Exit"))

        press(main, button=_("USB Program"))
        usb = open_window(_("Dravik - USB Programmer"), (LIST, _("Controllers")),
                          ([R.ROLE_LABEL], _("No controller found.")))
        press(usb, button=_("Exit"))
    finally:
        dravik.kill()
print("PASS")
