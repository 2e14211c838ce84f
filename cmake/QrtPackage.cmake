# What a Debian machine needs besides the programs, and the package itself:
# desktop entry, AppStream metadata, man pages and bash completion (both
# written from the built programs, so they list exactly the options the
# programs have), the Debian changelog and copyright, and CPack's DEB
# generator. scripts/package.sh builds the package from the release preset.
include(GNUInstallDirs)

# The top entry of packaging/changelog names the release. Its version must be
# the project version, which the programs print, so the package, --version
# and the window title never disagree; its date dates the AppStream release
# and the man pages (reproducibly: not the build's date).
set(_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_changelog})
file(STRINGS ${_changelog} _lines)
list(GET _lines 0 _top)
if(NOT _top MATCHES "^qrt4250 \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog: the top entry is not version ${PROJECT_VERSION}, "
                      "the project version; add an entry for this release")
endif()
foreach(_line IN LISTS _lines)
  if(_line MATCHES "^ -- (.+ <[^>]+>)  (.+)$")
    set(QRT_MAINTAINER "${CMAKE_MATCH_1}")
    set(_date "${CMAKE_MATCH_2}")
    break()
  endif()
endforeach()
execute_process(COMMAND date -u -d "${_date}" +%s OUTPUT_VARIABLE QRT_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "@${QRT_RELEASE_EPOCH}" +%F OUTPUT_VARIABLE QRT_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(_share ${CMAKE_BINARY_DIR}/share)
set(_outputs)

# Desktop entry and AppStream metadata, named by the application id.
if(TARGET qrt4250-config)
  configure_file(${PROJECT_SOURCE_DIR}/data/qrt4250-config.desktop.in
                 ${_share}/applications/${QRT_APP_ID}.desktop @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/data/qrt4250-config.metainfo.xml.in
                 ${_share}/metainfo/${QRT_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${_share}/applications/${QRT_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_share}/metainfo/${QRT_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Man pages: help2man over each program's help, with the prose of
# docs/man/<program>.h2m. qrt4250-cli's --help-all holds every command.
find_program(QRT_HELP2MAN help2man REQUIRED)
foreach(_program qrt4250-cli qrt4250-config)
  if(NOT TARGET ${_program})
    continue()
  endif()
  set(_help --help)
  if(_program STREQUAL "qrt4250-cli")
    set(_help --help-all)
  endif()
  set(_page ${_share}/man/man1/${_program}.1)
  add_custom_command(OUTPUT ${_page} ${_page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_share}/man/man1
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QRT_RELEASE_EPOCH}
            ${QRT_HELP2MAN} --no-info --no-discard-stderr --section=1
            "--manual=User Commands" "--source=qrt4250 ${PROJECT_VERSION}"
            --help-option=${_help} --include=${PROJECT_SOURCE_DIR}/docs/man/${_program}.h2m
            --output=${_page} $<TARGET_FILE:${_program}>
    COMMAND gzip -9 -n -k -f ${_page}
    DEPENDS ${_program} ${PROJECT_SOURCE_DIR}/docs/man/${_program}.h2m
    COMMENT "Writing the man page of ${_program}"
    VERBATIM)
  list(APPEND _outputs ${_page}.gz)
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Bash completion, written by the program from its own command tree.
if(TARGET qrt4250-cli)
  set(_completion ${_share}/bash-completion/completions/qrt4250-cli)
  add_custom_command(OUTPUT ${_completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_share}/bash-completion/completions
    COMMAND sh -c "\"$0\" --bash-completion > \"$1\"" $<TARGET_FILE:qrt4250-cli> ${_completion}
    DEPENDS qrt4250-cli
    COMMENT "Writing the bash completion of qrt4250-cli"
    VERBATIM)
  list(APPEND _outputs ${_completion})
  install(FILES ${_completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# Debian's changelog (compressed, native package) and copyright.
add_custom_command(OUTPUT ${_share}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_share}/doc
  COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${_changelog} ${_share}/doc/changelog.gz
  DEPENDS ${_changelog}
  VERBATIM)
list(APPEND _outputs ${_share}/doc/changelog.gz)
install(FILES ${_share}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(qrt_reference ALL DEPENDS ${_outputs})

# The package: every file under /usr, dependencies from dpkg-shlibdeps, the
# udev reload in the maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qrt4250)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QRT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration tool for the EEPROM of QRT4250 USB audio chips")
set(CPACK_PACKAGE_DESCRIPTION
    "The QRT4250 USB audio chip reads its power-on configuration (USB ids, strings,
serial number, volume defaults, device types, AGC/IR and EQ banks) from a
24C02 to 24C16 serial EEPROM. qrt4250-config reads that EEPROM over USB HID,
edits every setting, writes the image back and verifies it; qrt4250-cli does
the same from scripts. A simulated chip lets both run without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QRT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not libraries, so dpkg-shlibdeps cannot see them: Qt's own Chinese texts
# (OK, Cancel, the file dialogs), which the window loads when they are there,
# and a font with Chinese glyphs (the window starts in Chinese; without one
# every Chinese caption is drawn as boxes).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
