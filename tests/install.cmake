# Installation and the README's pictures.
#   install.tree: `cmake --install` of this build into a temporary prefix; the tree's
#     layout, the desktop entry and the metainfo (their validators and their agreement),
#     the icons, and the installed launcher running.
#   install.demo: the "demo" component, the stand-in installer and game, lands where the
#     launcher looks for them under /app and answers the status query.
#   install.readme: README.md shows every picture and names every environment variable.
#   install.shots: the pictures in docs/ and data/icons/ were made by scripts/shots from
#     the drawing code as it is (docs/shots.sha256); no comparison of pixels, which a
#     new FreeType, DejaVu or librsvg would change without a change of code.


add_test(NAME install.tree COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py tree ${PROJECT_BINARY_DIR}
  ${PROJECT_VERSION} io.brackenfold.Launcher ${PROJECT_SOURCE_DIR})
add_test(NAME install.demo COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py demo ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(install.demo PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME install.readme COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py readme ${PROJECT_SOURCE_DIR})
set_tests_properties(install.tree install.demo install.readme PROPERTIES
  LABELS install TIMEOUT 120)

add_test(NAME install.shots COMMAND ${PROJECT_SOURCE_DIR}/scripts/shots --current)
set_tests_properties(install.shots PROPERTIES LABELS install TIMEOUT 60)
