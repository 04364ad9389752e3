# The installer's child processes and its line protocol, through fake installers that the
# tests write (a few lines of sh or Python each).
#   installer.Installer.*: status query, build run, outcomes, cancel, shutdown.
#   installer.Protocol.*: line assembly and the protocol table, fed directly.
#   installer.Input.*: events, focus and actions, a virtual controller included.
bkf_gtest(bkf_test_installer AREA installer test_installer.cpp test_protocol.cpp test_input.cpp)
