/* SPDX-License-Identifier: MIT */
/* What the preloaded probes (alloc_probe.c, pacing_probe.c) share. */
#pragma once
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

/* The definition of NAME after the probe's (the real raylib's, the C library's); aborts if there is none. */
static inline void* probe_next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (f == NULL) {
        fprintf(stderr, "probe: %s not found after the probe\n", name);
        abort();
    }
    return f;
}

/* The file the environment variable VAR names, opened for writing; NULL if VAR is unset or empty, or on failure. */
static inline FILE* probe_out(const char* var) {
    const char* path = getenv(var);
    if (path == NULL || path[0] == '\0') return NULL;
    FILE* out = fopen(path, "w");
    if (out == NULL) perror(var);
    return out;
}
