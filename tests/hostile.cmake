# Hostile children through the real launcher in a real window (tests/hostile/): fake
# installers and games that misbehave on purpose. hostile_render draws the exact picture
# of any screen for the comparisons. One CTest entry per test case, listed from the test
# files when CMake configures, so that the cases run side by side.
add_executable(hostile_render ${CMAKE_CURRENT_SOURCE_DIR}/hostile/render.cpp)
target_link_libraries(hostile_render PRIVATE bkf_core)

set(hostile_dir ${CMAKE_CURRENT_SOURCE_DIR}/hostile)
file(GLOB hostile_files CONFIGURE_DEPENDS ${hostile_dir}/test_*.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hostile_files}
  ${hostile_dir}/util.py)
set(hostile_list [=[
import sys, unittest
sys.path.insert(0, sys.argv[1])
def walk(s):
    for t in s:
        yield from walk(t) if isinstance(t, unittest.TestSuite) else [t.id()]
print(";".join(walk(unittest.defaultTestLoader.loadTestsFromName(sys.argv[2]))))
]=])
foreach(file ${hostile_files})
  get_filename_component(module ${file} NAME_WE)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "${hostile_list}" ${hostile_dir} ${module}
    OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE listed)
  if(NOT listed EQUAL 0 OR cases STREQUAL "" OR cases MATCHES "_FailedTest")
    message(FATAL_ERROR "cannot list the test cases of ${file}")
  endif()
  foreach(case ${cases})
    string(REGEX REPLACE "^test_" "" name ${case})
    string(REPLACE ".test_" "." name ${name})
    add_test(NAME hostile.${name}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v ${case}
      WORKING_DIRECTORY ${hostile_dir})
    set(limit 90)
    if(module STREQUAL "test_status_limit")
      set(limit 180)
    endif()
    set_tests_properties(hostile.${name} PROPERTIES LABELS hostile TIMEOUT ${limit}
      SKIP_REGULAR_EXPRESSION "skipped="
      ENVIRONMENT "BKF_LAUNCHER=${BKF_LAUNCHER};BKF_HOSTILE_RENDER=$<TARGET_FILE:hostile_render>;PYTHONDONTWRITEBYTECODE=1")
  endforeach()
endforeach()
