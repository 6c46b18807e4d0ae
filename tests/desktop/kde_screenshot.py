# SPDX-License-Identifier: MIT
"""The whole screen through kwin's org.kde.KWin.ScreenShot2, as a binary PPM
on stdout; for tests/desktop/kde.sh. kwin answers callers it has not vetted
only when it runs with KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1.

kwin writes the raw image into a pipe it is given and describes it in its
reply: width, height, stride and the QImage format, 32 bits a pixel (in
memory B, G, R, A or B, G, R, x on this little-endian machine).
"""
import os
import sys

from gi.repository import Gio, GLib

# QImage::Format_RGB32, Format_ARGB32, Format_ARGB32_Premultiplied
BGRX_FORMATS = (4, 5, 6)

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
read_end, write_end = os.pipe()
fds = Gio.UnixFDList.new()
fds.append(write_end)  # a copy of it, closed with the list
os.close(write_end)
reply, _ = bus.call_with_unix_fd_list_sync(
    'org.kde.KWin', '/org/kde/KWin/ScreenShot2', 'org.kde.KWin.ScreenShot2', 'CaptureWorkspace',
    GLib.Variant('(a{sv}h)', ({'native-resolution': GLib.Variant('b', True)}, 0)),
    GLib.VariantType('(a{sv})'), Gio.DBusCallFlags.NONE, 20000, fds, None)
del fds  # the last copy of the write end here: the read below ends where kwin's writing does
(info,) = reply.unpack()
with os.fdopen(read_end, 'rb') as pipe:
    data = pipe.read()
width, height, stride, fmt = info['width'], info['height'], info['stride'], info['format']
if fmt not in BGRX_FORMATS or len(data) < stride * height:
    sys.exit(f'kde_screenshot.py: unexpected image: {info}, {len(data)} bytes')
rgb = bytearray(width * height * 3)
for row in range(height):
    line = data[row * stride:row * stride + width * 4]
    out = row * width * 3
    for channel, source in ((0, 2), (1, 1), (2, 0)):
        rgb[out + channel:out + width * 3:3] = line[source::4]
sys.stdout.buffer.write(b'P6\n%d %d\n255\n' % (width, height) + rgb)
