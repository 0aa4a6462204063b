"""Drops files on a window from outside its program, as a file manager does:
the XDND protocol (version 5) from a window of our own, its data offered as
"text/uri-list" (or another type) through the XdndSelection.

    xdnd_drop.py WINDOW X Y TYPE DATA-FILE

WINDOW is the target's top-level X window (decimal or 0x hex), X Y the drop
point in root coordinates, TYPE the data's type, DATA-FILE holds the bytes
offered. Prints "accepted" or "refused" (the target's XdndStatus) and
"finished" once the target says it has taken the drop; exits 0 when both.
Run with /usr/bin/python3 (python3-xlib)."""
import sys
import time

from Xlib import X, Xatom, display, protocol

target_id = int(sys.argv[1], 0)
x, y = int(sys.argv[2]), int(sys.argv[3])
data_type = sys.argv[4]
with open(sys.argv[5], "rb") as f:
    payload = f.read()

d = display.Display()
atom = lambda name: d.intern_atom(name)
aware, enter, position, status, drop, finished, leave = (
    atom(n) for n in ("XdndAware", "XdndEnter", "XdndPosition", "XdndStatus", "XdndDrop", "XdndFinished", "XdndLeave"))
selection, action_copy, type_atom = atom("XdndSelection"), atom("XdndActionCopy"), atom(data_type)

root = d.screen().root
target = d.create_resource_object("window", target_id)
version = target.get_full_property(aware, Xatom.ATOM)
if version is None:
    sys.exit("the window takes no drops (no XdndAware)")
version = min(5, version.value[0])

source = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent, X.InputOutput, X.CopyFromParent,
                            event_mask=X.PropertyChangeMask)
source.set_selection_owner(selection, X.CurrentTime)
d.sync()


def send(kind, words):
    words = list(words) + [0] * (5 - len(words))
    event = protocol.event.ClientMessage(window=target, client_type=kind, data=(32, words))
    target.send_event(event, X.NoEventMask)
    d.flush()


def wait_for(kind, seconds=10):
    """Serves the selection while it waits for a message of that kind."""
    end = time.time() + seconds
    while time.time() < end:
        while d.pending_events():
            e = d.next_event()
            if e.type == X.SelectionRequest:
                serve(e)
            elif e.type == X.ClientMessage and e.client_type == kind:
                return e
        time.sleep(0.01)
    return None


def serve(e):
    prop = e.property or e.target
    if e.target == type_atom:
        e.requestor.change_property(prop, type_atom, 8, payload)
    else:
        prop = X.NONE
    reply = protocol.event.SelectionNotify(time=e.time, requestor=e.requestor, selection=e.selection,
                                           target=e.target, property=prop)
    e.requestor.send_event(reply)
    d.flush()


send(enter, [source.id, version << 24, type_atom])
send(position, [source.id, 0, (x << 16) | y, X.CurrentTime, action_copy])
answer = wait_for(status)
accepted = answer is not None and answer.data[1][1] & 1
print("accepted" if accepted else "refused", flush=True)
if not accepted:
    send(leave, [source.id])
    sys.exit(1)
send(drop, [source.id, 0, X.CurrentTime])
done = wait_for(finished)
print("finished" if done else "no finish", flush=True)
sys.exit(0 if done else 1)
