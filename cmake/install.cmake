# SPDX-License-Identifier: MIT
# What `cmake --install` puts where: component runtime (the program, also the
# .deb orvan-demo-window) and component development (the engine, its headers,
# CMake package and pkg-config file: liborvan-dev). <libdir> is GNUInstallDirs'
# choice: lib, or the multiarch lib/x86_64-linux-gnu with the prefix /usr on
# Debian (the release preset, and so the .deb). The documents are laid out as
# Debian wants them in a package: a machine-readable copyright file, changelog
# and manual page compressed with gzip -9n (the same bytes on every build).
#
# The engine's exact-float flags are private compile options of the library:
# its headers hold only declarations and constants, so a program linking the
# installed library gets the same bits whatever flags it is compiled with.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(orvan_engine PROPERTIES EXPORT_NAME engine VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR} PUBLIC_HEADER "src/orvan_kernel.hpp;src/orvan_raylib.hpp")
target_include_directories(orvan_engine PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS orvan_engine EXPORT orvanTargets COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvan)

set(ORVAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvan)
install(EXPORT orvanTargets NAMESPACE orvan:: DESTINATION ${ORVAN_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/orvanConfig.cmake.in ${PROJECT_BINARY_DIR}/orvanConfig.cmake
  INSTALL_DESTINATION ${ORVAN_CMAKE_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvanConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvanConfig.cmake ${PROJECT_BINARY_DIR}/orvanConfigVersion.cmake
  DESTINATION ${ORVAN_CMAKE_DIR} COMPONENT development)
# The .pc file finds the prefix from its own place: right under `--prefix` and in a package.
file(RELATIVE_PATH ORVAN_PC_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/orvan.pc.in ${PROJECT_BINARY_DIR}/orvan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

if(TARGET orvan-demo-window)
  install(TARGETS orvan-demo-window RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES data/orvan-demo-window.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
  install(FILES data/orvan-demo-window.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT runtime)
  install(FILES data/orvan-demo-window.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT runtime)

  # A raylib 6.0 the loader does not find by itself (scripts/setup-deps.sh
  # builds one) goes with the program into a folder of its own, found through
  # the executable's RUNPATH; never into the system's folders.
  get_target_property(ORVAN_RAYLIB_TYPE raylib TYPE)
  if(ORVAN_RAYLIB_TYPE STREQUAL "SHARED_LIBRARY")
    get_target_property(ORVAN_RAYLIB_LIBRARY raylib LOCATION)
    get_filename_component(ORVAN_RAYLIB_LIBDIR "${ORVAN_RAYLIB_LIBRARY}" DIRECTORY)
  endif()
  set(ORVAN_BUNDLE_RAYLIB_DEFAULT OFF)
  if(ORVAN_RAYLIB_LIBRARY AND NOT ORVAN_RAYLIB_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set(ORVAN_BUNDLE_RAYLIB_DEFAULT ON)
  endif()
  option(ORVAN_BUNDLE_RAYLIB "Install raylib with the program into lib/orvan-demo-window" ${ORVAN_BUNDLE_RAYLIB_DEFAULT})
  if(ORVAN_BUNDLE_RAYLIB)
    if(NOT ORVAN_RAYLIB_LIBRARY)
      message(FATAL_ERROR "ORVAN_BUNDLE_RAYLIB needs raylib as a shared library from its CMake package")
    endif()
    set(ORVAN_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/orvan-demo-window)
    install(FILES ${ORVAN_RAYLIB_LIBRARY} DESTINATION ${ORVAN_PRIVATE_LIBDIR} RENAME libraylib.so.600
      COMPONENT runtime)
    # install/strip and cpack strip install(TARGETS) files only.
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ORVAN_PRIVATE_LIBDIR}/libraylib.so.600\")
      endif()" COMPONENT runtime)
    file(RELATIVE_PATH ORVAN_BIN_TO_PRIVATE "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${ORVAN_PRIVATE_LIBDIR}")
    set_target_properties(orvan-demo-window PROPERTIES INSTALL_RPATH "$ORIGIN/${ORVAN_BIN_TO_PRIVATE}")
  endif()
endif()

# gzip -9n at configure time; reconfigures when SOURCE changes.
find_program(ORVAN_GZIP gzip REQUIRED)
function(orvan_gzip source output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND ${ORVAN_GZIP} -9nc ${source} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# A licence notice FILE ("Copyright (c) ..." lines, then the terms) as fields of
# a Debian copyright file: HOLDERS as a Copyright field's value, TERMS as a
# License paragraph's text, NOTICE the whole file as a field's text (each line
# indented, empty lines as " .").
function(orvan_notice file holders terms notice)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} text)
  string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REGEX MATCHALL "Copyright \\(c\\) [^\n]+" lines "${text}")
  string(REPLACE "Copyright (c) " "" lines "${lines}")
  list(JOIN lines "\n " value)
  set(${holders} "${value}" PARENT_SCOPE)
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]+\n+" "" body "${text}")
  foreach(var body text)
    string(REPLACE "\n" "\n " ${var} " ${${var}}")
    string(REPLACE "\n \n" "\n .\n" ${var} "${${var}}")
    string(REPLACE "\n \n" "\n .\n" ${var} "${${var}}")
  endforeach()
  set(${terms} "${body}" PARENT_SCOPE)
  set(${notice} "${text}" PARENT_SCOPE)
endfunction()

orvan_notice(LICENSE ORVAN_HOLDERS ORVAN_MIT ORVAN_NOTICE)
set(ORVAN_COPYRIGHT_HEAD "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: orvan

Files: *
Copyright: ${ORVAN_HOLDERS}
License: MIT
")
set(ORVAN_COPYRIGHT_MIT "
License: MIT
${ORVAN_MIT}
")
set(ORVAN_DOCS ${PROJECT_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${ORVAN_DOCS}/runtime ${ORVAN_DOCS}/development)
orvan_gzip(${PROJECT_SOURCE_DIR}/data/changelog ${ORVAN_DOCS}/changelog.gz)

file(WRITE ${ORVAN_DOCS}/development/copyright "${ORVAN_COPYRIGHT_HEAD}${ORVAN_COPYRIGHT_MIT}")
install(FILES ${ORVAN_DOCS}/development/copyright ${ORVAN_DOCS}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/liborvan-dev COMPONENT development)

if(TARGET orvan-demo-window)
  # A bundled raylib brings its notice and that of GLFW built into it (zlib), and
  # raylib's Debian copyright file, which lists the smaller libraries compiled
  # into it (several Expat, which asks for its notice in every copy). The texts
  # in data/third-party/ are copied from the sources scripts/setup-deps.sh builds
  # (tests/package/ compares them), so a build from any raylib 6.0 ships them.
  if(ORVAN_BUNDLE_RAYLIB)
    orvan_notice(data/third-party/raylib-LICENSE RAYLIB_HOLDERS RAYLIB_TERMS RAYLIB_NOTICE)
    orvan_notice(data/third-party/glfw-LICENSE.md GLFW_HOLDERS GLFW_TERMS GLFW_NOTICE)
    orvan_notice(data/third-party/raylib-debian-copyright UNUSED UNUSED RAYLIB_PARTS)
    set(ORVAN_COPYRIGHT_RAYLIB "
Files: */libraylib.so.600
Copyright: ${RAYLIB_HOLDERS}
 ${GLFW_HOLDERS}
License: Zlib
Comment: raylib 6.0, with GLFW 3.4 built into it. Their notices as they
 distribute them:
 .
 raylib (LICENSE)
 .
${RAYLIB_NOTICE}
 .
 GLFW (LICENSE.md)
 .
${GLFW_NOTICE}
 .
 The libraries compiled into raylib, with their holders and licences, as the
 copyright file of raylib's Debian source package (debian/copyright) gives
 them:
 .
${RAYLIB_PARTS}
")
    set(ORVAN_COPYRIGHT_ZLIB "
License: Zlib
${GLFW_TERMS}
")
  endif()
  file(WRITE ${ORVAN_DOCS}/runtime/copyright
    "${ORVAN_COPYRIGHT_HEAD}${ORVAN_COPYRIGHT_RAYLIB}${ORVAN_COPYRIGHT_MIT}${ORVAN_COPYRIGHT_ZLIB}")
  orvan_gzip(${PROJECT_SOURCE_DIR}/data/orvan-demo-window.1 ${ORVAN_DOCS}/orvan-demo-window.1.gz)
  install(FILES ${ORVAN_DOCS}/runtime/copyright ${ORVAN_DOCS}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvan-demo-window COMPONENT runtime)
  install(FILES ${ORVAN_DOCS}/orvan-demo-window.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
