"""Presses a key on the X display from outside the program under test, as a
person at the keyboard would (the XTest extension of the X server).

  press_key.py KEYSYM[,KEYSYM...] [--at X Y] [--when-files FOLDER COUNT] [--delay SECONDS]

Several keys are pressed in order and let go in the reverse order (0xffe3,0x61
is Ctrl+A).

--at moves the pointer there first (without a window manager the key goes to
the window under the pointer); --when-files waits until FOLDER holds at least
COUNT entries (at most 60 s); --delay waits that long before the press.
"""
import ctypes
import os
import sys
import time

args = sys.argv[1:]
keysyms = [int(k, 0) for k in args.pop(0).split(",")]
at = None
when = None
delay = 0.0
while args:
    a = args.pop(0)
    if a == "--at":
        at = (int(args.pop(0)), int(args.pop(0)))
    elif a == "--when-files":
        when = (args.pop(0), int(args.pop(0)))
    elif a == "--delay":
        delay = float(args.pop(0))
    else:
        sys.exit("press_key.py: unknown argument " + a)

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XWarpPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                             ctypes.c_uint, ctypes.c_uint, ctypes.c_int, ctypes.c_int]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("press_key.py: no display")
if at:
    x11.XWarpPointer(display, 0, x11.XDefaultRootWindow(display), 0, 0, 0, 0, at[0], at[1])
    x11.XSync(display, 0)
if when:
    end = time.time() + 60
    while time.time() < end:
        try:
            if len(os.listdir(when[0])) >= when[1]:
                break
        except OSError:
            pass
        time.sleep(0.002)
time.sleep(delay)
codes = [x11.XKeysymToKeycode(display, k) for k in keysyms]
for code in codes:
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
for code in reversed(codes):
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
x11.XSync(display, 0)
x11.XCloseDisplay(display)
