/* SPDX-License-Identifier: MIT */
/*
 * A library named libdecor-0.so.0 with none of libdecor's functions. Put on the
 * program's library path, it is what GLFW finds when it loads libdecor at run
 * time; missing the functions, GLFW goes on as on a system without libdecor.
 */
int orvan_no_libdecor;
