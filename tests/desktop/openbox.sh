# SPDX-License-Identifier: MIT
# Adapter of desktop_test.sh: openbox, an X11 window manager, on Xvfb, with
# its default theme (its frame draws the title and, at the right of the title
# bar, iconify, maximise and close). Everything is read from the X server:
# WM_CLASS and the geometry of the program's window and of openbox's frame
# windows around it; the screenshot is the root window's contents, the click
# and the pointer's moves are XTEST input (xdotool), and Esc is a key press
# sent to the program's window alone (send_close_request, as the X11 window
# test does: no key is left held down when the window is gone).

OPENBOX_PID=""

desktop_start() {
    xvfb_start || return 1
    HOME=$work XDG_CONFIG_HOME=$work/config openbox --sm-disable >openbox.log 2>&1 &
    OPENBOX_PID=$!

    for _ in $(seq 1 200); do  # ready once it names itself on the root window
        [ "$(wmctrl -m 2>/dev/null | sed -n 's/^Name: //p')" = Openbox ] && break
        kill -0 "$OPENBOX_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ "$(wmctrl -m 2>/dev/null | sed -n 's/^Name: //p')" != Openbox ]; then
        echo "openbox did not start:"
        tail -n 20 openbox.log
        return 1
    fi
    DESKTOP_BACKEND=X11
    DESKTOP_ENV=(DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/runtime" XDG_SESSION_TYPE=x11)
}

openbox_wid() {  # the program's window
    xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n 1 | grep .
}

desktop_window_name() {
    local wid
    wid=$(openbox_wid) || return 1
    # WM_CLASS(STRING) = "instance", "class": the class
    xprop -id "$wid" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = ".*", "\(.*\)"$/\1/p' | grep .
}

desktop_window_rect() {
    xwininfo -id "$(openbox_wid)" |
        awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
             /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

desktop_title_rect() {
    # The frame's extents (left, right, top, bottom) around the contents: the
    # title bar is the frame's top part.
    local x y w left right top
    read -r x y w _ < <(desktop_window_rect)
    read -r left right top _ < <(xprop -id "$(openbox_wid)" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    echo "$((x - left)) $((y - top)) $((w + left + right)) $top"
}

desktop_close_xy() {
    # openbox draws each button in a small square window of its own inside
    # the frame; in the default layout the close button is the last one, at
    # the right. The frame is the program's window's parent.
    local frame y top
    frame=$(xwininfo -tree -id "$(openbox_wid)" | awk '/Parent window id:/ {print $4}')
    read -r _ y _ top < <(desktop_title_rect)
    # "  0x2002ab (has no name): ()  12x12+1264+3  +1424+74": size, position
    # in the parent, position on the screen
    xwininfo -tree -id "$frame" | grep -oE ' [0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+$' |
        tr 'x+' '  ' |
        awk -v top="$y" -v bottom="$((y + top))" '
            $1 == $2 && $1 >= 8 && $1 <= 40 && $6 >= top && $6 + $2 <= bottom && (best == "" || $5 > bestx) {
                bestx = $5; best = ($5 + int($1 / 2)) " " ($6 + int($2 / 2))
            }
            END { if (best != "") print best }'
}

desktop_screenshot() {
    xwd -silent -root | convert xwd:- "png:$1"
}

desktop_click() {
    # from the screen's bottom-left corner, outside the centred window
    xdotool mousemove 0 899 sleep 0.2 mousemove "$1" "$2" sleep 0.2 click 1
}

desktop_key_escape() {
    "$send_close_request" "$(openbox_wid)" esc
}

desktop_stop() {
    if [ -n "$OPENBOX_PID" ]; then
        kill "$OPENBOX_PID" 2>/dev/null
        wait "$OPENBOX_PID" 2>/dev/null
        OPENBOX_PID=""
    fi
    xvfb_stop
}
