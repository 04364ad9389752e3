# Hostile children through the real launcher in a real window (tests/hostile/): fake
# installers and games that misbehave on purpose, compared with bkf_render's exact
# pictures of any screen.
file(GLOB files RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/hostile CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/hostile/test_*.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/hostile/util.py)
bkf_unittest(AREA hostile DIR ${CMAKE_CURRENT_SOURCE_DIR}/hostile FILES ${files} TIMEOUT 90
  ENV BKF_LAUNCHER=${BKF_LAUNCHER} BKF_RENDER=$<TARGET_FILE:bkf_render>)
