# Hostile children and settings through the real launcher in a real window: fake
# installers and games that misbehave on purpose, paths and environments that do not
# fit, full disks and missing fonts. The files live in tests/window beside the harness
# they share with the window area; their entries are hostile.<group>.<method>, labelled
# hostile and window (every test of the real-window harness).
set(BKF_HOSTILE_FILES test_children.py test_data.py test_env.py test_lifecycle.py
  test_nothing_lost.py test_output.py test_status_limit.py)
bkf_unittest(AREA hostile LABELS window DIR ${CMAKE_CURRENT_SOURCE_DIR}/window
  FILES ${BKF_HOSTILE_FILES}
  ENV BKF_LAUNCHER=${BKF_LAUNCHER} BKF_RENDER=$<TARGET_FILE:bkf_render>)
