# SPDX-License-Identifier: MIT
# raylib 6.0 as the target `raylib`: from its CMake package (scripts/setup-deps.sh
# builds one into .deps/prefix, on the presets' CMAKE_PREFIX_PATH), else from pkg-config.
find_package(raylib 6.0 CONFIG QUIET)
if(raylib_FOUND AND raylib_VERSION VERSION_GREATER_EQUAL 6.1)
  message(FATAL_ERROR "raylib ${raylib_VERSION} found in ${raylib_DIR}; orvan-demo-window needs 6.0")
endif()
if(NOT raylib_FOUND)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(RAYLIB6 QUIET IMPORTED_TARGET raylib>=6.0)
  endif()
  if(NOT RAYLIB6_FOUND OR RAYLIB6_VERSION VERSION_GREATER_EQUAL 6.1)
    message(FATAL_ERROR
      "raylib 6.0 not found. Run scripts/setup-deps.sh, which builds it into .deps/prefix, "
      "or point CMAKE_PREFIX_PATH at a raylib 6.0 install; -DORVAN_BUILD_WINDOW=OFF builds the engine alone.")
  endif()
  add_library(raylib INTERFACE IMPORTED)
  target_link_libraries(raylib INTERFACE PkgConfig::RAYLIB6)
endif()
