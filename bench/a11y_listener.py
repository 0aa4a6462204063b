"""Runs a command while a listener on the accessibility bus takes every event of
the kinds a screen reader follows (names, texts, values, states), as one would
during a compile: bench/gui_compile.sh with A11Y=1. Exits with the command's code.
Run with /usr/bin/python3 (python3-pyatspi) under dbus-run-session."""
import subprocess
import sys

import pyatspi
from gi.repository import GLib

events = [0]


def heard(event):
    events[0] += 1


for kind in ("object:property-change", "object:text-changed", "object:state-changed",
             "object:value-changed", "object:children-changed"):
    pyatspi.Registry.registerEventListener(heard, kind)

child = subprocess.Popen(sys.argv[1:])


def check():
    if child.poll() is None:
        return True
    pyatspi.Registry.stop()
    return False


GLib.timeout_add(50, check)
pyatspi.Registry.start()
print("accessibility events heard: %d" % events[0], file=sys.stderr)
sys.exit(child.returncode)
