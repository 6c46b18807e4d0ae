# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the
# programs, tests included, run under qemu-user with the target's C and C++
# libraries from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ORVAN_TARGET_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries, headers and packages from the target's tree; programs from the build machine's.
set(CMAKE_FIND_ROOT_PATH ${ORVAN_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user's name, and qemu-user-static's on Debian 12.
find_program(ORVAN_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(NOT ORVAN_QEMU_AARCH64)
  message(FATAL_ERROR "qemu-aarch64 not found: run scripts/setup-deps.sh --tests (package qemu-user)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVAN_QEMU_AARCH64} -L ${ORVAN_TARGET_ROOT})
