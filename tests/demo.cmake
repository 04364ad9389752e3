# The stand-ins under demo/share: the stand-in installer (status answers, build runs,
# process group, SIGTERM, injected failures, the script fallback) and the stand-in game
# it compiles. One CTest entry per test method of tests/test_demo.py, so that ctest -j
# spreads them.
set(BKF_DEMO_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/test_demo.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${BKF_DEMO_TESTS})
file(STRINGS ${BKF_DEMO_TESTS} lines REGEX "^class [A-Za-z0-9_]+\\(|^    def test_[a-z0-9_]+\\(")
foreach(line ${lines})
  if(line MATCHES "^class ([A-Za-z0-9_]+)\\(")
    set(class ${CMAKE_MATCH_1})
  elseif(line MATCHES "^    def test_([a-z0-9_]+)\\(")
    string(TOLOWER "${class}" group)
    set(name demo.${group}.${CMAKE_MATCH_1})
    add_test(NAME ${name}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v test_demo.${class}.test_${CMAKE_MATCH_1}
      WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "BKF_SOURCE_DIR=${PROJECT_SOURCE_DIR};PYTHONDONTWRITEBYTECODE=1"
      LABELS demo TIMEOUT 120)
  endif()
endforeach()
