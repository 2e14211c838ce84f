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

foreach(program qrt4250-cli qrt4250-config)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/data/70-qrt4250.rules DESTINATION ${QRT_UDEV_RULES_DIR})
  # /run/lock/qrt4250 made by root at boot (systemd-tmpfiles also reads
  # /usr/local/lib/tmpfiles.d).
  install(FILES ${PROJECT_SOURCE_DIR}/data/qrt4250.tmpfiles.conf
          DESTINATION lib/tmpfiles.d RENAME qrt4250.conf)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/docs/hardware-checklist.md
              ${PROJECT_SOURCE_DIR}/docs/linux-setup.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
