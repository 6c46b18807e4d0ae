# SPDX-License-Identifier: MIT
# Compiler warnings for the project's own targets: every target defined in
# this source tree after this file is included. Dependencies are prebuilt
# (raylib, GoogleTest, Google Benchmark) and reached through imported targets,
# whose headers are system headers, so none of this applies to them.
#
# The scene arithmetic is single precision and the engine's is double: an
# implicit float-to-double promotion or a narrowing conversion is a warning.
# With ORVAN_WERROR (on in the presets of the builds CI checks) every warning
# is an error.
option(ORVAN_WERROR "Treat compiler warnings in the project's own code as errors" OFF)

set(ORVAN_WARNINGS
  -Wall -Wextra -Wpedantic
  -Wconversion -Wsign-conversion -Wfloat-conversion -Wdouble-promotion
  -Wshadow -Wcast-qual -Wformat=2 -Wundef -Wimplicit-fallthrough -Wmissing-declarations)
set(ORVAN_CXX_WARNINGS -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wextra-semi)
set(ORVAN_GCC_WARNINGS -Wlogical-op -Wduplicated-cond -Wduplicated-branches)

add_compile_options(
  "$<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:${ORVAN_WARNINGS}>"
  "$<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:${ORVAN_WARNINGS};${ORVAN_CXX_WARNINGS}>"
  "$<$<COMPILE_LANG_AND_ID:C,GNU>:${ORVAN_GCC_WARNINGS}>"
  "$<$<COMPILE_LANG_AND_ID:CXX,GNU>:${ORVAN_GCC_WARNINGS}>")

if(ORVAN_WERROR)
  set(CMAKE_COMPILE_WARNING_AS_ERROR ON)
endif()
