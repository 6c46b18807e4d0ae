# SPDX-License-Identifier: MIT
# Fails if a 64-bit ARM library contains a fused multiply-add instruction:
# the engine rounds every product on its own. The library must also hold
# separate multiplications and additions, so that an empty or unreadable
# disassembly cannot pass.
#
# usage: cmake -DOBJDUMP=aarch64-linux-gnu-objdump -DLIBRARY=liborvan_engine.a -P no_fused_multiply_add.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY} OUTPUT_VARIABLE disassembly
                COMMAND_ERROR_IS_FATAL ANY)

# Scalar fmadd fmsub fnmadd fnmsub, vector fmla fmls (and fmlal...), SVE
# fmad fmsb fnmad fnmsb fnmla fnmls.
string(REGEX MATCHALL "\tfn?m(add|sub|ad|sb|la|ls)[a-z0-9]*[\t ][^\n]*" fused "${disassembly}")
string(REGEX MATCHALL "\tfmul[\t ]" multiplications "${disassembly}")
string(REGEX MATCHALL "\tfadd[\t ]" additions "${disassembly}")
list(LENGTH fused fused_count)
list(LENGTH multiplications mul_count)
list(LENGTH additions add_count)
message(STATUS "${LIBRARY}: ${fused_count} fused multiply-adds, ${mul_count} fmul, ${add_count} fadd")
if(mul_count EQUAL 0 OR add_count EQUAL 0)
  message(FATAL_ERROR "no fmul or no fadd in the disassembly: not the engine, or not read")
endif()
if(NOT fused_count EQUAL 0)
  list(SUBLIST fused 0 3 first)
  string(REGEX REPLACE "[\t ]+" " " first "${first}")
  message(FATAL_ERROR "fused multiply-adds found, for example:${first}")
endif()
