# The window on Windows: Qt 6 for MinGW-w64 (Core, Gui, Widgets, Test, the
# qwindows platform plugin and the Windows styles), built from Debian's own
# qt6-base source by tools/build-qt-mingw.sh and kept as an archive outside
# the source tree. Debian has no such package. The archive is unpacked into
# the build folder (once per archive) and Qt's CMake packages are found
# there; moc, rcc and uic are the host's Qt 6 tools of the same version.
#
# Sets QRT_QT_MINGW_DIR (the unpacked prefix: bin/ with the DLLs, plugins/,
# LICENSES/) for the install rules and the tests.

set(_qrt_default_archive "${PROJECT_SOURCE_DIR}/../shared/qt6-mingw-6.4.2.tar.xz")
if(DEFINED ENV{QRT_QT_MINGW_ARCHIVE} AND NOT "$ENV{QRT_QT_MINGW_ARCHIVE}" STREQUAL "")
  set(_qrt_default_archive "$ENV{QRT_QT_MINGW_ARCHIVE}")
endif()
set(QRT_QT_MINGW_ARCHIVE "${_qrt_default_archive}" CACHE FILEPATH
    "Qt 6 for MinGW-w64 as made by tools/build-qt-mingw.sh (a .tar.xz)")

get_filename_component(_qrt_archive "${QRT_QT_MINGW_ARCHIVE}" ABSOLUTE)
if(NOT EXISTS "${_qrt_archive}" OR IS_DIRECTORY "${_qrt_archive}")
  message(FATAL_ERROR
    "The window's Windows build needs Qt 6 for MinGW, and ${_qrt_archive} is missing.\n"
    "Make it with tools/build-qt-mingw.sh OUT_DIR (about an hour on 2 cores) and point "
    "QRT_QT_MINGW_ARCHIVE at the .tar.xz it writes, or configure with -DQRT_BUILD_GUI=OFF "
    "to build the command line alone.")
endif()

# Unpacked again only when the archive's contents change.
set(_qrt_unpack_root "${CMAKE_BINARY_DIR}/qt6-mingw")
file(SHA256 "${_qrt_archive}" _qrt_archive_hash)
set(_qrt_stamp "${_qrt_unpack_root}/.unpacked-from")
set(_qrt_stamp_hash "")
if(EXISTS "${_qrt_stamp}")
  file(READ "${_qrt_stamp}" _qrt_stamp_hash)
endif()
if(NOT _qrt_stamp_hash STREQUAL _qrt_archive_hash)
  message(STATUS "Unpacking ${_qrt_archive} into ${_qrt_unpack_root}")
  file(REMOVE_RECURSE "${_qrt_unpack_root}")
  file(ARCHIVE_EXTRACT INPUT "${_qrt_archive}" DESTINATION "${_qrt_unpack_root}")
  file(WRITE "${_qrt_stamp}" "${_qrt_archive_hash}")
endif()

file(GLOB _qrt_qt_configs "${_qrt_unpack_root}/*/lib/cmake/Qt6/Qt6Config.cmake")
list(LENGTH _qrt_qt_configs _qrt_count)
if(NOT _qrt_count EQUAL 1)
  message(FATAL_ERROR "${_qrt_archive} does not hold one Qt 6 prefix (lib/cmake/Qt6); "
                      "rebuild it with tools/build-qt-mingw.sh")
endif()
list(GET _qrt_qt_configs 0 _qrt_qt_config)
get_filename_component(QRT_QT_MINGW_DIR "${_qrt_qt_config}/../../../.." ABSOLUTE)

list(APPEND CMAKE_PREFIX_PATH "${QRT_QT_MINGW_DIR}")
list(APPEND CMAKE_FIND_ROOT_PATH "${QRT_QT_MINGW_DIR}")
set(QT_HOST_PATH /usr CACHE PATH "Host Qt 6 (moc, rcc, uic)")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt 6's CMake packages")

