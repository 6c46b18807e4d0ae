# SPDX-License-Identifier: MIT
# Adapter of desktop_test.sh: sway, a tiling Wayland compositor, on wlroots'
# headless backend (no input devices, one 1600x900 output). sway draws the
# title bar itself (server-side decorations, which the program asks for and
# sway grants); the bar has no buttons, so the close is sway's own (`swaymsg kill`,
# what its key binding for closing sends). The window's app_id and place come
# from sway's tree (swaymsg -t get_tree), the screenshot from grim, Esc from
# wtype (a virtual keyboard, which sway gives to the focused window: the
# program's). Windows float, at the size they ask for: tiled, the window would
# fill the output and the scene's checks need it at 1280x720.
#
# sway refuses to run as root. When the test runs as root (CI), sway alone
# runs as the unprivileged user nobody: the private runtime folder (the
# program and the tools, run as root, may use what is in it) is given to
# nobody, and the work folder made passable to it. As any other user, sway
# runs as that user.

SWAY_PID=""

desktop_start() {
    local run_as=()
    mkdir -p sway-home
    printf '%s\n' 'output HEADLESS-1 resolution 1600x900 position 0 0' 'default_border normal 2' \
        'xwayland disable' 'for_window [title=".*"] floating enable' >sway.config
    if [ "$(id -u)" = 0 ]; then
        chmod 711 "$work"
        chmod 644 sway.config
        chown nobody: runtime sway-home || return 1
        run_as=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
        if ! "${run_as[@]}" test -r "$work/sway.config" -a -w "$work/runtime"; then
            echo "nobody cannot reach $work (TMPDIR in a private folder?): sway cannot run as nobody"
            return 1
        fi
    fi
    "${run_as[@]}" env -i PATH="$PATH" HOME="$work/sway-home" XDG_RUNTIME_DIR="$work/runtime" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 sway -c "$work/sway.config" >sway.log 2>&1 &
    SWAY_PID=$!
    export XDG_RUNTIME_DIR=$work/runtime
    unset SWAYSOCK WAYLAND_DISPLAY
    for _ in $(seq 1 200); do  # its IPC socket and its Wayland socket (wayland-N)
        SWAYSOCK=$(ls runtime/sway-ipc.*.sock 2>/dev/null | head -n 1)
        WAYLAND_DISPLAY=$(ls runtime 2>/dev/null | grep -xE 'wayland-[0-9]+' | head -n 1)
        if [ -n "$SWAYSOCK" ] && [ -n "$WAYLAND_DISPLAY" ] && SWAYSOCK=$work/$SWAYSOCK swaymsg -t get_version >/dev/null 2>&1; then
            export SWAYSOCK=$work/$SWAYSOCK WAYLAND_DISPLAY
            DESKTOP_BACKEND=Wayland
            DESKTOP_ENV=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY" XDG_RUNTIME_DIR="$work/runtime" XDG_SESSION_TYPE=wayland)
            return 0
        fi
        kill -0 "$SWAY_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "sway did not start:"
    tail -n 20 sway.log
    return 1
}

# sway_view FIELD...: the program's view in sway's tree, its FIELDs (app_id,
# rect, window_rect, deco_rect) printed in that order, rects as "X Y W H"
sway_view() {
    swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
pid, fields = int(sys.argv[1]), sys.argv[2:]
def views(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from views(child)
def text(value):
    if isinstance(value, dict):
        return " ".join(str(value[k]) for k in ("x", "y", "width", "height"))
    return str(value)
for view in views(json.load(sys.stdin)):
    if view.get("pid") == pid:
        print(" ".join(text(view[f]) for f in fields))
        sys.exit(0)
sys.exit(1)' "$program_pid" "$@"
}

desktop_window_name() { sway_view app_id; }

desktop_window_rect() {
    # window_rect is the contents' place inside the container's rect
    local x y wx wy w h
    read -r x y _ _ wx wy w h < <(sway_view rect window_rect)
    echo "$((x + wx)) $((y + wy)) $w $h"
}

desktop_title_rect() { sway_view deco_rect; }  # on the output, at 0 0

desktop_close_xy() { :; }  # sway's title bar has no buttons

desktop_close() { swaymsg "[pid=$program_pid] kill" >/dev/null; }

desktop_screenshot() { grim "$1"; }

desktop_key_escape() {
    # Held 1.5 s: a virtual keyboard that comes with the key already down
    # would otherwise show the program the release only.
    wtype -s 1500 -k Escape
}

desktop_kill() {
    kill -9 "$SWAY_PID"
    wait "$SWAY_PID" 2>/dev/null
    SWAY_PID=""
}

desktop_stop() {
    if [ -n "$SWAY_PID" ]; then
        kill "$SWAY_PID" 2>/dev/null
        wait "$SWAY_PID" 2>/dev/null
        SWAY_PID=""
    fi
}
