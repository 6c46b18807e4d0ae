# SPDX-License-Identifier: MIT
"""GNOME Shell's own D-Bus interfaces, for tests/desktop/gnome.sh.

usage: gnome_shell.py COMMAND [ARGS], on the session bus in DBUS_SESSION_BUS_ADDRESS
  ready                 GNOME Shell has started and its overview is closed (closes it)
  windows               one line per window: PID APP_ID X Y W H (the frame, title bar included;
                        "-" for no app_id)
  screenshot FILE       the whole screen as a PNG
  click X Y             the pointer moved in from elsewhere to X Y, then a left click
  key KEYCODE           press and release an evdev key code (Esc is 1)

The shell answers some calls only to the programs it trusts, known by the bus
names they own: a screenshot to the screenshot tool (org.gnome.Screenshot),
the window list to the desktop portal. This caller owns both names for as long
as it runs. The window's position is not in that list: the test's own shell
extension (gnome_extension.js) gives the frame rectangles.
"""
import sys
import time

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def call(name, path, iface, method, args=None, reply=None, timeout=10000):
    return bus.call_sync(name, path, iface, method, args,
                         GLib.VariantType(reply) if reply else None,
                         Gio.DBusCallFlags.NONE, timeout, None).unpack()


def own(name):
    # 1: the primary owner, at once (DBUS_NAME_FLAG_DO_NOT_QUEUE)
    (result,) = call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                     'RequestName', GLib.Variant('(su)', (name, 4)), '(u)')
    if result != 1:
        sys.exit(f'could not own {name} ({result})')


def shell_prop(name, value=None):
    props = ('org.gnome.Shell', '/org/gnome/Shell', 'org.freedesktop.DBus.Properties')
    if value is None:
        return call(*props, 'Get', GLib.Variant('(ss)', ('org.gnome.Shell', name)), '(v)')[0]
    call(*props, 'Set', GLib.Variant('(ssv)', ('org.gnome.Shell', name, value)))


def ready():
    (started,) = call('org.gnome.Shell', '/org/orvan/DesktopTest', 'org.orvan.DesktopTest', 'Started',
                      None, '(b)')
    if not started:
        return False
    if shell_prop('OverviewActive'):
        shell_prop('OverviewActive', GLib.Variant('b', False))
        return False
    return True


def windows():
    own('org.freedesktop.impl.portal.desktop.gnome')
    (listed,) = call('org.gnome.Shell', '/org/gnome/Shell/Introspect', 'org.gnome.Shell.Introspect',
                     'GetWindows', None, '(a{ta{sv}})')
    (frames,) = call('org.gnome.Shell', '/org/orvan/DesktopTest', 'org.orvan.DesktopTest', 'Frames',
                     None, '(s)')
    rects = {}
    for line in frames.splitlines():
        wid, pid, x, y, w, h = line.split()
        rects[int(wid)] = (pid, x, y, w, h)
    for wid, info in listed.items():
        if wid in rects:
            pid, x, y, w, h = rects[wid]
            print(pid, info.get('wm-class') or '-', x, y, w, h)


def screenshot(path):
    own('org.gnome.Screenshot')
    ok, _ = call('org.gnome.Shell.Screenshot', '/org/gnome/Shell/Screenshot', 'org.gnome.Shell.Screenshot',
                 'Screenshot', GLib.Variant('(bbs)', (False, False, path)), '(bs)')
    if not ok:
        sys.exit('the shell took no screenshot')


class RemoteDesktop:
    """A session of mutter's remote desktop: input as from another machine."""

    def __init__(self):
        (self.path,) = call('org.gnome.Mutter.RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop',
                            'org.gnome.Mutter.RemoteDesktop', 'CreateSession', None, '(o)')
        self.do('Start')
        # The session's first event is sometimes lost: a harmless one first
        # (Shift, key code 42).
        self.key(42)

    def do(self, method, signature=None, *args):
        call('org.gnome.Mutter.RemoteDesktop', self.path, 'org.gnome.Mutter.RemoteDesktop.Session', method,
             GLib.Variant(signature, args) if signature else None)
        time.sleep(0.05)

    def key(self, code):
        self.do('NotifyKeyboardKeycode', '(ub)', code, True)
        self.do('NotifyKeyboardKeycode', '(ub)', code, False)

    def move_to(self, x, y):
        # Absolute motion needs a screen-cast stream; relative motion does
        # not. A long move down and to the right stops at the screen's
        # bottom-right corner (the top-left one would open the overview),
        # then the way back to X Y.
        self.do('NotifyPointerMotionRelative', '(dd)', 10000.0, 10000.0)
        w, h = screen_size()
        self.do('NotifyPointerMotionRelative', '(dd)', x - (w - 1), y - (h - 1))

    def stop(self):
        self.do('Stop')


def screen_size():
    (frames,) = call('org.gnome.Shell', '/org/orvan/DesktopTest', 'org.orvan.DesktopTest', 'Screen',
                     None, '(s)')
    return tuple(int(v) for v in frames.split())


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == 'ready':
        return 0 if ready() else 1
    if command == 'windows':
        windows()
    elif command == 'screenshot':
        screenshot(args[0])
    elif command == 'click':
        session = RemoteDesktop()
        x, y = int(args[0]), int(args[1])
        session.move_to(x - 40, y + 40)  # from elsewhere: the title bar sees the pointer enter
        session.move_to(x, y)
        session.do('NotifyPointerButton', '(ib)', 0x110, True)  # BTN_LEFT
        session.do('NotifyPointerButton', '(ib)', 0x110, False)
        session.stop()
    elif command == 'key':
        session = RemoteDesktop()
        session.key(int(args[0]))
        session.stop()
    else:
        sys.exit(f'unknown command {command}')
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except GLib.Error as e:
        sys.exit(f'gnome_shell.py {sys.argv[1]}: {e.message}')
