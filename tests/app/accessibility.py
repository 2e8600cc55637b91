"""Reads the program's four windows as a screen reader does, over AT-SPI.

Started by CTest inside a session bus of its own (dbus-run-session), which
starts the accessibility bus and its registry on demand. Starts the program
with a settings file (so no open dialog comes first), in the language of
the environment, then checks on the
main window, About, the screen programmer and the USB programmer that every
entry field, button, list and gauge has its role and its name, the fields
the names of their row and column in the language of the run, and that the
screen programmer's status line announces its changes. Prints the main
window's accessible tree.
    accessibility.py PROGRAM CATALOGUE_FOLDER
"""
import gettext
import os
import subprocess
import shutil
import sys
import tempfile
import time

import pyatspi

program, catalogues = sys.argv[1:3]
language = os.environ.get("LANG", "C").split(".")[0]
_ = gettext.translation("dravik", catalogues, languages=[language], fallback=True).gettext

FIELDS = ["Stamp current", "Stamp timeout (ms)", "Stamp delay (ms)", "Stamp Return current",
          "Stamp Return timeout (ms)", "Stamp Return delay (ms)", "Replace Die current", "Replace Die timeout (ms)",
          "Replace Die delay (ms)", "Paper Sensor sensitivity", "Paper Sensor activate time (ms)"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL", what)


def wait_for(find, what, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    sys.exit(f"FAIL {what} did not appear over AT-SPI")


def descendants(node):
    for child in node:
        if child is not None:
            yield child
            yield from descendants(child)


def window(title):
    def find():
        apps = [app for app in pyatspi.Registry.getDesktop(0) if app is not None and app.name == "dravik"]
        return next((w for app in apps for w in app if w is not None and w.name == title), None)
    return find


def named(node, role, name):
    return next((d for d in descendants(node) if d.getRole() == role and d.name == name), None)


def click(node, role, name):
    button = wait_for(lambda: named(node, role, name), f"{name!r}")
    if role == pyatspi.ROLE_PUSH_BUTTON:
        # Focused and pressed from the keyboard, as a screen reader's user does.
        button.queryComponent().grabFocus()
        time.sleep(0.2)
        subprocess.run(["xdotool", "key", "space"], check=True)
    else:
        button.queryAction().doAction(0)


def check_controls(dialog, where):
    for control in descendants(dialog):
        if control.getRole() in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_PROGRESS_BAR,
                                 pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE):
            check(control.name, f"{where}: a {control.getRoleName()} has no name")


# The program in a home of its own (its window placement), with the bridge to
# the accessibility bus that the other window tests switch off.
home = tempfile.mkdtemp()
settings_file = os.path.join(home, "example.dvk")
with open(settings_file, "wb") as f:
    f.write(b'<Dravik_38417 version="100">\r\n\t<Stamp current="120" timeout="500" delay="40"/>\r\n'
            b'\t<StampReturn current="100" timeout="500" delay="40"/>\r\n'
            b'\t<Replace current="150" timeout="900" delay="100"/>\r\n'
            b'\t<PaperSensor sensitivity="60" activate="250"/>\r\n</Dravik_38417>\r\n\r\n')
# The registry up before the program, whose bridge registers at start.
pyatspi.Registry.getDesktop(0).childCount
time.sleep(1)
env = dict(os.environ, HOME=home)
env.pop("NO_AT_BRIDGE", None)
dravik = subprocess.Popen([program, settings_file], env=env)
try:
    main = wait_for(window("Dravik Embosser Controller"), "the main window")
    print("The main window's accessible tree (role: name):")
    for control in descendants(main):
        if control.getRole() not in (pyatspi.ROLE_FILLER, pyatspi.ROLE_PANEL, pyatspi.ROLE_SEPARATOR):
            print(f"  {control.getRoleName()}: {control.name}")
    fields = [c.name for c in descendants(main) if c.getRole() == pyatspi.ROLE_TEXT]
    check(fields == [_(name) for name in FIELDS], f"the fields are named {fields}")
    check_controls(main, "main window")

    # Help > About from the keyboard, by the menus' Alt-key letters.
    def letter(text):
        return text[text.index("&") + 1].lower()
    next(c for c in descendants(main) if c.getRole() == pyatspi.ROLE_TEXT).queryComponent().grabFocus()
    time.sleep(0.3)
    subprocess.run(["xdotool", "key", "alt+" + letter(_("&Help"))], check=True)
    time.sleep(0.5)
    subprocess.run(["xdotool", "key", letter(_("&About"))], check=True)
    about = wait_for(window(_("Dravik - About")), "About")
    check_controls(about, "About")
    click(about, pyatspi.ROLE_PUSH_BUTTON, _("OK"))
    wait_for(lambda: not window(_("Dravik - About"))(), "About closing")

    click(main, pyatspi.ROLE_PUSH_BUTTON, _("Program"))
    screen = wait_for(window(_("Dravik - Screen Programmer")), "the screen programmer")
    check_controls(screen, "screen programmer")
    check(named(screen, pyatspi.ROLE_PROGRESS_BAR, _("Progress")), "the screen programmer's gauge is unnamed")
    # The status line's new text reaches the bus.
    click(screen, pyatspi.ROLE_PUSH_BUTTON, _("Start"))
    countdown = [_("Starting in...%d") % n for n in (3, 2, 1)]
    check(wait_for(lambda: named(screen, pyatspi.ROLE_LABEL, countdown[0]) or
                   named(screen, pyatspi.ROLE_LABEL, countdown[1]), "the countdown"), "no countdown")
    click(screen, pyatspi.ROLE_PUSH_BUTTON, _("Stop"))
    click(screen, pyatspi.ROLE_PUSH_BUTTON, _("Exit"))

    click(main, pyatspi.ROLE_PUSH_BUTTON, _("USB Program"))
    usb = wait_for(window(_("Dravik - USB Programmer")), "the USB programmer")
    check_controls(usb, "USB programmer")
    lists = [c.name for c in descendants(usb) if c.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE)]
    check(lists == [_("Controllers")], f"the USB programmer's list is named {lists}")
    click(usb, pyatspi.ROLE_PUSH_BUTTON, _("Exit"))
finally:
    dravik.kill()
    dravik.wait()
    shutil.rmtree(home)
print(f"{0 if failures else 1} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
