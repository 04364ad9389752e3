# The real-window road: the launcher in a real window on a private Xvfb, driven by
# xdotool and by SIGTERM, against fake installers and games that the tests write.
# One CTest entry per test case (each file holds one TestCase class), so that
# ctest -j spreads them; each picks its own display and cleans up after itself.
set(BKF_WINDOW_DIR ${CMAKE_CURRENT_SOURCE_DIR}/window)
file(GLOB BKF_WINDOW_TESTS CONFIGURE_DEPENDS ${BKF_WINDOW_DIR}/test_*.py)
foreach(file ${BKF_WINDOW_TESTS})
  get_filename_component(stem ${file} NAME_WE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} classes REGEX "^class [A-Za-z0-9_]+\\(")
  file(STRINGS ${file} cases REGEX "^    def test_[A-Za-z0-9_]+\\(")
  list(LENGTH classes nclasses)
  if(NOT nclasses EQUAL 1)
    message(FATAL_ERROR "${file}: a window test file holds one TestCase class")
  endif()
  string(REGEX REPLACE "^class ([A-Za-z0-9_]+)\\(.*" "\\1" class "${classes}")
  foreach(line ${cases})
    string(REGEX REPLACE "^    def (test_[A-Za-z0-9_]+)\\(.*" "\\1" case "${line}")
    string(REGEX REPLACE "^test_" "" short "${case}")
    string(REGEX REPLACE "^test_" "" area "${stem}")
    add_test(NAME window.${area}.${short}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v ${stem}.${class}.${case}
      WORKING_DIRECTORY ${BKF_WINDOW_DIR})
    set_tests_properties(window.${area}.${short} PROPERTIES
      ENVIRONMENT "BKF_LAUNCHER=${BKF_LAUNCHER};PYTHONDONTWRITEBYTECODE=1"
      LABELS window TIMEOUT 120)
  endforeach()
endforeach()