# The MinGW runtime DLLs that Qt's DLLs and the window load (the window links
# the runtime dynamically: one C++ runtime in the process, shared with Qt).
set(QRT_MINGW_RUNTIME_DLLS)
foreach(_qrt_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_qrt_dll}
                  OUTPUT_VARIABLE _qrt_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_qrt_path}" OR NOT EXISTS "${_qrt_path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_qrt_dll} is")
  endif()
  list(APPEND QRT_MINGW_RUNTIME_DLLS "${_qrt_path}")
endforeach()

# What a Qt program needs beside it on Windows, laid out as windeployqt does:
# the Qt DLLs and the MinGW runtime next to the .exe, the platform plugin in
# platforms/, the Windows style in styles/, Qt's own Chinese texts (OK,
# Cancel, the file dialogs) in translations/. Qt finds the folder of its
# DLLs to be its prefix when no import library lies beside them.
set(QRT_QT_MINGW_DLLS)
foreach(_qrt_module Core Gui Widgets)
  list(APPEND QRT_QT_MINGW_DLLS "${QRT_QT_MINGW_DIR}/bin/Qt6${_qrt_module}.dll")
endforeach()
set(QRT_QT_MINGW_PLUGINS
    platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll)
# Qt's own catalogues are platform-independent: Debian's are used (the
# archive has none).
set(QRT_QT_TRANSLATIONS /usr/share/qt6/translations/qtbase_zh_CN.qm)
foreach(_qrt_file IN LISTS QRT_QT_MINGW_DLLS QRT_MINGW_RUNTIME_DLLS QRT_QT_TRANSLATIONS)
  if(NOT EXISTS "${_qrt_file}")
    message(FATAL_ERROR "${_qrt_file} is missing (qt6-translations-l10n for the .qm files; "
                        "tools/build-qt-mingw.sh for the Qt DLLs)")
  endif()
endforeach()

# qrt_copy_qt_runtime(TARGET [TEST]): copies all of it beside TARGET after
# each link, so the program runs from the build folder under wine. TEST adds
# Qt6Test.dll.
function(qrt_copy_qt_runtime target)
  set(dlls ${QRT_QT_MINGW_DLLS} ${QRT_MINGW_RUNTIME_DLLS})
  if("TEST" IN_LIST ARGN)
    list(APPEND dlls "${QRT_QT_MINGW_DIR}/bin/Qt6Test.dll")
  endif()
  set(commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dlls} $<TARGET_FILE_DIR:${target}>)
  foreach(plugin IN LISTS QRT_QT_MINGW_PLUGINS)
    get_filename_component(folder ${plugin} DIRECTORY)
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/${folder}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QRT_QT_MINGW_DIR}/plugins/${plugin}
              $<TARGET_FILE_DIR:${target}>/${folder})
  endforeach()
  list(APPEND commands
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/translations
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QRT_QT_TRANSLATIONS}
            $<TARGET_FILE_DIR:${target}>/translations)
  add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()

# qrt_install_qt_runtime(DESTINATION): the same into an installed folder,
# with Qt's licence (LGPL-3.0: the DLLs are shipped as they are, linked
# dynamically) under licenses/Qt. The offscreen plugin stays in the build.
function(qrt_install_qt_runtime destination)
  install(FILES ${QRT_QT_MINGW_DLLS} ${QRT_MINGW_RUNTIME_DLLS} DESTINATION ${destination})
  install(FILES ${QRT_QT_MINGW_DIR}/plugins/platforms/qwindows.dll
          DESTINATION ${destination}/platforms)
  install(FILES ${QRT_QT_MINGW_DIR}/plugins/styles/qwindowsvistastyle.dll
          DESTINATION ${destination}/styles)
  install(FILES ${QRT_QT_TRANSLATIONS} DESTINATION ${destination}/translations)
  install(FILES ${QRT_QT_MINGW_DIR}/LICENSES/LGPL-3.0-only.txt
                ${QRT_QT_MINGW_DIR}/LICENSES/GPL-3.0-only.txt
          DESTINATION ${destination}/licenses/Qt)
endfunction()
