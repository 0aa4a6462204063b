"""A user's session on a partition image, through the menus and dialogs only:
a folder made, the language switched, the program left. What the image then
holds is read by hfsutils, not by us."""
import sys
import time

import atspi

image = sys.argv[1]
app = atspi.application("corvane")
main = atspi.wait_for(app, ("frame",), "%s [Corvane]" % image.rsplit("/", 1)[-1])

# File > Create folder...: a name typed into the dialog, then OK.
pending = atspi.activate("corvane", ("menu item",), "Create folder...")
dialog = atspi.new_window(app, [main.name])
if dialog.name != "New Folder":
    sys.exit("the dialog that opened is %r" % dialog.name)
atspi.type_into(dialog, "Made by hand")
atspi.activate("corvane", ("push button",), "OK").wait(20)
pending.wait(20)

# Options > Switch Language > Français: the menus speak French.
atspi.activate("corvane", ("radio menu item",), "Français").wait(20)
time.sleep(1)
app.clearCache()  # the bus keeps the names it was told before
shown = atspi.captions(main)
for caption in ("Créer un dossier...", "Quitter", "Fichier"):
    if caption not in shown:
        sys.exit("after the switch to French, %r is not among the captions: %r" % (caption, shown[:40]))

# Partition > Quitter: the program ends and the image is closed.
atspi.activate("corvane", ("menu item",), "Quitter")
print("session done")
