"""Checks, on the X display, that the form titled TITLE stands above the main
window of the program whose process is PID: the form's frame lies above the
main window's in the server's stacking order, and, under a window manager,
the manager holds the form for the active window. Saves a picture of the
screen as PNG.

  offer_on_top.py PID TITLE MAIN_TITLE PNG
"""
import sys
import time

from PIL import ImageGrab
from Xlib import X, Xatom, display

pid, title, main_title, png = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
d = display.Display()
root = d.screen().root
NET_WM_PID = d.intern_atom("_NET_WM_PID")
NET_WM_NAME = d.intern_atom("_NET_WM_NAME")
UTF8 = d.intern_atom("UTF8_STRING")
NET_ACTIVE = d.intern_atom("_NET_ACTIVE_WINDOW")
NET_CHECK = d.intern_atom("_NET_SUPPORTING_WM_CHECK")


def name_of(w):
    try:
        p = w.get_full_property(NET_WM_NAME, UTF8)
        if p:
            return p.value.decode("utf-8", "replace")
        n = w.get_wm_name()
        return n.decode("latin-1") if isinstance(n, bytes) else (n or "")
    except Exception:
        return ""


def pid_of(w):
    try:
        p = w.get_full_property(NET_WM_PID, Xatom.CARDINAL)
        return p.value[0] if p else None
    except Exception:
        return None


def mapped(w):
    try:
        return w.get_attributes().map_state == X.IsViewable
    except Exception:
        return False


def find(name, under=None, top=None, found=None):
    """[(top-level child of the root that holds it, the window)] of the program's windows named so."""
    found = [] if found is None else found
    for child in (under or root).query_tree().children:
        holder = top or child
        if pid_of(child) == pid and name_of(child) == name and mapped(child):
            found.append((holder, child))
        find(name, child, holder, found)
    return found


end = time.time() + 30
forms = mains = []
while time.time() < end:
    forms, mains = find(title), find(main_title)
    if forms and mains:
        break
    time.sleep(0.2)
if not forms or not mains:
    sys.exit("no window %r (%d) or %r (%d) of process %d shows" % (title, len(forms), main_title, len(mains), pid))
time.sleep(1.0)  # what the window manager does next (it takes a window into a frame of its own) has been done
forms, mains = find(title), find(main_title)
if not forms or not mains:
    sys.exit("%r or %r of process %d went" % (title, main_title, pid))
ImageGrab.grab(xdisplay="").save(png)

order = root.query_tree().children  # bottom first
form_holder, form = forms[0]
main_holder, _ = mains[0]
if order.index(form_holder) < order.index(main_holder):
    sys.exit("the form %r lies under the main window" % title)
if root.get_full_property(NET_CHECK, Xatom.WINDOW):
    active = root.get_full_property(NET_ACTIVE, Xatom.WINDOW)
    active_id = active.value[0] if active and len(active.value) else 0
    if active_id != form.id:
        sys.exit("the active window is 0x%x %r, not the form 0x%x" % (active_id, name_of(d.create_resource_object(
            "window", active_id)) if active_id else "", form.id))
    print("%r is the active window, above the main window" % title)
else:
    print("%r lies above the main window" % title)
