# Installation and the README's pictures.
#   install.tree: `cmake --install` of this build into a temporary prefix; the tree's
#     layout, the desktop entry and the metainfo (their validators and their agreement),
#     the icons, and the installed launcher running.
#   install.demo: the "demo" component, the stand-in installer and game, lands where the
#     launcher looks for them under /app and answers the status query.
#   install.readme: README.md shows every picture and names every environment variable.
#   install.shots.<picture>: scripts/shots re-renders each screen and icon and compares
#     it pixel for pixel with the one kept in docs/ or data/icons/.


add_test(NAME install.tree COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py tree ${PROJECT_BINARY_DIR}
  ${PROJECT_VERSION} io.brackenfold.Launcher)
add_test(NAME install.demo COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py demo ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(install.demo PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME install.readme COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py readme ${PROJECT_SOURCE_DIR})
set_tests_properties(install.tree install.demo install.readme PROPERTIES
  LABELS install TIMEOUT 120)

foreach(shot checking setup update working failed ready crashed icon-64 icon-128 icon-256)
  add_test(NAME install.shots.${shot}
    COMMAND ${CMAKE_COMMAND} -E env BKF_LAUNCHER=${BKF_LAUNCHER}
      BKF_RENDER=$<TARGET_FILE:bkf_render>
      ${PROJECT_SOURCE_DIR}/scripts/shots --check ${shot})
  set_tests_properties(install.shots.${shot} PROPERTIES LABELS install TIMEOUT 60)
endforeach()
