# Included after project() by scripts/check-window-windows.sh
# (CMAKE_PROJECT_INCLUDE) into a mingw-w64 configuration with the window on.
# Debian has no Qt for mingw, so the window's targets are made from the host's
# Qt 6 package: its headers are plain C++ and choose their Windows side from
# _WIN32. The window's sources are then compiled with -fsyntax-only: the
# include paths and definitions are those of the real WIN32 configuration of
# src/app, and nothing is linked.

# Qt's package is the host's: found outside the mingw sysroot, its tools
# (moc, uic) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(Qt6_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt6 CACHE PATH "")
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
# Global, so that the deferred call below sees the targets of src/app.
set(QT_PROMOTE_TO_GLOBAL_TARGETS ON)
# The generated ui_*.h are needed, not the libraries the window links.
set(CMAKE_AUTOGEN_ORIGIN_DEPENDS OFF)

function(qrt_window_syntax_check)
  # A Windows target wants an import library for every shared library; the
  # Linux package names none. Nothing is linked, so the .so stands in.
  foreach(qt_target Qt6::Core Qt6::Gui Qt6::Widgets)
    get_target_property(configs ${qt_target} IMPORTED_CONFIGURATIONS)
    foreach(config IN LISTS configs)
      get_target_property(location ${qt_target} IMPORTED_LOCATION_${config})
      set_property(TARGET ${qt_target} PROPERTY IMPORTED_IMPLIB_${config} ${location})
    endforeach()
  endforeach()
  # What a Qt 6 kit for Windows puts on Qt6::Platform: the W functions of
  # <windows.h> by default, as in a real Windows build of the window.
  set_property(TARGET Qt6::Platform APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
               UNICODE _UNICODE WIN32 WIN64 _WIN64 _ENABLE_EXTENDED_ALIGNED_STORAGE
               MINGW_HAS_SECURE_API=1)
  foreach(target qrt_app qrt4250-config)
    target_compile_options(${target} PRIVATE -fsyntax-only)
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qrt_window_syntax_check)
