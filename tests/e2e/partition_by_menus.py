"""A user's session on a partition image, through the menus and dialogs only:
a folder made, the language switched, the program left. What the image then
holds is read by hfsutils, not by us."""
import os
import subprocess
import sys
import time

import atspi

image = sys.argv[1]
app = atspi.application("corvane")
pid = app.get_process_id()
main = atspi.wait_for(app, ("frame",), "%s [Corvane]" % image.rsplit("/", 1)[-1])

# File > Create folder...: a name typed into the dialog, then OK.
pending = atspi.activate("corvane", ("menu item",), "Create folder...")
dialog = atspi.new_window(app, [main.name])
if dialog.name != "New Folder":
    sys.exit("the dialog that opened is %r" % dialog.name)
atspi.type_into(dialog, "Made by hand")
atspi.activate("corvane", ("push button",), "OK").wait(20)
pending.wait(20)

# The tool bar's buttons are announced by what they do, the same words as their
# tooltips, in the language in force; never by an internal name.
def in_tool_bar(node):
    for _ in range(3):
        node = node.parent
        if node is None:
            return False
        if node.getRoleName() == "tool bar":
            return True
    return False


def tool_buttons():
    return [(n.name or "", n.description or "")
            for n in atspi.find_all(main, lambda n: n.getRoleName() == "push button" and in_tool_bar(n))]


def check_tools(expected):
    app.clearCache()
    shown = [t for t in tool_buttons() if t[0] or t[1]]
    if len(shown) < 8:
        sys.exit("the tool bar shows %d named buttons: %r" % (len(shown), shown))
    for name, tip in shown:
        if not name or name != tip or " " not in name:
            sys.exit("a tool button is announced as %r, its tooltip %r" % (name, tip))
    for name in expected:
        if name not in [t[0] for t in shown]:
            sys.exit("no tool button named %r among %r" % (name, shown))


check_tools(["Copy files/folders from the Macintosh volume to the PC.", "Delete the selected items."])

# Options > Switch Language > Français: the menus speak French.
atspi.activate("corvane", ("radio menu item",), "Français").wait(20)
time.sleep(1)
app.clearCache()  # the bus keeps the names it was told before
shown = atspi.captions(main)
for caption in ("Créer un dossier...", "Quitter", "Fichier"):
    if caption not in shown:
        sys.exit("after the switch to French, %r is not among the captions: %r" % (caption, shown[:40]))
check_tools(["Copier des fichiers et dossiers du volume Macintosh vers le PC.", "Supprimer les \u00e9l\u00e9ments s\u00e9lectionn\u00e9s."])

# Partition > Quitter: the program ends and the image is closed.
atspi.activate("corvane", ("menu item",), "Quitter").wait(20)
end = time.time() + 20
while os.path.exists("/proc/%d" % pid) and time.time() < end:
    time.sleep(0.1)
listing = subprocess.run("hmount '%s' >/dev/null && hls -a; humount >/dev/null" % image, shell=True,
                         capture_output=True, text=True).stdout
if "Made by hand" not in listing.splitlines():
    sys.exit("hls does not list the folder: %r" % listing)
print("hls lists the folder made through the menus")
