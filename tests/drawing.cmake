# The drawing area: the canvas read back pixel by pixel, in-process through draw() on
# the dummy video driver, and through the screenshot mode of the real launcher.
bkf_gtest(drawing_canvas AREA drawing test_drawing.cpp)
bkf_gtest(drawing_working AREA drawing test_drawing_working.cpp)
bkf_gtest(drawing_fonts AREA drawing test_drawing_fonts.cpp)
bkf_gtest(drawing_shots AREA drawing test_drawing_shots.cpp)
target_compile_definitions(drawing_shots PRIVATE BKF_LAUNCHER_PATH="${BKF_LAUNCHER}")
add_dependencies(drawing_shots brackenfold-launcher)
