# SPDX-License-Identifier: MIT
# GNOME Shell headless on Wayland, for tests/desktop/desktop_test.sh (which
# sources this file and calls its desktop_* functions).
#
# The shell runs on a virtual monitor with no X11, in a private D-Bus session,
# with its settings in a key file under $work (no dconf database is touched).
# It draws no server-side decorations: the title bar and its buttons are the
# program's own, drawn by libdecor's cairo plugin. Screenshots, keys, clicks and
# the window list go through the shell's and mutter's own D-Bus interfaces
# (tests/desktop/gnome_shell.py); a small extension of the test's own
# (tests/desktop/gnome_extension.js) tells where the window is.

DESKTOP_BACKEND=Wayland
gnome_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
gnome_pid=""
gnome_sysbus_pid=""
gnome_session_pid=""
gnome_uuid=orvan-desktop-test@orvan.example
# The system's python3 (python3-gi), not whichever one comes first on PATH.
gnome_call() { DBUS_SESSION_BUS_ADDRESS=$gnome_bus /usr/bin/python3 "$gnome_here/gnome_shell.py" "$@"; }

# libdecor's cairo plugin draws a title bar 24 pixels high above the contents,
# with buttons 32 pixels wide, the rightmost one the close button.
gnome_title_height=24
gnome_button_width=32

desktop_start() {
    local i version extension
    for tool in gnome-shell dbus-run-session dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "$tool not found: run scripts/setup-deps.sh --tests"; return 1; }
    done
    mkdir -p "$work/home/.config/glib-2.0/settings" "$work/home/.local/share/gnome-shell/extensions/$gnome_uuid"
    # The shell's settings, in a key file of its own: the test's extension on,
    # no animations, no notification banners (as root the shell posts one
    # over the top of the screen), no welcome tour.
    cat >"$work/home/.config/glib-2.0/settings/keyfile" <<KEYS
[org/gnome/shell]
enabled-extensions=['$gnome_uuid']
disable-user-extensions=false
welcome-dialog-last-shown-version='999'
[org/gnome/desktop/interface]
enable-animations=false
[org/gnome/desktop/notifications]
show-banners=false
KEYS
    version=$(gnome-shell --version | grep -oE '[0-9]+' | head -n 1)
    extension=$work/home/.local/share/gnome-shell/extensions/$gnome_uuid
    printf '{"uuid": "%s", "name": "Desktop test", "description": "Window frames for a test", "shell-version": ["%s"]}\n' \
        "$gnome_uuid" "$version" >"$extension/metadata.json"
    if [ "$version" -ge 45 ]; then
        { echo "import Gio from 'gi://Gio';"; echo "import * as Main from 'resource:///org/gnome/shell/ui/main.js';"; cat "$gnome_here/gnome_extension.js"; echo 'export default DesktopTest;'; }
    else
        { echo 'const { Gio } = imports.gi;'; echo 'const Main = imports.ui.main;'; cat "$gnome_here/gnome_extension.js"; echo 'function init() { return new DesktopTest(); }'; }
    fi >"$extension/extension.js"
    # The shell refuses to start without a system bus (its login manager
    # code connects to it); a private bus daemon stands in for it, so the
    # machine's own system bus (if any) is never used.
    dbus-daemon --session --address="unix:path=$work/runtime/sysbus" --fork --print-pid >"$work/sysbus.pid" \
        2>"$work/sysbus.log" || { echo "the stand-in system bus did not start"; return 1; }
    gnome_sysbus_pid=$(cat "$work/sysbus.pid")
    env -i PATH="$PATH" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime" GSETTINGS_BACKEND=keyfile \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/runtime/sysbus" LC_ALL=C.UTF-8 \
        dbus-run-session -- sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS" >"$0/gnome.bus"; echo $$ >"$0/gnome.pid"
            exec gnome-shell --headless --wayland --no-x11 --virtual-monitor 1600x900' "$work" \
        >"$work/gnome-shell.log" 2>&1 &
    gnome_session_pid=$!
    for i in $(seq 1 300); do  # 30 s: the shell takes several on a loaded machine
        if [ -s "$work/gnome.pid" ] && [ -s "$work/gnome.bus" ] && [ -S "$work/runtime/wayland-0" ]; then
            gnome_pid=$(cat "$work/gnome.pid")
            gnome_bus=$(cat "$work/gnome.bus")
            # It starts in the overview: "ready" closes it, and answers once
            # it is closed and the extension is there.
            gnome_call ready 2>/dev/null && break
        fi
        sleep 0.1
    done
    if [ "$i" = 300 ]; then
        echo "GNOME Shell did not become ready:"
        tail -n 20 "$work/gnome-shell.log"
        return 1
    fi
    DESKTOP_ENV=(XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland)
}

# gnome_frame: the program's window, "APP_ID X Y W H": the app_id the shell
# knows it by (org.gnome.Shell.Introspect's wm-class, which on Wayland is the
# app_id; "-" if none) and its frame (the extension's).
gnome_frame() {
    local line
    line=$(gnome_call windows | awk -v pid="${program_pid:-0}" '$1 == pid { $1 = ""; print substr($0, 2); exit }')
    [ -n "$line" ] && echo "$line"
}

desktop_window_name() {
    local app
    read -r app _ < <(gnome_frame) || return 1
    echo "$app"
}

# The frame is the title bar with the contents below it.
desktop_window_rect() {
    local x y w h
    read -r _ x y w h < <(gnome_frame) || return 1
    echo "$x $((y + gnome_title_height)) $w $((h - gnome_title_height))"
}

desktop_title_rect() {
    local x y w
    read -r _ x y w _ < <(gnome_frame) || return 1
    echo "$x $y $w $gnome_title_height"
}

desktop_close_xy() {
    local x y w
    read -r _ x y w _ < <(gnome_frame) || return 1
    echo "$((x + w - gnome_button_width / 2)) $((y + gnome_title_height / 2))"
}

desktop_screenshot() { gnome_call screenshot "$(realpath "$1")"; }
desktop_click() { gnome_call click "$1" "$2"; }
desktop_key_escape() { gnome_call key 1; }  # evdev KEY_ESC

desktop_kill() {
    [ -n "$gnome_pid" ] && kill -9 "$gnome_pid" 2>/dev/null
    gnome_pid=""
}

desktop_stop() {
    local pid i
    if [ -n "$gnome_pid" ]; then
        kill "$gnome_pid" 2>/dev/null
        for i in $(seq 1 50); do kill -0 "$gnome_pid" 2>/dev/null || break; sleep 0.1; done
        # It sometimes crashes on SIGTERM; either way, gone.
        kill -9 "$gnome_pid" 2>/dev/null
        gnome_pid=""
    fi
    [ -z "$gnome_sysbus_pid" ] || kill "$gnome_sysbus_pid" 2>/dev/null
    gnome_sysbus_pid=""
    # Services the session bus started (accessibility bus, dconf) may outlive
    # it: those that run in this test's runtime folder end too.
    for pid in $(grep -lsz "^XDG_RUNTIME_DIR=$work/runtime\$" /proc/[0-9]*/environ | cut -d/ -f3); do
        [ "$pid" != $$ ] && kill "$pid" 2>/dev/null
    done
    if [ -n "$gnome_session_pid" ]; then
        # dbus-run-session ends its bus when the compositor has ended; ended
        # itself first, it would leave the bus running.
        for i in $(seq 1 50); do kill -0 "$gnome_session_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$gnome_session_pid" 2>/dev/null
        wait "$gnome_session_pid" 2>/dev/null
        gnome_session_pid=""
    fi
    return 0
}
