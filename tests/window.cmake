# The real-window road (tests/window): the launcher in a real window on a private Xvfb,
# driven by xdotool and by signals, against fake installers and games that the tests
# write, its window compared with bkf_render's exact pictures. harness.py, fakes.py and
# case.py are the harness that the hostile area, scripts/valgrind and scripts/demo use
# too. Every test file there that tests/hostile.cmake does not claim is this area's.
file(GLOB files RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/window CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/window/test_*.py)
list(REMOVE_ITEM files ${BKF_HOSTILE_FILES})
bkf_unittest(AREA window DIR ${CMAKE_CURRENT_SOURCE_DIR}/window FILES ${files}
  ENV BKF_LAUNCHER=${BKF_LAUNCHER} BKF_RENDER=$<TARGET_FILE:bkf_render>)
