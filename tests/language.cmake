# The launcher in the player's language.
#   language.Language.*: the language the locale variables choose, translations whose
#     conversions differ, broken catalogues (tests/test_language.cpp).
#   language.po.<lang>: each catalogue of po/LINGUAS passes msgfmt --check.
#   language.pot_current: po/brackenfold-launcher.pot is what scripts/pot extracts from
#     the sources today.
#   language.language_screens.*: every screen in every language fits (the real
#     launcher's screenshot mode and bkf_render, with the build's own catalogues).
bkf_gtest(bkf_test_language AREA language test_language.cpp)

find_program(BKF_MSGFMT msgfmt)
foreach(lang ${BKF_LANGUAGES})
  add_test(NAME language.po.${lang}
    COMMAND ${BKF_MSGFMT} --check --verbose --output-file=/dev/null
      ${PROJECT_SOURCE_DIR}/po/${lang}.po)
  set_tests_properties(language.po.${lang} PROPERTIES LABELS language)
endforeach()
add_test(NAME language.pot_current COMMAND ${PROJECT_SOURCE_DIR}/scripts/pot --check)
set_tests_properties(language.pot_current PROPERTIES LABELS language TIMEOUT 60)
bkf_unittest(AREA language DIR ${CMAKE_CURRENT_SOURCE_DIR} FILES test_language_screens.py
  ENV BKF_LAUNCHER=${BKF_LAUNCHER} BKF_RENDER=$<TARGET_FILE:bkf_render>
    BKF_LOCALEDIR=${PROJECT_BINARY_DIR}/locale)
