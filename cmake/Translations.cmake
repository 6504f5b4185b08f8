# tarvel-cli's messages in the user's language (GNU gettext). The catalogues
# are compiled beside the programs (locale/<lang>/LC_MESSAGES/), where the
# build tree finds them, and installed to share/locale.
find_program(TARVEL_MSGFMT msgfmt REQUIRED)
find_program(TARVEL_XGETTEXT xgettext)

# The core's marked texts, which tarvel-cli translates where it prints them.
set(TARVEL_POT ${CMAKE_SOURCE_DIR}/po/tarvel-cli.pot)
set(TARVEL_CORE_TEXTS ${CMAKE_BINARY_DIR}/generated/core_texts.inc)
add_custom_command(OUTPUT ${TARVEL_CORE_TEXTS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/po/core-texts ${TARVEL_POT} ${TARVEL_CORE_TEXTS}
  DEPENDS ${TARVEL_POT} ${CMAKE_SOURCE_DIR}/po/core-texts
  COMMENT "Listing the core's translatable texts"
  VERBATIM)
add_custom_target(tarvel_core_texts DEPENDS ${TARVEL_CORE_TEXTS})
add_dependencies(tarvel_cli tarvel_core_texts)
target_include_directories(tarvel_cli PRIVATE ${CMAKE_BINARY_DIR}/generated)
file(RELATIVE_PATH TARVEL_INSTALL_LOCALEDIR_FROM_BIN
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LOCALEDIR}")
target_compile_definitions(tarvel_cli PRIVATE
  TARVEL_INSTALL_LOCALEDIR="${CMAKE_INSTALL_FULL_LOCALEDIR}"
  TARVEL_INSTALL_LOCALEDIR_FROM_BIN="${TARVEL_INSTALL_LOCALEDIR_FROM_BIN}")

set(TARVEL_LANGUAGES ja)
set(TARVEL_MO_FILES)
foreach(lang ${TARVEL_LANGUAGES})
  set(mo ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES/tarvel-cli.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES
    COMMAND ${TARVEL_MSGFMT} --check --output-file=${mo} ${CMAKE_SOURCE_DIR}/po/${lang}.po
    DEPENDS ${CMAKE_SOURCE_DIR}/po/${lang}.po
    COMMENT "Compiling the ${lang} messages of tarvel-cli"
    VERBATIM)
  list(APPEND TARVEL_MO_FILES ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${lang}/LC_MESSAGES)
endforeach()
add_custom_target(tarvel_translations ALL DEPENDS ${TARVEL_MO_FILES})
add_dependencies(tarvel-cli tarvel_translations)

# `cmake --build build --target tarvel_pot` extracts the texts again into
# po/tarvel-cli.pot and merges them into each po/<lang>.po.
if(TARVEL_XGETTEXT)
  add_custom_target(tarvel_pot
    COMMAND sh ${CMAKE_SOURCE_DIR}/po/update-pot ${TARVEL_XGETTEXT}
    COMMENT "Extracting tarvel-cli's texts into po/tarvel-cli.pot"
    VERBATIM)
endif()
