# What `cmake --install` puts on a machine: the programs, the udev rule that
# lets the logged-in user open the chip's hidraw nodes, and the hardware
# checklist with the Linux setup page it links to. (The example device-id
# store is installed by src/usblib.)
#
# The rule goes to <prefix>/lib/udev/rules.d, the place for rules shipped by
# software: /usr/local/lib/udev/rules.d for the default prefix (read by the
# udev of systemd 252 on Debian 12), /usr/lib/udev/rules.d for a package
# built with prefix /usr. /etc/udev/rules.d stays the administrator's: a file
# of the same name there replaces the installed one, which is how local vendor
# ids are added without touching installed files.
include(GNUInstallDirs)

set(QRT_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "udev rules directory, relative to the install prefix or absolute")

# On Windows everything lies in the one installed folder, as a Windows
# program's folder does: the programs, Qt's DLLs and plugins beside them
# (see QrtQtMingw.cmake), the licences and a short README.
set(_bindir ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  set(_bindir .)
endif()
foreach(program qrt4250-cli qrt4250-config)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${_bindir})
  endif()
endforeach()
if(WIN32)
  if(TARGET qrt4250-config)
    qrt_install_qt_runtime(.)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  # libstdc++/libgcc (GCC runtime library exception) and winpthreads.
  install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
          DESTINATION licenses/MinGW RENAME gcc-runtime.txt)
  install(FILES /usr/share/doc/mingw-w64-common/copyright
          DESTINATION licenses/MinGW RENAME mingw-w64.txt)
endif()

# A stripped install (the package) also drops the compilers' version
# comments, as Debian's own packages do (lintian: binary-has-unneeded-section).
if(CMAKE_OBJCOPY AND NOT WIN32)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(_program qrt4250-cli qrt4250-config)
        set(_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${_program}\")
        if(EXISTS \"\${_file}\")
          execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \"\${_file}\"
                          COMMAND_ERROR_IS_FATAL ANY)
        endif()
      endforeach()
    endif()")
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/data/70-qrt4250.rules DESTINATION ${QRT_UDEV_RULES_DIR})
  # /run/lock/qrt4250 made by root at boot (systemd-tmpfiles also reads
  # /usr/local/lib/tmpfiles.d).
  install(FILES ${PROJECT_SOURCE_DIR}/data/qrt4250.tmpfiles.conf
          DESTINATION lib/tmpfiles.d RENAME qrt4250.conf)
endif()

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hardware-checklist.md DESTINATION doc)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hardware-checklist.md
                ${PROJECT_SOURCE_DIR}/docs/linux-setup.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
