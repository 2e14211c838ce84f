# Project-wide compiler settings and helpers shared by every folder.

add_compile_options(-Wall -Wextra)
if(QRT_WERROR)
  add_compile_options(-Werror)
endif()

if(QRT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# What touches the operating system lives in platform/<os>/ folders beside
# the code that needs it; this one choice picks the folder everywhere.
if(WIN32)
  set(QRT_OS_DIR windows)
  # localtime_r / gmtime_r are declared by mingw's <time.h> only on request;
  # set here, not in the cross toolchain, so that a MinGW build on Windows
  # gets it too.
  add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)
  # Programs link the MinGW runtime statically (no DLLs to ship), except
  # those that load Qt's DLLs: they set QRT_SHARED_RUNTIME and share Qt's
  # runtime DLLs, so one C++ runtime serves the process.
  if(MINGW)
    foreach(flag -static -static-libgcc -static-libstdc++)
      add_link_options("$<$<NOT:$<BOOL:$<TARGET_PROPERTY:QRT_SHARED_RUNTIME>>>:${flag}>")
    endforeach()
  endif()
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(QRT_OS_DIR linux)
else()
  message(FATAL_ERROR "no platform folder for ${CMAKE_SYSTEM_NAME} (Linux and Windows are built)")
endif()

# Adds the sub-folders of the current folder that have a CMakeLists.txt, in
# the given order. Lets each part of the tree bring its own build file.
function(qrt_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# qrt_add_gtest(NAME SOURCES files... LIBS targets... [LABELS labels...])
# A GoogleTest program registered with CTest, one CTest entry per test case.
function(qrt_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  # A cross-built test program lists its tests under the emulator (wine) when
  # ctest runs, so building needs no emulator.
  set(discovery_mode POST_BUILD)
  if(CMAKE_CROSSCOMPILING)
    set(discovery_mode PRE_TEST)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${ARG_LABELS}"
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE ${discovery_mode})
endfunction()
