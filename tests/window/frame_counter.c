/* SPDX-License-Identifier: MIT */
/*
 * An LD_PRELOAD probe that counts the frames a program finishes: it wraps
 * EndDrawing, calls raylib's own, and then stores the running count in a
 * shared mapping of the file named by ORVAN_FRAME_COUNT_FILE (8 bytes, the
 * count as a native-endian unsigned 64-bit integer), which another process
 * can read at any time, e.g. with `od -An -t u8 FILE`. Without that variable,
 * or if the file cannot be mapped, it counts nothing and only forwards.
 * With ORVAN_FRAME_HOLD_AT=N it holds the program after frame N, presented,
 * for as long as the file FILE.hold exists: a picture of one exact frame.
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <raylib.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static volatile uint64_t* g_count;
static uint64_t g_hold_at;
static char g_hold_file[4096];

__attribute__((constructor)) static void frame_counter_open(void) {
    const char* path = getenv("ORVAN_FRAME_COUNT_FILE");
    if (path == NULL || path[0] == '\0') return;
    const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
    void* map = fd >= 0 && ftruncate(fd, sizeof(uint64_t)) == 0
                    ? mmap(NULL, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                    : MAP_FAILED;
    if (fd >= 0) close(fd); /* leaves errno as it is when it succeeds */
    if (map == MAP_FAILED) {
        perror("frame counter: ORVAN_FRAME_COUNT_FILE");
        return;
    }
    g_count = map;
    const char* hold = getenv("ORVAN_FRAME_HOLD_AT");
    if (hold != NULL && strlen(path) + sizeof ".hold" <= sizeof g_hold_file) {
        g_hold_at = strtoull(hold, NULL, 10);
        snprintf(g_hold_file, sizeof g_hold_file, "%s.hold", path);
    }
}

void EndDrawing(void) {
    static void (*real_end_drawing)(void);
    if (real_end_drawing == NULL) {
        real_end_drawing = (void (*)(void))dlsym(RTLD_NEXT, "EndDrawing");
        if (real_end_drawing == NULL) {
            fprintf(stderr, "frame counter: no EndDrawing after this library: %s\n", dlerror());
            abort();
        }
    }
    real_end_drawing();
    if (g_count == NULL) return;
    *g_count = *g_count + 1;
    const struct timespec pause = {0, 10000000L}; /* 10 ms */
    while (g_hold_at != 0 && *g_count == g_hold_at && access(g_hold_file, F_OK) == 0) nanosleep(&pause, NULL);
}
