# Bounded work under a flood of installer output: every pump_build() call comes back
# while a writer that never stops is still writing, and install.log keeps every byte.
# The timings themselves (frame gaps, throughput) are figures of scripts/bench.
#   perf.Flood.*
bkf_gtest(bkf_test_perf AREA perf perf_flood.cpp)
