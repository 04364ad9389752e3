# The launcher renders its ready screen with no display and exits 0.
add_test(NAME smoke.screenshot
  COMMAND ${CMAKE_COMMAND} -E env --unset=SDL_VIDEODRIVER --unset=DISPLAY
    BKF_LAUNCHER_SHOT=${CMAKE_CURRENT_BINARY_DIR}/smoke.bmp ${BKF_LAUNCHER})
