/* SPDX-License-Identifier: MIT */
/*
 * Counts the heap allocations of the process it is preloaded into (LD_PRELOAD), and how many of them fall inside a
 * window of frames.
 *
 * Every malloc, calloc, realloc, memalign, aligned_alloc, posix_memalign and valloc of the process (operator new
 * calls malloc) is counted and passed on to the C library's own allocator. Frames are counted by WindowShouldClose,
 * which the program calls once at the top of every frame; the probe passes the call on to the raylib loaded after it.
 *
 * Environment:
 *   ORVAN_ALLOC_OUT         file to write the counts to at exit (required)
 *   ORVAN_ALLOC_FROM_FRAME  the window starts when this frame has ended (default 10)
 *   ORVAN_ALLOC_TO_FRAME    and ends when this frame has ended (default 610)
 *
 * Output, one "key value" a line: allocations_total, allocations_window, window_from_frame, window_to_frame, frames
 * (frames begun), window_complete (1 if both ends of the window were reached).
 */
#include <malloc.h>
#include <raylib.h>
#include <stdbool.h>

#include "probe.h" /* dlfcn.h, stdio.h, stdlib.h */

/* glibc's allocator under its own names, no dlsym so no recursion: NOLINTBEGIN(bugprone-reserved-identifier) */
extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t nmemb, size_t size);
extern void* __libc_realloc(void* ptr, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
/* NOLINTEND(bugprone-reserved-identifier) */

static long g_total;
static long g_at_from = -1; /* g_total when frame g_from had ended; -1 before */
static long g_at_to = -1;
static long g_from = 10;
static long g_to = 610;
static long g_frames;
static bool (*g_next)(void);

static void* counted(void* p) {
    __atomic_add_fetch(&g_total, 1, __ATOMIC_RELAXED);
    return p;
}

void* malloc(size_t size) { return counted(__libc_malloc(size)); }
void* calloc(size_t nmemb, size_t size) { return counted(__libc_calloc(nmemb, size)); }
void* realloc(void* ptr, size_t size) { return counted(__libc_realloc(ptr, size)); }
void* memalign(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
void* valloc(size_t size) { return counted(__libc_memalign(4096, size)); }

int posix_memalign(void** memptr, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return 22; /* EINVAL */
    void* p = counted(__libc_memalign(alignment, size));
    if (p == NULL) return 12; /* ENOMEM */
    *memptr = p;
    return 0;
}

__attribute__((constructor)) static void alloc_probe_start(void) {
    const char* from = getenv("ORVAN_ALLOC_FROM_FRAME");
    const char* to = getenv("ORVAN_ALLOC_TO_FRAME");
    if (from != NULL) g_from = strtol(from, NULL, 10);
    if (to != NULL) g_to = strtol(to, NULL, 10);
}

/* Called at the top of frame n + 1, that is when frame n has ended. */
bool WindowShouldClose(void) {
    if (g_frames == g_from) g_at_from = __atomic_load_n(&g_total, __ATOMIC_RELAXED);
    if (g_frames == g_to) g_at_to = __atomic_load_n(&g_total, __ATOMIC_RELAXED);
    if (g_next == NULL) g_next = (bool (*)(void))probe_next("WindowShouldClose");
    const bool close = g_next();
    if (!close) ++g_frames;
    return close;
}

__attribute__((destructor)) static void alloc_probe_report(void) {
    FILE* out = probe_out("ORVAN_ALLOC_OUT");
    if (out == NULL) return;
    const bool complete = g_at_from >= 0 && g_at_to >= 0;
    fprintf(out, "allocations_total %ld\nallocations_window %ld\nwindow_from_frame %ld\nwindow_to_frame %ld\n", g_total,
            complete ? g_at_to - g_at_from : 0L, g_from, g_to);
    fprintf(out, "frames %ld\nwindow_complete %d\n", g_frames, complete ? 1 : 0);
    fclose(out);
}
