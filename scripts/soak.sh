#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Soak: runs orvan-demo-window (the default build) in a real window under Xvfb
# for a given time, sampling its resident memory and the frames it has
# finished, then ends it with Esc.
#
# usage: scripts/soak.sh [SECONDS [WARMUP_SECONDS]]   (default 1800 and 60)
#
# Frames are counted by an LD_PRELOAD probe wrapping raylib's EndDrawing
# (tests/window/frame_counter.c). Samples are taken every 2 seconds, as
# "seconds VmRSS VmHWM frames RssAnon RssFile RssShmem" (memory in KiB, from
# /proc/PID/status).
#
# Memory is judged on RssAnon, the anonymous resident memory: the heap and
# every other private allocation, where a leak goes and stays (the machine has
# no swap). VmRSS adds file pages (the libraries, Mesa's shader cache), which
# the kernel may drop and fault in again whatever the program does; VmHWM is a
# high-water mark, so a one-time step and a steady leak both look like "it
# grew", and any transient peak stays in it for good. Per-frame buffers that
# are freed again can still be caught in a sample; so the measure is the floor
# of RssAnon, its lowest sample in a window. A leak lifts the floor steadily to
# the end of the run; a step lifts it once and it stays flat afterwards (raylib,
# Mesa and glibc take about 1 MiB more once, some two minutes into a run; a
# bare raylib program does the same). The soak fails if
#   - the floor of RssAnon over the last window is above its floor over the
#     window starting at one third of the run (not before the warm-up's end)
#     by more than 64 KiB; windows are 60 seconds, shorter if the measured
#     time is under two minutes (half of it);
#   - the program stalls: no frame finished for 10 seconds after the warm-up;
#   - the program ends by itself, or does not end with status 0 within
#     2 seconds of the Esc key.
# The frame rate itself is a measurement, not a check: how close it stays to
# 60 depends on what else the machine's cores are doing (on 2 cores with
# Mesa's software renderer, a full minute at 50-54 fps happens on an
# idle-looking machine, and 23-30 fps at load 5-7; the program with raylib's
# pacing taken away runs at about 60.5 there, so a ceiling would not show
# pacing either: the recording raylib's test pins SetTargetFPS(60)). It
# is reported over the whole measured time and per 60-second window after the
# warm-up (median, slowest and fastest, and how many were under 55), with the
# load average at the start and the end, so a slow run can be told from a
# busy machine.
# Every rise of the 10-second floor of RssAnon after the warm-up (by 64 KiB or
# more) is reported with its time and size, as are VmRSS and VmHWM.
# ORVAN_SOAK_LOG=FILE also writes the samples there.
set -euo pipefail
trap 'echo "soak: FAIL a command failed at line $LINENO" >&2' ERR
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
duration=${1:-1800}
warmup=${2:-60}
interval=2
window=60
max_growth_kib=64
stall_s=10
slow_fps=55

orvan_setup --tests
orvan_build default orvan-demo-window frame_counter send_close_request
program=$PWD/build/default/orvan-demo-window
probe=$PWD/build/default/tests/libframe_counter.so
send_close_request=$PWD/build/default/tests/send_close_request
source tests/lib/xvfb.sh

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
    xvfb_stop
    rm -rf "$work"
}
trap cleanup EXIT
xvfb_start
log=${ORVAN_SOAK_LOG:-$work/samples.txt}
: >"$log"

now() { date +%s.%N; }
frames() { od -An -t u8 "$work/frames" 2>/dev/null | tr -d ' \n' || echo 0; }
memory_kib() {
    awk '/^VmHWM:/ {h = $2} /^VmRSS:/ {r = $2} /^RssAnon:/ {a = $2} /^RssFile:/ {f = $2} /^RssShmem:/ {s = $2}
         END {print r, h, a, f, s}' "/proc/$1/status" 2>/dev/null
}

(cd "$work" && ORVAN_FRAME_COUNT_FILE=$work/frames LD_PRELOAD=$probe exec "$program" >out.txt 2>err.txt) &
pid=$!
wid=$(xvfb_wait_window "$pid") || exit 1
start=$(now)
echo "soak: ${duration} s, warm-up ${warmup} s, window $wid, process $pid, load $(cut -d' ' -f1-3 /proc/loadavg)"
next=0
while :; do
    next=$((next + interval))
    [ "$next" -le "$duration" ] || break
    sleep "$(awk -v s="$start" -v n="$next" -v t="$(now)" 'BEGIN { d = s + n - t; print (d > 0 ? d : 0) }')"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "soak: FAIL the program ended by itself after about $next s" >&2
        cat "$work/err.txt" >&2
        exit 1
    fi
    line=$(awk -v s="$start" -v t="$(now)" -v m="$(memory_kib "$pid")" -v f="$(frames)" \
        'BEGIN { split(m, k, " "); printf "%.2f %d %d %d %d %d %d\n", t - s, k[1], k[2], f, k[3], k[4], k[5] }')
    echo "$line" | tee -a "$log"
done

# Esc as an event sent to the window alone: xdotool's key release would reach a
# window already gone, and its X error ended this script.
"$send_close_request" "$wid" esc || echo "soak: sending Esc failed" >&2
wait_exit "$pid" 2
status=$EXIT_STATUS
pid=""
echo "soak: load at the end $(cut -d' ' -f1-3 /proc/loadavg)"

