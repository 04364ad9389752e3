# The stand-ins under demo/share: the stand-in installer (status answers, build runs,
# process group, SIGTERM, injected failures, the script fallback) and the stand-in game
# it compiles.
bkf_unittest(AREA demo DIR ${CMAKE_CURRENT_SOURCE_DIR} FILES test_demo.py)
