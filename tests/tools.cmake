# Tools: static analysis of src/ (clang-tidy with .clang-tidy, cppcheck with
# tests/cppcheck.supp), the libFuzzer harnesses of tests/fuzz (in a BKF_SANITIZE build
# with clang), and the real-window road under valgrind (scripts/valgrind).

if(NOT BKF_SANITIZE)
  # The analysers look at the source, not at a build: one run, in the normal build.
  find_program(BKF_CLANG_TIDY NAMES clang-tidy-14 clang-tidy)
  find_program(BKF_CPPCHECK NAMES cppcheck)
  get_target_property(bkf_sdl_inc SDL2::SDL2 INTERFACE_INCLUDE_DIRECTORIES)
  get_target_property(bkf_ttf_inc SDL2_ttf::SDL2_ttf INTERFACE_INCLUDE_DIRECTORIES)
  set(bkf_tidy_inc)
  foreach(d ${bkf_sdl_inc} ${bkf_ttf_inc})
    list(APPEND bkf_tidy_inc -isystem ${d})
  endforeach()
  foreach(f ${BKF_SOURCES})
    get_filename_component(name ${f} NAME_WE)
    add_test(NAME tools.clang_tidy.${name}
      COMMAND ${BKF_CLANG_TIDY} --quiet ${f} --
        -std=c++20 -I${PROJECT_SOURCE_DIR}/src ${bkf_tidy_inc} -D_REENTRANT)
    set_tests_properties(tools.clang_tidy.${name} PROPERTIES LABELS tools TIMEOUT 300
      FAIL_REGULAR_EXPRESSION "warning:|error:")
  endforeach()
  add_test(NAME tools.cppcheck
    COMMAND ${BKF_CPPCHECK} --std=c++20 --language=c++ --library=posix --library=sdl
      --enable=warning,style,performance,portability --inline-suppr
      --suppressions-list=${PROJECT_SOURCE_DIR}/tests/cppcheck.supp --error-exitcode=1 -q
      --template={file}:{line}:\ {severity}:\ {message}\ [{id}] -I${PROJECT_SOURCE_DIR}/src
      ${BKF_SOURCES})
  set_tests_properties(tools.cppcheck PROPERTIES LABELS tools TIMEOUT 300)

  # valgrind cannot run a sanitized binary; the road runs here, on the normal build.
  find_program(BKF_VALGRIND NAMES valgrind)
  if(BKF_VALGRIND)
    add_test(NAME tools.valgrind.window_road
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/valgrind ${BKF_LAUNCHER})
    set_tests_properties(tools.valgrind.window_road PROPERTIES LABELS "tools;valgrind"
      TIMEOUT 600 ENVIRONMENT "BKF_RENDER=$<TARGET_FILE:bkf_render>;PYTHONDONTWRITEBYTECODE=1")
  endif()
endif()

if(BKF_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # The launcher's modules once more, with libFuzzer's coverage, for the harnesses.
  add_library(bkf_fuzz_core STATIC ${BKF_SOURCES})
  target_compile_definitions(bkf_fuzz_core PUBLIC BKF_NO_MAIN)
  target_compile_options(bkf_fuzz_core PRIVATE -fsanitize=fuzzer-no-link)
  target_include_directories(bkf_fuzz_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(bkf_fuzz_core PUBLIC SDL2::SDL2 SDL2_ttf::SDL2_ttf)

  # Each harness runs for at most 20 s (or the runs given, whichever ends first) from
  # the seeds in tests/fuzz/corpus/<name>; what it learns goes to a corpus of its own in
  # the build, a finding to fuzz-artifacts/. Any finding fails the test.
  foreach(h stream status)
    # Room for lines past the 8191-byte limit; the status query reads 4095 bytes.
    if(h STREQUAL "stream")
      set(len 20000)
    else()
      set(len 5000)
    endif()
    add_executable(bkf_fuzz_${h} fuzz/${h}_fuzz.cpp)
    target_link_libraries(bkf_fuzz_${h} PRIVATE bkf_fuzz_core)
    target_compile_options(bkf_fuzz_${h} PRIVATE -fsanitize=fuzzer)
    target_link_options(bkf_fuzz_${h} PRIVATE -fsanitize=fuzzer)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/${h})
    set(found ${CMAKE_CURRENT_BINARY_DIR}/fuzz-artifacts)
    add_test(NAME tools.fuzz.${h}
      COMMAND sh -c "rm -rf \"$1\" && mkdir -p \"$1\" \"$2\" && exec \"$3\" \
-max_total_time=20 -runs=3000000 -max_len=${len} -timeout=10 -rss_limit_mb=1024 \
-print_final_stats=1 -artifact_prefix=\"$2/${h}-\" \"$1\" \"$4\""
        sh ${work} ${found} $<TARGET_FILE:bkf_fuzz_${h}>
        ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${h})
    set_tests_properties(tools.fuzz.${h} PROPERTIES LABELS "tools;fuzz" TIMEOUT 120)
  endforeach()
endif()
