# The tool's icon: one SVG drawn for it (data/icons), rendered at build time
# into the PNG sizes of the hicolor theme. The PNGs are compiled into the
# window (its window icon) and installed with the SVG under the desktop
# entry's icon name.
set(QRT_ICON_SVG ${PROJECT_SOURCE_DIR}/data/icons/qrt4250-config.svg)
set(QRT_ICON_SIZES 16 22 24 32 48 64 128 256)

# qrt_add_icon_resources(TARGET): renders the PNGs and adds them to TARGET as
# the Qt resources :/icons/<size>.png.
function(qrt_add_icon_resources target)
  find_program(QRT_RSVG_CONVERT rsvg-convert REQUIRED)
  set(hicolor ${CMAKE_BINARY_DIR}/share/icons/hicolor)
  set(resources ${CMAKE_CURRENT_BINARY_DIR}/icons)
  set(pngs)
  foreach(size IN LISTS QRT_ICON_SIZES)
    set(png ${hicolor}/${size}x${size}/apps/${QRT_APP_ID}.png)
    add_custom_command(OUTPUT ${png} ${resources}/${size}.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${hicolor}/${size}x${size}/apps ${resources}
      COMMAND ${QRT_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${QRT_ICON_SVG}
      COMMAND ${CMAKE_COMMAND} -E copy ${png} ${resources}/${size}.png
      DEPENDS ${QRT_ICON_SVG}
      VERBATIM)
    list(APPEND pngs ${resources}/${size}.png)
    # The icon theme is the Linux desktop's; on Windows the window carries
    # its icon in its resources only.
    if(NOT WIN32)
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endif()
  endforeach()
  qt_add_resources(${target} qrt_icons PREFIX /icons BASE ${resources} FILES ${pngs})
  if(NOT WIN32)
    install(FILES ${QRT_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME ${QRT_APP_ID}.svg)
  endif()
endfunction()
