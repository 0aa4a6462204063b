"""A new user's first start of the installed corvane, run from a moved
prefix, over the accessibility bus: the signature table offered is the moved
prefix's (the current folder's table listed after it) and is taken; the help
book opens; the icon program started is the installed one; the file types are
registered, and images whose names say nothing that the desktop opens by
their bytes come to the running window; the program ends."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import atspi  # noqa: E402

prefix, work = sys.argv[1], sys.argv[2]
app = atspi.application("corvane")

offer = atspi.wait_for(app, ("frame", "dialog"), "Select a signature file")
rows = [n.name for n in atspi.find_all(offer, lambda n: n.getRoleName() in ("table cell", "list item"))]
if rows[:1] != ["Table of common types (comes with Corvane)"] or "mine.sig" not in rows:
    sys.exit("the offer lists %r" % rows)
where = "File: %s/share/corvane/default.sig" % prefix
if where not in atspi.captions(offer):
    sys.exit("the offer does not say %r: %r" % (where, atspi.captions(offer)))
atspi.activate("corvane", ("push button",), "OK").wait(20)
main = atspi.wait_for(app, ("frame",), "cvpr.cvpr [Corvane]")

# Help > Help Topics: the book of the moved prefix opens (a missing one is an error message).
atspi.activate("corvane", ("menu item",), "Help Topics").wait(20)
helpwin = atspi.new_window(app, [main.name])
if not helpwin.name.startswith("Help"):
    sys.exit("Help Topics opened %r" % helpwin.name)

# Special > Facetor...: the icon program beside the installed corvane.
atspi.activate("corvane", ("menu item",), "Facetor...").wait(20)
facetor = atspi.application("facetor")
exe = os.readlink("/proc/%d/exe" % facetor.get_process_id())
if exe != prefix + "/bin/facetor":
    sys.exit("the icon program started is %s" % exe)
atspi.activate("facetor", ("menu item",), "Quit").wait(20)

# Special > Register File Types...: the three kinds, as the dialog proposes them.
pending = atspi.activate("corvane", ("menu item",), "Register File Types...")
dialog = atspi.new_window(app, [main.name, helpwin.name])
atspi.activate("corvane", ("push button",), "OK").wait(20)
pending.wait(30)

# The desktop opens documents whose names say nothing with the program its
# content types name for their bytes: handed over to the running window.
mimeapps = os.path.join(os.environ["XDG_CONFIG_HOME"], "mimeapps.list")
end = time.time() + 30
while time.time() < end:  # the command runs once its dialog has closed
    if os.path.exists(mimeapps) and "application/x-corvane-part" in open(mimeapps).read():
        break
    time.sleep(0.2)
desktop_env = dict(os.environ, XDG_DATA_DIRS="%s/share:/usr/share" % prefix)
for document in ("floppy.hdv", "apple disk"):
    opened = subprocess.run(["gio", "open", os.path.join(work, document)], env=desktop_env, capture_output=True,
                            text=True, timeout=30)
    if opened.returncode != 0:
        sys.exit("gio open %s: %s" % (document, opened.stderr))
    atspi.wait_for(app, ("frame",), "%s [Corvane]" % document, 30)

atspi.activate("corvane", ("menu item",), "Exit")
print("first start of the installed program done")
