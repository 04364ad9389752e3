# Running the game: play() with fake games (sh scripts) that record their argument vector
# and exit as told; the log rotation, the first-run marker and the crashed screen.
bkf_gtest(bkf_test_game AREA game test_game.cpp)
