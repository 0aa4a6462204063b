"""Long work started over the accessibility bus, as a screen reader starts it,
with keys pressed while it runs: a copy of thousands of PC files pasted onto
the volume from the menu runs to its end, a second one is stopped by the Esc
key, the same files pasted into a project are compiled through the compile's
dialogs, and a second compile is stopped by its own command; the window
answers the bus and its menus after each. What the volume
and the image then hold is read by hfsutils and isoinfo once the program has
ended."""
import os
import subprocess
import sys
import time

import atspi

image = sys.argv[1]
work = os.path.dirname(image)
count = 2500  # past the point where a copy started from the bus once stopped
here = os.path.dirname(os.path.abspath(__file__))

for folder in ("whole", "stopped"):
    os.makedirs(os.path.join(work, folder))
    for i in range(count):
        with open(os.path.join(work, folder, "f%05d.txt" % i), "w") as f:
            f.write("file %d\n" % i)

app = atspi.application("corvane")
main = atspi.wait_for(app, ("frame",), "%s [Corvane]" % os.path.basename(image))
pid = app.get_process_id()


def serve(folder):
    """The folder on the clipboard as a file manager copies it; xclip serves it
    until it is ended."""
    server = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-t", "x-special/gnome-copied-files"],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    server.stdin.write("copy\nfile://%s\n" % os.path.join(work, folder))
    server.stdin.close()
    end = time.time() + 20
    while time.time() < end:  # served once its targets can be asked
        targets = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"], capture_output=True,
                                 text=True).stdout
        if "x-special/gnome-copied-files" in targets:
            return server
        time.sleep(0.1)
    sys.exit("xclip does not serve the clipboard")


def paste(folder, what, seconds=90):
    """The folder pasted from the clipboard over the bus; the window answers
    once the copy is done."""
    server = serve(folder)
    if finished(atspi.activate("corvane", ("menu item",), "Paste from Explorer"), "the paste") != 0:
        sys.exit("the activation over the bus failed")
    if not answers(seconds):
        sys.exit("the window does not answer after %s" % what)
    server.kill()
    server.wait()


def finished(process, what):
    try:
        return process.wait(20)
    except subprocess.TimeoutExpired:
        process.kill()
        sys.exit("the window stopped answering the bus (%s)" % what)


def answers(seconds=60):
    """The window answers once its work is done: About opens (asked for while
    the work runs, it is dropped), then is closed. Meanwhile the bus asks the
    window what it shows, as a screen reader keeps asking."""
    end = time.time() + seconds
    while time.time() < end:
        finished(atspi.activate("corvane", ("menu item",), "About Corvane"), "About")
        app.clearCache()
        for i in range(app.childCount):
            w = app.getChildAtIndex(i)
            if w is not None and w.name and w.name.startswith("About"):
                finished(atspi.activate("corvane", ("push button",), "OK"), "OK")
                return True
        time.sleep(0.5)
    return False


def shown(title):
    app.clearCache()
    for i in range(app.childCount):
        w = app.getChildAtIndex(i)
        if w is not None and w.name == title:
            return w
    return None


