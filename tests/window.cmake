# The real-window road: the launcher in a real window on a private Xvfb, driven by
# xdotool and by SIGTERM, against fake installers and games that the tests write. Each
# case picks its own display and cleans up after itself.
file(GLOB files RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/window CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/window/test_*.py)
bkf_unittest(AREA window DIR ${CMAKE_CURRENT_SOURCE_DIR}/window FILES ${files}
  ENV BKF_LAUNCHER=${BKF_LAUNCHER})
