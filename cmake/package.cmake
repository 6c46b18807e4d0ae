# SPDX-License-Identifier: MIT
# `cpack` in a build tree (or `cmake --workflow --preset release`) makes two
# Debian packages, under /usr, from the components of cmake/install.cmake:
# orvan-demo-window (runtime) and liborvan-dev (development), each with Debian's
# copyright file and changelog.gz; lintian finds no error or warning in either
# (tests/package/). The program's dependencies are what dpkg-shlibdeps finds in
# it and the bundled raylib (libc6, libx11-6), plus what GLFW inside raylib
# loads with dlopen: libGL.so.1 and the X11 extensions it uses for monitors,
# cursors and input (raylib's audio libraries only InitAudioDevice loads, which
# the program never calls). It recommends what GLFW loads on Wayland instead,
# and libdecor with its cairo plugin, which GLFW loads on a compositor that
# draws no title bars itself (GNOME, weston): without them the window's bar has
# no title and no buttons there.
# CPack writes ldconfig into postinst and postrm when a shared library lies in
# /usr/lib or a folder right under it, and has no switch against it; the
# program's raylib lies in /usr/lib/<multiarch>/orvan-demo-window, which
# ldconfig does not scan anyway, so the packages have no maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvan)
set(CPACK_PACKAGE_VENDOR "Orvan")
set(CPACK_PACKAGE_CONTACT "The Orvan developers <developers@orvan.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Each package's description below starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME orvan-demo-window)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libgl1, libxrandr2, libxinerama1, libxcursor1, libxi6")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS
  "libwayland-client0, libwayland-cursor0, libwayland-egl1, libxkbcommon0, libegl1, libdecor-0-0, libdecor-0-plugin-1-cairo")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Live 3-D viewport of the Orvan projective-geometry engine
orvan-demo-window opens a 1280x720 raylib 6.0 window and renders, at 60
frames per second, an orbiting view of a grid, a ring of spheres and a wire
cube, while the Orvan engine's camera on the 3-sphere turns every frame.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborvan-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Orvan projective-geometry engine (C++20 static library)
Homogeneous 4-vectors of real projective 3-space, their affine charts and a
camera on the unit 3-sphere, in exact double-precision arithmetic. Use it with
find_package(orvan CONFIG) and the target orvan::engine, or pkg-config orvan.")
include(CPack)
