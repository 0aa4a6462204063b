"""Drives the GUI program's real windows over the accessibility bus, as a user would:
menus, dialogs, text entries and buttons found by role and caption."""
import subprocess
import sys
import time

import pyatspi


def find(node, pred, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if pred(node):
            return node
        for i in range(node.childCount):
            hit = find(node.getChildAtIndex(i), pred, depth + 1)
            if hit:
                return hit
    except Exception:  # a window may close while it is walked
        pass
    return None


def find_all(node, pred):
    found = []
    find(node, lambda n: pred(n) and found.append(n) and False)
    return found


def application(name, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and (app.name or "") == name:
                return app
        time.sleep(0.25)
    sys.exit("no application %r on the accessibility bus" % name)


def wait_for(root, roles, name, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        hit = find(root, lambda n: n.getRoleName() in roles and (n.name or "") == name)
        if hit:
            return hit
        time.sleep(0.25)
    sys.exit("no %s named %r" % ("/".join(roles), name))


def new_window(app, known, seconds=20):
    """The first top-level window of app that is none of known: a dialog just
    opened (without a window manager GTK shows dialogs as frames)."""
    end = time.time() + seconds
    while time.time() < end:
        for i in range(app.childCount):
            w = app.getChildAtIndex(i)
            if w is not None and w.name not in known:
                return w
        time.sleep(0.25)
    sys.exit("no new window besides %r" % (known,))


def activate(app_name, roles, name):
    """Activates a menu item or button from another process: an action that
    opens a modal dialog does not return until the dialog closes."""
    return subprocess.Popen([sys.executable, __file__, "activate", app_name, ",".join(roles), name])


def type_into(win, text, index=0):
    entries = find_all(win, lambda n: n.getRoleName() == "text")
    if len(entries) <= index:
        sys.exit("window %r has %d text entries" % (win.name, len(entries)))
    entries[index].queryEditableText().setTextContents(text)


def captions(win):
    return [n.name for n in find_all(win, lambda n: n.getRoleName() in (
        "label", "push button", "menu item", "menu", "check menu item", "radio menu item") and n.name)]


if __name__ == "__main__" and sys.argv[1:2] == ["activate"]:
    app = application(sys.argv[2])
    hit = wait_for(app, tuple(sys.argv[3].split(",")), sys.argv[4])
    hit.queryAction().doAction(0)
