# SPDX-License-Identifier: MIT
# Warnings for the targets of this source tree defined after this file; the
# prebuilt dependencies' headers (imported targets) are system headers. The
# scene computes in float and the engine in double: implicit promotions and
# narrowing conversions are warnings. ORVAN_WERROR (on in CI's presets) makes
# every warning an error.
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
