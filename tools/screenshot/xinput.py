#!/usr/bin/env python3
"""Clicks and types on an X display the way a person would, through the XTEST
extension (libXtst), for the screenshots that need a job to be started.
Usage: xinput.py click X Y | rclick X Y | type TEXT | key KEYSYM   (on $DISPLAY)
TEXT may hold lower-case letters, digits and / . - (no Shift is pressed)."""
import ctypes
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]

NAMES = {"/": "slash", ".": "period", "-": "minus"}

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("xinput: cannot open the display")


def press(keysym):
    code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(keysym.encode()))
    if code == 0:
        sys.exit("xinput: no key for " + keysym)
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    x11.XFlush(display)
    time.sleep(0.02)


command = sys.argv[1]
if command in ("click", "rclick"):
    button = 1 if command == "click" else 3
    xtst.XTestFakeMotionEvent(display, -1, int(sys.argv[2]), int(sys.argv[3]), 0)
    x11.XFlush(display)
    time.sleep(0.1)
    xtst.XTestFakeButtonEvent(display, button, 1, 0)
    xtst.XTestFakeButtonEvent(display, button, 0, 0)
elif command == "type":
    for ch in sys.argv[2]:
        if not (ch.islower() or ch.isdigit() or ch in NAMES):
            sys.exit("xinput: cannot type " + repr(ch))
        press(NAMES.get(ch, ch))
elif command == "key":
    press(sys.argv[2])
else:
    sys.exit("xinput: unknown command " + command)
x11.XFlush(display)
x11.XCloseDisplay(display)
