# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); programs built for the target, tests included, run
# under QEMU's user-mode emulator (qemu-user) with the target's C and C++
# libraries from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ORVAN_TARGET_TRIPLE aarch64-linux-gnu)
set(ORVAN_TARGET_ROOT /usr/${ORVAN_TARGET_TRIPLE})
set(CMAKE_C_COMPILER ${ORVAN_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ORVAN_TARGET_TRIPLE}-g++)

# Libraries, headers and CMake packages come from the target's tree only; tools
# from the build machine.
set(CMAKE_FIND_ROOT_PATH ${ORVAN_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user installs qemu-aarch64 (Debian 12 and 13); qemu-user-static's name
# on Debian 12 is accepted too.
find_program(ORVAN_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(NOT ORVAN_QEMU_AARCH64)
  message(FATAL_ERROR "qemu-aarch64 not found: run scripts/setup-deps.sh --tests (package qemu-user)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVAN_QEMU_AARCH64} -L ${ORVAN_TARGET_ROOT})
