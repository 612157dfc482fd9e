#!/usr/bin/env python3
"""Minimises an X window the way a window manager's minimise button asks for
it (XIconifyWindow: a WM_CHANGE_STATE message to the root window).
Usage: iconify.py WINDOW_ID   (on $DISPLAY)"""
import ctypes
import sys

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultScreen.argtypes = [ctypes.c_void_p]
x11.XIconifyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("iconify: cannot open the display")
ok = x11.XIconifyWindow(display, int(sys.argv[1], 0), x11.XDefaultScreen(display))
x11.XFlush(display)
x11.XCloseDisplay(display)
sys.exit(0 if ok else 1)
