# SPDX-License-Identifier: MIT
# Adapter of desktop_test.sh: KDE's compositor, kwin_wayland, on its virtual
# backend (one 1600x900 output, no input devices), in a private D-Bus session.
# The program asks for server-side decorations and kwin grants them: the title
# bar and its buttons are Breeze's (package kwin-style-breeze; without it kwin
# draws no title bar at all). Screenshots come through kwin's ScreenShot2 D-Bus
# interface (tests/desktop/kde_screenshot.py), keys and clicks through its
# fake-input Wayland protocol (tests/desktop/kde_fake_input.c, whose program
# is in $ORVAN_KDE_FAKE_INPUT), the window's name and place from a KWin
# script: desktopFileName, the app_id, which kwin matches with the desktop
# entry (kwin makes up a resourceClass from the executable's name when there
# is no app_id, so that one proves nothing).

DESKTOP_BACKEND=Wayland
kde_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
kde_pid=""
kde_session_pid=""
kde_queries=0
kde_nested=""

kde_dbus() { DBUS_SESSION_BUS_ADDRESS=$kde_bus "$@"; }

desktop_start() {
    local i backend
    for tool in /usr/bin/kwin_wayland dbus-run-session gdbus; do
        command -v "$tool" >/dev/null || { echo "$tool not found: run scripts/setup-deps.sh --tests"; return 1; }
    done
    [ -x "${ORVAN_KDE_FAKE_INPUT:-}" ] || { echo "ORVAN_KDE_FAKE_INPUT: no kde_fake_input program"; return 1; }
    # /usr/bin/kwin_wayland carries a file capability (cap_sys_resource, to
    # raise its own priority) that some machines (containers) refuse to
    # execute at all: "Operation not permitted", for root too. A copy has no
    # capability and runs; it keeps the name, by which kwin finds its
    # platform plugins.
    mkdir -p kde-bin kde-home
    cp /usr/bin/kwin_wayland kde-bin/kwin_wayland || return 1
    backend=(--virtual)
    kde_nested=""
    # (with the private runtime folder: Qt makes /tmp/runtime-$USER without one)
    if [ "$(XDG_RUNTIME_DIR="$work/runtime" kde-bin/kwin_wayland --version | grep -oE '[0-9]+' | head -n 1)" -ge 6 ] &&
        ! ls /dev/dri/renderD* >/dev/null 2>&1; then
        # kwin 6 renders with OpenGL only on a GPU's render node; on a machine
        # without one it composites with QPainter, and offers no ScreenShot2
        # (its screenshots need OpenGL). It then runs in a window of its own
        # on Xvfb, whose contents are exactly what it composites: those are
        # the screenshot.
        xvfb_start || return 1
        kde_nested=$DISPLAY
        backend=(--x11-display "$DISPLAY")
    fi
    # No permission checks: kwin lets this test's own programs take
    # screenshots and send input, which it otherwise allows only to programs
    # whose desktop entries ask for it.
    env -i PATH="$PATH" HOME="$work/kde-home" ${kde_nested:+DISPLAY=$kde_nested} XDG_CONFIG_HOME="$work/kde-home/.config" \
        XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 QT_LOGGING_RULES=kwin_scripting.debug=true \
        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 \
        dbus-run-session -- sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS" >"$0/kde.bus"; echo $$ >"$0/kde.pid"
            shift; exec "$0/kde-bin/kwin_wayland" "$@"' "$work" - "${backend[@]}" --width 1600 --height 900 \
            --socket orvan-kde --no-lockscreen --no-global-shortcuts --no-kactivities >kwin.log 2>&1 &
    kde_session_pid=$!
    for i in $(seq 1 300); do  # 30 s
        if [ -s kde.pid ] && [ -s kde.bus ] && [ -S runtime/orvan-kde ]; then
            kde_pid=$(cat kde.pid)
            kde_bus=$(cat kde.bus)
            kde_dbus gdbus introspect --session -d org.kde.KWin -o /Scripting >/dev/null 2>&1 && break
        fi
        kill -0 "$kde_session_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$kde_pid" ] || ! kill -0 "$kde_pid" 2>/dev/null || [ "$i" = 300 ]; then
        echo "kwin_wayland did not start:"
        tail -n 20 kwin.log
        return 1
    fi
    DESKTOP_ENV=(XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=orvan-kde XDG_SESSION_TYPE=wayland)
}

