# SPDX-License-Identifier: MIT
# The program for the browser (the web preset): .html, .js and .wasm in the
# build folder, the page around the canvas from web/shell.html. The frames run
# on the browser's frame clock (emscripten_set_main_loop), so no -sASYNCIFY.
set_target_properties(orvan-demo-window PROPERTIES SUFFIX ".html" LINK_DEPENDS ${PROJECT_SOURCE_DIR}/web/shell.html)
target_link_options(orvan-demo-window PRIVATE
  "SHELL:--shell-file ${PROJECT_SOURCE_DIR}/web/shell.html"
  # Only the browser's runtime support in the .js, none for Node.js or workers.
  -sENVIRONMENT=web
  # Debian's emcc has no HTML minifier (and crashes looking for one at -O1 and up).
  -sMINIFY_HTML=0)
# The page's icon beside it, for a browser that asks for it.
add_custom_command(TARGET orvan-demo-window POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/data/orvan-demo-window.svg
          $<TARGET_FILE_DIR:orvan-demo-window>/orvan-demo-window.svg)
