/* SPDX-License-Identifier: MIT */
/*
 * Records the frame pacing of orvan-demo-window over the real raylib, when preloaded into it (LD_PRELOAD), then
 * asks the program to close.
 *
 * raylib's EndDrawing calls its exported SwapScreenBuffer (the buffer swap: Mesa renders the frame and hands it to
 * the X server) and then WaitTime for the rest of the 1/60 s; both calls go through raylib's PLT, so the probe sees
 * them and passes them on. A frame is presented when SwapScreenBuffer returns: the probe takes CLOCK_MONOTONIC
 * there, and notes how long the swap and the wait took. After the last recorded frame WindowShouldClose reports
 * true, and the program ends as if the window had been closed.
 *
 * Environment:
 *   ORVAN_PACING_OUT       file to write the record to at exit (required)
 *   ORVAN_PACING_FRAMES    frames to record (default 601, giving 600 intervals)
 *   ORVAN_PACING_START_NS  CLOCK_REALTIME in ns taken just before the program was started: the time to the first frame
 *   ORVAN_PACING_IGNORE_MALLOPT  if 1, the program's mallopt calls are swallowed, so that glibc's default heap
 *                          trimming applies (a diagnostic: what the program's M_TRIM_THRESHOLD setting buys)
 *
 * Output: "# key value" lines (frames, start_to_first_frame_ms, cpu_seconds_per_frame, minor_faults_per_frame,
 * peak_rss_kib, wait_calls), then one line a frame: index, presented at (ms after frame 0), interval to the previous
 * frame (ms), swap (ms), wait (ms) spent in WaitTime since the previous frame.
 */
#include <malloc.h>
#include <raylib.h>
#include <stdbool.h>
#include <sys/resource.h>
#include <time.h>

#include "probe.h" /* dlfcn.h, stdio.h, stdlib.h */

enum { kMaxFrames = 100000 };

static struct frame {
    double presented, swap, wait;  // s; presented on CLOCK_MONOTONIC
} g_frame[kMaxFrames];
static long g_wanted = 601;
static long g_count;
static double g_wait_since_last;
static long g_wait_calls;
static double g_first_realtime;
static struct rusage g_usage[3];  // at the first and at the last recorded frame, and at exit

static void (*g_next_swap)(void);
static void (*g_next_wait)(double);
static bool (*g_next_should_close)(void);
static int (*g_next_mallopt)(int, int);

static double now(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// CPU time of every thread of the process, Mesa's included.
static double cpu_seconds(const struct rusage* ru) {
    return (double)ru->ru_utime.tv_sec + (double)ru->ru_utime.tv_usec * 1e-6 + (double)ru->ru_stime.tv_sec +
           (double)ru->ru_stime.tv_usec * 1e-6;
}

__attribute__((constructor)) static void pacing_probe_start(void) {
    const char* frames = getenv("ORVAN_PACING_FRAMES");
    if (frames != NULL) g_wanted = strtol(frames, NULL, 10);
    if (g_wanted < 2 || g_wanted > kMaxFrames) g_wanted = 601;
}

void SwapScreenBuffer(void) {
    if (g_next_swap == NULL) g_next_swap = (void (*)(void))probe_next("SwapScreenBuffer");
    const double begin = now(CLOCK_MONOTONIC);
    g_next_swap();
    const double end = now(CLOCK_MONOTONIC);
    if (g_count >= g_wanted) return;
    if (g_count == 0) {
        g_first_realtime = now(CLOCK_REALTIME);
        getrusage(RUSAGE_SELF, &g_usage[0]);
    }
    if (g_count == g_wanted - 1) getrusage(RUSAGE_SELF, &g_usage[1]);
    g_frame[g_count] = (struct frame){.presented = end, .swap = end - begin, .wait = g_wait_since_last};
    g_wait_since_last = 0.0;
    ++g_count;
}

void WaitTime(double seconds) {
    if (g_next_wait == NULL) g_next_wait = (void (*)(double))probe_next("WaitTime");
    const double begin = now(CLOCK_MONOTONIC);
    g_next_wait(seconds);
    g_wait_since_last += now(CLOCK_MONOTONIC) - begin;
    ++g_wait_calls;
}

bool WindowShouldClose(void) {
    if (g_next_should_close == NULL) g_next_should_close = (bool (*)(void))probe_next("WindowShouldClose");
    return g_next_should_close() || g_count >= g_wanted;
}

int mallopt(int param, int val) {
    const char* ignore = getenv("ORVAN_PACING_IGNORE_MALLOPT");
    if (ignore != NULL && ignore[0] == '1') return 1;
    if (g_next_mallopt == NULL) g_next_mallopt = (int (*)(int, int))probe_next("mallopt");
    return g_next_mallopt(param, val);
}

__attribute__((destructor)) static void pacing_probe_report(void) {
    FILE* out = probe_out("ORVAN_PACING_OUT");
    if (out == NULL) return;
    getrusage(RUSAGE_SELF, &g_usage[2]);
    const char* start = getenv("ORVAN_PACING_START_NS");
    fprintf(out, "# frames %ld\n", g_count);
    if (start != NULL && g_count > 0) {
        fprintf(out, "# start_to_first_frame_ms %.3f\n", (g_first_realtime - strtod(start, NULL) * 1e-9) * 1e3);
    }
    if (g_count == g_wanted) {
        const double n = (double)(g_wanted - 1);
        fprintf(out, "# cpu_seconds_per_frame %.6f\n", (cpu_seconds(&g_usage[1]) - cpu_seconds(&g_usage[0])) / n);
        fprintf(out, "# minor_faults_per_frame %.1f\n", (double)(g_usage[1].ru_minflt - g_usage[0].ru_minflt) / n);
    }
    fprintf(out, "# peak_rss_kib %ld\n# wait_calls %ld\n", g_usage[2].ru_maxrss, g_wait_calls);
    for (long i = 0; i < g_count; ++i) {
        const double interval = i == 0 ? 0.0 : (g_frame[i].presented - g_frame[i - 1].presented) * 1e3;
        fprintf(out, "%ld %.6f %.6f %.6f %.6f\n", i, (g_frame[i].presented - g_frame[0].presented) * 1e3, interval,
                g_frame[i].swap * 1e3, g_frame[i].wait * 1e3);
    }
    fclose(out);
}