# kde_window: the program's window as kwin knows it, "NAME FX FY FW FH BX BY
# BW BH": its desktopFileName ("-" if none), its frame (title bar and
# borders included) and its buffer (the contents). A KWin script prints it
# into kwin's log, under a tag of its own.
kde_window() {
    local tag id line i
    kde_queries=$((kde_queries + 1))
    tag="orvan-query-$kde_queries"
    cat >"$tag.js" <<JS
(workspace.windowList ? workspace.windowList() : workspace.clientList()).forEach(function (c) {
    if (c.pid !== ${program_pid:-0}) return;
    var f = c.frameGeometry, b = c.bufferGeometry;
    print("$tag " + (c.desktopFileName || "-") + " " + [f.x, f.y, f.width, f.height, b.x, b.y, b.width, b.height].join(" "));
});
print("$tag end");
JS
    id=$(kde_dbus gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
        "$work/$tag.js" "$tag" 2>/dev/null | tr -dc 0-9) || return 1
    # the script's object: /ID (kwin 5), /Scripting/ScriptID (kwin 6)
    kde_dbus gdbus call --session -d org.kde.KWin -o "/$id" -m org.kde.kwin.Script.run >/dev/null 2>&1 ||
        kde_dbus gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run \
            >/dev/null 2>&1 || return 1
    for i in $(seq 1 50); do
        grep -aq "^js: $tag end" kwin.log && break
        sleep 0.1
    done
    kde_dbus gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.unloadScript "$tag" \
        >/dev/null 2>&1
    line=$(grep -a "^js: $tag " kwin.log | grep -v " end$" | head -n 1 | cut -d' ' -f3-)
    [ -n "$line" ] && echo "$line"
}

desktop_window_name() {
    local name
    read -r name _ < <(kde_window) || return 1
    echo "$name"
}

desktop_window_rect() {
    local bx by bw bh
    read -r _ _ _ _ _ bx by bw bh < <(kde_window) || return 1
    echo "$bx $by $bw $bh"
}

# Breeze's title bar: from the frame's top to the contents.
desktop_title_rect() {
    local fx fy fw by
    read -r _ fx fy fw _ _ by _ _ < <(kde_window) || return 1
    echo "$fx $fy $fw $((by - fy))"
}

# Breeze's close button is the rightmost, its centre 18 pixels from the
# frame's right edge (measured with its default button size and font).
desktop_close_xy() {
    local fx fy fw by
    read -r _ fx fy fw _ _ by _ _ < <(kde_window) || return 1
    echo "$((fx + fw - 18)) $((fy + (by - fy) / 2))"
}

# The system's python3 (python3-gi), not whichever one comes first on PATH.
desktop_screenshot() {
    if [ -n "$kde_nested" ]; then
        xwd -root -silent -display "$kde_nested" | convert xwd:- "png:$1"
        return
    fi
    kde_dbus /usr/bin/python3 "$kde_here/kde_screenshot.py" >"$work/kde-shot.ppm" &&
        convert "$work/kde-shot.ppm" "png:$1"
}

kde_input() { env XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=orvan-kde "$ORVAN_KDE_FAKE_INPUT" "$@"; }
desktop_click() { kde_input click "$1" "$2"; }
desktop_key_escape() { kde_input key 1; }  # evdev KEY_ESC

desktop_kill() {
    [ -z "$kde_pid" ] || kill -9 "$kde_pid" 2>/dev/null
    kde_pid=""
}

desktop_stop() {
    local i
    if [ -n "$kde_pid" ]; then
        kill "$kde_pid" 2>/dev/null
        for i in $(seq 1 50); do kill -0 "$kde_pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$kde_pid" 2>/dev/null
        kde_pid=""
    fi
    if [ -n "$kde_session_pid" ]; then
        # dbus-run-session ends its bus when the compositor has ended; ended
        # itself first, it would leave the bus running.
        for i in $(seq 1 50); do kill -0 "$kde_session_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$kde_session_pid" 2>/dev/null
        wait "$kde_session_pid" 2>/dev/null
        kde_session_pid=""
    fi
    xvfb_stop
    return 0
}
