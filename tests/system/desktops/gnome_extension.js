// SPDX-License-Identifier: MIT
// A GNOME Shell extension for desktops/gnome.py: the shell's own record of
// where its windows are, which its D-Bus interfaces do not give. The class
// alone: gnome.py adds the lines that differ between the shell's two kinds
// of extension, the old one (GNOME 43: `imports.gi` and an init() function)
// and modules (GNOME 45 on: `import` and a default export).

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

    // The shell has finished starting: it opens the overview at the end of
    // that, so closing the overview before would not last.
    Started() {
        return !Main.layoutManager._startingUp;
    }
}
