# SPDX-License-Identifier: MIT
# What `cmake --install` puts where (paths relative to the install prefix):
#
#   component runtime (the program, also what the .deb holds)
#     bin/orvan-demo-window
#     lib/orvan-demo-window/libraylib.so.600     the raylib it was built with,
#                                                 unless that one is on the
#                                                 system's library path
#     share/applications/orvan-demo-window.desktop
#   component development (the engine for other programs; needs no raylib)
#     include/orvan/orvan_kernel.hpp, orvan_raylib.hpp
#     <libdir>/liborvan_engine.a (or .so with BUILD_SHARED_LIBS)
#     <libdir>/cmake/orvan/    find_package(orvan CONFIG) gives orvan::engine
#     <libdir>/pkgconfig/orvan.pc
#
# The engine's exact-float flags are private compile options of the library:
# its headers hold only declarations and constants, so a program linking the
# installed library gets the same bits whatever flags it is compiled with.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ---- the engine ---------------------------------------------------------------

set_target_properties(orvan_engine PROPERTIES
  EXPORT_NAME engine
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
  PUBLIC_HEADER "src/orvan_kernel.hpp;src/orvan_raylib.hpp")
# Installed, the headers are included as <orvan/orvan_kernel.hpp>.
target_include_directories(orvan_engine PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS orvan_engine EXPORT orvanTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvan COMPONENT development)

set(ORVAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvan)
install(EXPORT orvanTargets NAMESPACE orvan:: DESTINATION ${ORVAN_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/orvanConfig.cmake.in ${PROJECT_BINARY_DIR}/orvanConfig.cmake
  INSTALL_DESTINATION ${ORVAN_CMAKE_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvanConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvanConfig.cmake ${PROJECT_BINARY_DIR}/orvanConfigVersion.cmake
  DESTINATION ${ORVAN_CMAKE_DIR} COMPONENT development)

# The .pc file finds the prefix from its own place, so it stays right under
# `cmake --install --prefix` and in a package.
file(RELATIVE_PATH ORVAN_PC_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/orvan.pc.in ${PROJECT_BINARY_DIR}/orvan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# ---- the program ---------------------------------------------------------------

if(TARGET orvan-demo-window)
  install(TARGETS orvan-demo-window RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES data/orvan-demo-window.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT runtime)

  # raylib 6.0 built by scripts/setup-deps.sh (or from any other place the
  # loader does not search) goes with the program into a folder of its own,
  # found through the executable's RUNPATH; never into the system's folders.
  set(ORVAN_RAYLIB_LIBRARY "")
  get_target_property(ORVAN_RAYLIB_TYPE raylib TYPE)
  if(ORVAN_RAYLIB_TYPE STREQUAL "SHARED_LIBRARY")
    get_target_property(ORVAN_RAYLIB_CONFIGS raylib IMPORTED_CONFIGURATIONS)
    list(GET ORVAN_RAYLIB_CONFIGS 0 ORVAN_RAYLIB_CONFIG)
    get_target_property(ORVAN_RAYLIB_LIBRARY raylib IMPORTED_LOCATION_${ORVAN_RAYLIB_CONFIG})
    get_filename_component(ORVAN_RAYLIB_LIBDIR "${ORVAN_RAYLIB_LIBRARY}" DIRECTORY)
  endif()
  set(ORVAN_BUNDLE_RAYLIB_DEFAULT OFF)
  if(ORVAN_RAYLIB_LIBRARY AND NOT ORVAN_RAYLIB_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set(ORVAN_BUNDLE_RAYLIB_DEFAULT ON)
  endif()
  option(ORVAN_BUNDLE_RAYLIB "Install raylib with the program into lib/orvan-demo-window"
    ${ORVAN_BUNDLE_RAYLIB_DEFAULT})

  if(ORVAN_BUNDLE_RAYLIB)
    if(NOT ORVAN_RAYLIB_LIBRARY)
      message(FATAL_ERROR "ORVAN_BUNDLE_RAYLIB needs raylib as a shared library from its CMake package")
    endif()
    set(ORVAN_PRIVATE_LIBDIR lib/orvan-demo-window)
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
