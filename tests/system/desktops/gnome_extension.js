// SPDX-License-Identifier: MIT
// A GNOME Shell extension for desktops/gnome.py: where the shell's windows
// are, which its D-Bus interfaces do not say. The class alone: gnome.py adds
// the lines of the old kind (GNOME 43) or of a module (GNOME 45 on).

const IFACE = `<node><interface name="org.orvan.DesktopTest">
  <method name="Frames"><arg type="s" direction="out"/></method>
  <method name="Started"><arg type="b" direction="out"/></method>
</interface></node>`;

class DesktopTest {
    enable() {
        this._impl = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
        this._impl.export(Gio.DBus.session, '/org/orvan/DesktopTest');
    }

    disable() {
        this._impl.unexport();
        this._impl = null;
    }

    // JSON: per window id (as in org.gnome.Shell.Introspect), its process
    // and its frame, title bar included, in screen coordinates.
    Frames() {
        return JSON.stringify(Object.fromEntries(global.get_window_actors().map(actor => {
            const window = actor.meta_window;
            const r = window.get_frame_rect();
            return [window.get_id(), [window.get_pid(), r.x, r.y, r.width, r.height]];
        })));
    }

    // Started: it opens the overview at the end, a close before would not last.
    Started() {
        return !Main.layoutManager._startingUp;
    }
}