def new_window(title, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        w = shown(title)
        if w:
            return w
        time.sleep(0.25)
    sys.exit("no window %r opened" % title)


def press_over(window, keysym):
    """A key pressed as from the keyboard, the pointer over the window."""
    e = window.queryComponent().getExtents(0)
    subprocess.run(["/usr/bin/python3", os.path.join(here, "..", "gui", "press_key.py"), keysym, "--at",
                    str(e.x + e.width // 2), str(e.y + e.height // 2)], check=True)


# The whole copy: the menu item activated over the bus returns at once, the
# copy runs after it; the bus asks the window what it shows meanwhile, and the
# window answers once the copy is done.
started = time.time()
paste("whole", "the copy")
print("whole copy done in %.1f s" % (time.time() - started), flush=True)

# The copy stopped: Esc pressed on the window while it runs, then Yes.
server = serve("stopped")
finished(atspi.activate("corvane", ("menu item",), "Paste from Explorer"), "the paste")
asked = None
end = time.time() + 60
while not asked and time.time() < end:
    press_over(main, "0xff1b")
    time.sleep(0.3)
    asked = shown("Corvane - Message")
if not asked:
    sys.exit("Esc during the copy asked nothing")
finished(atspi.activate("corvane", ("push button",), "Yes"), "Yes")
if not answers(60):
    sys.exit("the window does not answer after the stopped copy")
print("stopped copy done", flush=True)
server.kill()
server.wait()

# A compile: the folder pasted into the scratch project, then compiled through
# the target's dialog and the options form, a key pressed on each as a user
# does; the message of its end is closed and the window answers.
finished(atspi.activate("corvane", ("radio menu item",), "Project Mode (hybrid ISO/HFS CD-ROM)"), "the mode")
atspi.wait_for(app, ("frame",), "cvpr.cvpr [Corvane]")
paste("whole", "the paste into the project")
finished(atspi.activate("corvane", ("menu item",), "Compile..."), "Compile")
target = new_window("Create the Target Image File")
press_over(target, "0xff57")  # End, in the file's name
finished(atspi.activate("corvane", ("push button",), "Save"), "Save")
options = new_window("Compiling the hybrid CD-ROM image")
press_over(options, "0xffe1")  # Shift
finished(atspi.activate("corvane", ("push button",), "OK"), "OK")
new_window("Corvane - Message", 90)
finished(atspi.activate("corvane", ("push button",), "Close"), "Close")
if not answers(60):
    sys.exit("the window does not answer after the compile")
print("compile done", flush=True)

# A second compile, of a file too large to be done at once, is stopped by its
# own command (the compile runs on its own thread: the window's menus stay
# live, the compile command reads "Abort Compilation"), activated over the bus
# as the compile runs; the image of the first compile stays as it was.
os.makedirs(os.path.join(work, "large"))
with open(os.path.join(work, "large", "large.bin"), "wb") as f:
    f.truncate(1 << 30)
paste("large", "the paste of the large file")
first_image = os.stat(os.path.join(work, "cvpr.iso"))
finished(atspi.activate("corvane", ("menu item",), "Compile..."), "Compile")
new_window("Create the Target Image File")
finished(atspi.activate("corvane", ("push button",), "Save"), "Save")
finished(atspi.activate("corvane", ("push button",), "Yes"), "Yes")  # the image there is replaced
new_window("Compiling the hybrid CD-ROM image")
finished(atspi.activate("corvane", ("push button",), "OK"), "OK")
finished(atspi.activate("corvane", ("menu item",), "Abort Compilation"), "Abort Compilation")
told = new_window("Corvane - Message", 90)
said = atspi.captions(told)
if not any("aborted at your request" in c for c in said):
    sys.exit("the stopped compile says %r" % said)
finished(atspi.activate("corvane", ("push button",), "Close"), "Close")
if not answers(60):
    sys.exit("the window does not answer after the stopped compile")
now = os.stat(os.path.join(work, "cvpr.iso"))
if (now.st_ino, now.st_size, now.st_mtime_ns) != (first_image.st_ino, first_image.st_size, first_image.st_mtime_ns):
    sys.exit("the stopped compile changed the image of the first")
print("stopped compile done", flush=True)

# Exit: the scratch project that holds items is offered a name; none is given.
finished(atspi.activate("corvane", ("menu item",), "Exit"), "Exit")
finished(atspi.activate("corvane", ("push button",), "Cancel"), "Cancel")
end = time.time() + 20
while os.path.exists("/proc/%d" % pid) and time.time() < end:
    time.sleep(0.1)


def names(folder):
    out = subprocess.run("hmount '%s' >/dev/null && hls -1 ':%s'; humount >/dev/null" % (image, folder), shell=True,
                         capture_output=True, text=True).stdout.split()
    return [n for n in out if n.startswith("f")]


whole, stopped = names("whole"), names("stopped")
if len(whole) != count:
    sys.exit("hls lists %d files of the whole copy, not %d" % (len(whole), count))
if not 0 < len(stopped) < count:
    sys.exit("hls lists %d files of the stopped copy" % len(stopped))
# The image where the target's dialog proposed it.
compiled = os.path.join(work, "cvpr.iso")
listing = subprocess.run(["isoinfo", "-J", "-f", "-i", compiled], capture_output=True, text=True).stdout.split()
iso_files = [n for n in listing if n.startswith("/whole/f")]
if len(iso_files) != count:
    sys.exit("isoinfo lists %d files of the compiled folder, not %d: %r" % (len(iso_files), count, listing[:8]))
print("hls lists the %d files of the whole copy and %d of the stopped one; isoinfo the %d compiled" %
      (count, len(stopped), count))