awk -v duration="$duration" -v warmup="$warmup" -v window="$window" -v max_growth="$max_growth_kib" \
    -v stall_s="$stall_s" -v slow_fps="$slow_fps" -v status="$status" -v interval="$interval" '
    { t[NR] = $1; r[NR] = $2; h[NR] = $3; f[NR] = $4; a[NR] = $5 }
    # lowest RssAnon of the samples i.. with t < until
    function floor_from(i, until,   lo) {
        for (lo = a[i]; i <= NR && t[i] < until; i++) if (a[i] < lo) lo = a[i]
        return lo
    }
    END {
        fail = 0
        for (i = 1; i <= NR && t[i] < warmup; i++) {}
        if (i > NR) { print "soak: FAIL no sample after the warm-up"; exit 1 }
        base = i
        peak = 0
        for (j = 1; j <= NR; j++) if (r[j] > peak) { peak = r[j]; peak_t = t[j] }
        printf "soak: VmRSS first %d KiB at %.0f s, after the warm-up %d KiB at %.0f s, end %d KiB at %.0f s, highest sample %d KiB at %.0f s\n",
            r[1], t[1], r[base], t[base], r[NR], t[NR], peak, peak_t
        printf "soak: VmHWM %d KiB after the warm-up, %d KiB at the end\n", h[base], h[NR]

        # Steps: rises of the floor over the next 10 seconds, after the warm-up.
        steps = 0; prev = floor_from(base, t[base] + 10)
        for (j = base + 1; j <= NR && t[j] + 10 <= t[NR] + interval; j++) {
            fl = floor_from(j, t[j] + 10)
            if (fl - prev >= 64) {
                if (++steps <= 10) printf "soak: step of RssAnon at %.0f s: %+d KiB (%d to %d KiB)\n", t[j], fl - prev, prev, fl
                prev = fl
            } else if (fl < prev) prev = fl
        }
        if (steps > 10) printf "soak: ... %d steps in all\n", steps
        if (steps == 0) print "soak: no step of RssAnon after the warm-up"

        # Trend: floor over the window from one third of the run, and over the last.
        from = duration / 3 > t[base] ? duration / 3 : t[base]
        for (third = base; third < NR && t[third] < from; third++) {}
        w = (t[NR] - t[third]) / 2 < window ? (t[NR] - t[third]) / 2 : window
        for (last = NR; last > third && t[last - 1] > t[NR] - w; last--) {}
        f1 = floor_from(third, t[third] + w); f2 = floor_from(last, t[NR] + 1)
        printf "soak: RssAnon first %d KiB at %.0f s, end %d KiB; floor %d KiB in %.0f-%.0f s, %d KiB in %.0f-%.0f s: growth %d KiB (limit %d KiB)\n",
            a[1], t[1], a[NR], f1, t[third], t[third] + w, f2, t[last], t[NR], f2 - f1, max_growth
        if (f2 - f1 > max_growth) { print "soak: FAIL memory grew to the end of the run"; fail = 1 }

        span = t[NR] - t[base]
        w = span < window ? span : window
        lo = 1e9; hi = -1; n = 0; slow = 0; s = base
        for (j = base + 1; j <= NR; j++) {
            if (t[j] - t[s] >= w - 0.5 || (j == NR && n == 0)) {
                fps = (f[j] - f[s]) / (t[j] - t[s]); rate[++n] = fps
                if (fps < lo) { lo = fps; lo_t = t[s] }
                if (fps > hi) { hi = fps; hi_t = t[s] }
                if (fps < slow_fps) slow++
                s = j
            }
        }
        # median of the windows (insertion sort: at most a few hundred)
        for (i = 2; i <= n; i++) for (k = i; k > 1 && rate[k - 1] > rate[k]; k--) { x = rate[k]; rate[k] = rate[k - 1]; rate[k - 1] = x }
        median = n % 2 ? rate[(n + 1) / 2] : (rate[n / 2] + rate[n / 2 + 1]) / 2
        total = (f[NR] - f[base]) / span
        printf "soak: frame rate %.2f fps over %.0f s after the warm-up; in %d windows of %.0f s: median %.2f, slowest %.2f (from %.0f s), fastest %.2f (from %.0f s), %d under %d\n",
            total, span, n, w, median, lo, lo_t, hi, hi_t, slow, slow_fps

        # Stall: the longest time after the warm-up in which no frame finished.
        longest = 0; since = base
        for (j = base + 1; j <= NR; j++) {
            if (f[j] > f[since]) since = j
            else if (t[j] - t[since] > longest) { longest = t[j] - t[since]; longest_t = t[since] }
        }
        if (longest >= stall_s) { printf "soak: FAIL no frame finished for %.0f s from %.0f s\n", longest, longest_t; fail = 1 }
        else printf "soak: frames kept coming (longest time without one under %d s)\n", stall_s
        printf "soak: Esc after the soak: exit status %s\n", status
        if (status != "0") { print "soak: FAIL the program did not end with 0 within 2 s of Esc"; fail = 1 }
        print (fail ? "soak: FAIL" : "soak: ok")
        exit fail
    }' "$log"
