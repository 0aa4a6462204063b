"""What a user of a screen reader meets in the forms: the help button of each
form is announced by what it does (its tooltip), in the language in force, and
a name set over the bus that is longer than its field takes what the field
holds, as typing it would, instead of emptying the field. The folder made and
the new volume's name are read by hfsutils once the program has ended."""
import os
import subprocess
import sys
import time

import atspi

image = sys.argv[1]
work = os.path.dirname(image)
new_image = os.path.join(work, "made by bus.hfs")
app = atspi.application("corvane")
pid = app.get_process_id()
main = atspi.wait_for(app, ("frame",), "%s [Corvane]" % os.path.basename(image))
help_tip = {"en": "Display the context-sensitive help about this window",
            "fr": "Afficher l'aide contextuelle de cette fen\u00eatre"}
folder_name = "A folder name typed by a screen reader, longer than HFS takes"
volume_name = "A volume name longer than the field"


def help_button(dialog, language):
    """The help button: the push button whose description is the help tooltip;
    its name must be the same words."""
    app.clearCache()
    tip = help_tip[language]
    buttons = atspi.find_all(dialog, lambda n: n.getRoleName() == "push button" and (n.description or "") == tip)
    if len(buttons) != 1:
        named = [(n.name, n.description) for n in atspi.find_all(dialog, lambda n: n.getRoleName() == "push button")]
        sys.exit("%r: no single help button described %r among %r" % (dialog.name, tip, named))
    if buttons[0].name != tip:
        sys.exit("%r: the help button is announced as %r, its tooltip %r" % (dialog.name, buttons[0].name, tip))


def set_and_read(dialog, text, index=0):
    """Sets an entry's text over the bus as a screen reader does, and reads back what it holds."""
    atspi.type_into(dialog, text, index)
    time.sleep(0.3)
    entry = atspi.find_all(dialog, lambda n: n.getRoleName() == "text")[index]
    held = entry.queryText()
    return held.getText(0, held.characterCount)


def open_dialog(item, title):
    pending = atspi.activate("corvane", ("menu item",), item)
    dialog = atspi.new_window(app, [main.name])
    if dialog.name != title:
        sys.exit("%r opened %r" % (item, dialog.name))
    return pending, dialog


# The new folder's name: 31 characters on HFS; what is set whole keeps its first 31.
pending, dialog = open_dialog("Create folder...", "New Folder")
help_button(dialog, "en")
held = set_and_read(dialog, folder_name)
if held != folder_name[:31]:
    sys.exit("the name field holds %r after %r was set over the bus" % (held, folder_name))
atspi.activate("corvane", ("push button",), "OK").wait(20)
pending.wait(20)

# The same form in French.
atspi.activate("corvane", ("radio menu item",), "Fran\u00e7ais").wait(20)
time.sleep(1)
app.clearCache()
pending, dialog = open_dialog("Cr\u00e9er un dossier...", "Nouveau dossier")
help_button(dialog, "fr")
atspi.activate("corvane", ("push button",), "Annuler").wait(20)
pending.wait(20)
atspi.activate("corvane", ("radio menu item",), "English").wait(20)
time.sleep(1)
app.clearCache()

# A new partition image: the file chooser takes the path, the image's form the
# volume name, 27 characters on HFS.
pending = atspi.activate("corvane", ("menu item",), "New...")
untitled = "Corvane"  # the main window's title once the image is closed
chooser = atspi.new_window(app, [main.name, untitled])
atspi.type_into(chooser, new_image)
atspi.activate("corvane", ("push button",), "Save").wait(20)
form = atspi.new_window(app, [main.name, untitled, chooser.name])
help_button(form, "en")
texts = atspi.find_all(form, lambda n: n.getRoleName() == "text")
name_index = [i for i, n in enumerate(texts) if n.queryText().getText(0, -1) == "Untitled"]
if len(name_index) != 1:
    sys.exit("no single name field holding 'Untitled' in %r" % form.name)
held = set_and_read(form, volume_name, name_index[0])
if held != volume_name[:27]:
    sys.exit("the volume name field holds %r after %r was set over the bus" % (held, volume_name))
atspi.activate("corvane", ("push button",), "Create").wait(20)
pending.wait(60)
atspi.wait_for(app, ("frame",), "%s [Corvane]" % os.path.basename(new_image), 60)

atspi.activate("corvane", ("menu item",), "Exit").wait(20)
end = time.time() + 20
while os.path.exists("/proc/%d" % pid) and time.time() < end:
    time.sleep(0.1)


def hfs(img, command):
    return subprocess.run("hmount '%s' >/dev/null && %s; humount >/dev/null" % (img, command), shell=True,
                          capture_output=True, text=True).stdout


if folder_name[:31] not in hfs(image, "hls -a").splitlines():
    sys.exit("hls does not list the folder %r: %r" % (folder_name[:31], hfs(image, "hls -a")))
if 'Volume name is "%s"' % volume_name[:27] not in hfs(new_image, "hvol"):
    sys.exit("hvol does not name the new volume %r: %r" % (volume_name[:27], hfs(new_image, "hvol")))
print("the help buttons are named as their tooltips; names set over the bus are cut as typing cuts them")
