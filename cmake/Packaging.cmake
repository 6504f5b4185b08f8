# Tarvel as a desktop program: what `make install` puts where, and the
# Debian package (`make package`).
set(TARVEL_APP_ID io.github.tarvel.Tarvel)
set(TARVEL_MAN_DIR ${CMAKE_BINARY_DIR}/man)

# The manual pages share one list of the settings keys; they are compressed
# the way Debian installs manual pages.
file(READ ${CMAKE_SOURCE_DIR}/docs/man/settings-keys.roff TARVEL_MAN_SETTINGS_KEYS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/docs/man/settings-keys.roff)
set(TARVEL_MAN_PAGES tarvel-cli)
if(TARVEL_BUILD_GUI)
  list(APPEND TARVEL_MAN_PAGES tarvel)
endif()
set(TARVEL_MAN_FILES)
foreach(page ${TARVEL_MAN_PAGES})
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${TARVEL_MAN_DIR}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${TARVEL_MAN_DIR}/${page}.1.gz
    COMMAND sh -c "gzip -9 -n -c ${page}.1 > ${page}.1.gz"
    WORKING_DIRECTORY ${TARVEL_MAN_DIR}
    DEPENDS ${TARVEL_MAN_DIR}/${page}.1
    VERBATIM)
  list(APPEND TARVEL_MAN_FILES ${TARVEL_MAN_DIR}/${page}.1.gz)
endforeach()

# The Japanese pages, written in UTF-8 and installed as ASCII roff (every
# Japanese character an escape), which groff and man read under any locale.
file(READ ${CMAKE_SOURCE_DIR}/docs/man/ja/settings-keys.roff TARVEL_MAN_SETTINGS_KEYS_JA)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/docs/man/ja/settings-keys.roff)
set(TARVEL_MAN_FILES_JA)
foreach(page ${TARVEL_MAN_PAGES})
  set(ja ${TARVEL_MAN_DIR}/ja)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/ja/${page}.1.in ${ja}/${page}.1.utf8 @ONLY)
  add_custom_command(OUTPUT ${ja}/${page}.1.gz
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/docs/man/ja/roff-escape ${page}.1.utf8
      ${page}.1
    COMMAND sh -c "gzip -9 -n -c ${page}.1 > ${page}.1.gz"
    WORKING_DIRECTORY ${ja}
    DEPENDS ${ja}/${page}.1.utf8 ${CMAKE_SOURCE_DIR}/docs/man/ja/roff-escape
    VERBATIM)
  list(APPEND TARVEL_MAN_FILES_JA ${ja}/${page}.1.gz)
endforeach()
add_custom_target(tarvel_man ALL DEPENDS ${TARVEL_MAN_FILES} ${TARVEL_MAN_FILES_JA})
install(FILES ${TARVEL_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TARVEL_MAN_FILES_JA} DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)

install(FILES ${CMAKE_SOURCE_DIR}/data/completion/tarvel-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(TARVEL_BUILD_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${TARVEL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${TARVEL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${TARVEL_APP_ID}.svg
    DESTINATION ${icons}/scalable/apps)
  foreach(size 48 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${TARVEL_APP_ID}-${size}.png
      DESTINATION ${icons}/${size}x${size}/apps RENAME ${TARVEL_APP_ID}.png)
  endforeach()
endif()

# Debian wants the copyright and a compressed change log in the package's
# documentation folder.
set(TARVEL_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${TARVEL_CHANGELOG_GZ}
  COMMAND sh -c "gzip -9 -n -c '${CMAKE_SOURCE_DIR}/docs/changelog' > '${TARVEL_CHANGELOG_GZ}'"
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/changelog
  VERBATIM)
add_custom_target(tarvel_changelog ALL DEPENDS ${TARVEL_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/docs/copyright ${TARVEL_CHANGELOG_GZ}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvel)

# The package installs under /usr whatever prefix the build was configured
# with; the programs then find their tables beside them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tarvel developers")
set(CPACK_PACKAGE_CONTACT "The Tarvel developers <tarvel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert Japanese MP3 names and tags for MP3-CD players")
# The summary above becomes the first line; CPack indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Many car and portable MP3-CD players cannot show full-width Japanese.
Tarvel converts the MP3 file names, folder names and ID3v1 tag texts of a
music folder into half-width katakana or romaji, with the user's own
substitutions, a length limit and numbered duplicates.

Every change is listed in list.csv before anything on disk changes, and a
run can be undone from that list. The package holds the window program
(tarvel) and the command line (tarvel-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/tarvel/tarvel")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The reading service opens this dictionary, and the window draws its SVG
# icons through Qt's image plugin, and Qt's own dialogs speak Japanese
# through its translations; no library names either.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mecab-ipadic-utf8, libqt6svg6, qt6-translations-l10n")
# The log's font, the completion of tarvel-cli's options, and glibc's own
# Japanese error texts, which tarvel-cli's Japanese messages quote.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, bash-completion, libc-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(BUILD_TESTING AND TARVEL_BUILD_GUI)
  # The package (with both programs) is built by the tests themselves, then
  # unpacked and run; the files it installs are checked by their own tools.
  add_test(NAME package_build
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
  set_tests_properties(package_build PROPERTIES FIXTURES_SETUP tarvel_deb TIMEOUT 120)
  add_test(NAME package_installed_run
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/installed_run_test.sh
      ${CMAKE_BINARY_DIR}/package ${CMAKE_BINARY_DIR}/make-sample-library)
  set_tests_properties(package_installed_run PROPERTIES FIXTURES_REQUIRED tarvel_deb TIMEOUT 120)
  add_test(NAME package_checks
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/package_checks_test.sh
      ${CMAKE_BINARY_DIR}/package ${CMAKE_SOURCE_DIR})
  set_tests_properties(package_checks PROPERTIES FIXTURES_REQUIRED tarvel_deb TIMEOUT 180)
endif()
