# The Wine runs (tools/wine, tests/wine): the helper programs the runner puts
# into a Wine prefix, and the CTest tests (label "wine") that run each
# scenario on the stand-in and under Wine and compare the resulting machines.
#
# Helpers are built for i686 with this preset's toolchain (build/win32/wine/
# win32), to go with the real QVUninst.exe in a 32-bit prefix. A kernel that
# refuses 32-bit programs cannot run 32-bit Wine at all; for such machines
# the same helpers and the same product sources are also built for x86-64
# (build/win32/wine/win64), when x86_64-w64-mingw32-gcc is there, and the
# runner uses those in a 64-bit prefix.

set(QV_WINE_SOURCES ${CMAKE_SOURCE_DIR}/tools/wine/helpers)
set(QV_WINE_HELPER_FLAGS -Wall -Wextra -Werror -O2)

# name|kind|source|libraries|extra flags   (kind: console, gui or dll)
set(QV_WINE_HELPERS
  "qvdriver.exe|console|qvdriver.c|user32 gdi32 advapi32 winspool|"
  "qvhook.dll|dll|qvhook.c|user32|"
  "qvwindow.exe|gui|qvwindow.c|user32 gdi32|"
  "qvmon.dll|dll|qvmon.c|advapi32 user32|"
  "command.com|gui|command_com.c||"
  "setup_granted.dll|dll|setup_dll.c||-DQV_SETUP_RESULT=1"
  "setup_refused.dll|dll|setup_dll.c||-DQV_SETUP_RESULT=0"
  "setup_noexport.dll|dll|setup_dll.c||")

# Unpacks one row of QV_WINE_HELPERS into file_name, kind, source, libraries
# and defines.
macro(qv_wine_helper_fields helper)
  string(REPLACE "|" ";" fields "${helper}")
  list(GET fields 0 file_name)
  list(GET fields 1 kind)
  list(GET fields 2 source)
  list(GET fields 3 libraries)
  list(GET fields 4 defines)
endmacro()

# ---- i686, with this preset's toolchain ------------------------------------------
set(QV_WINE_WIN32_DIR ${CMAKE_BINARY_DIR}/wine/win32)
foreach(helper ${QV_WINE_HELPERS})
  qv_wine_helper_fields("${helper}")
  string(REGEX REPLACE "\\.[a-z]+$" "" base "${file_name}")
  string(REGEX MATCH "\\.[a-z]+$" suffix "${file_name}")
  set(target wine_${base})
  separate_arguments(libraries)
  if(kind STREQUAL "dll")
    add_library(${target} SHARED ${QV_WINE_SOURCES}/${source})
    # Exports undecorated, as a Windows system looks them up (no @8).
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  else()
    add_executable(${target} ${QV_WINE_SOURCES}/${source})
    if(kind STREQUAL "gui")
      target_link_options(${target} PRIVATE -mwindows)
    endif()
  endif()
  target_compile_options(${target} PRIVATE ${QV_WINE_HELPER_FLAGS} ${defines})
  target_link_libraries(${target} PRIVATE ${libraries} kernel32)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${base} PREFIX "" SUFFIX ${suffix}
    RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_WIN32_DIR} LIBRARY_OUTPUT_DIRECTORY ${QV_WINE_WIN32_DIR})
endforeach()

# ---- x86-64: helpers and the product, by the x86-64 cross compiler ----------------
find_program(QV_MINGW64_GCC x86_64-w64-mingw32-gcc)
find_program(QV_MINGW64_GXX x86_64-w64-mingw32-g++)
find_program(QV_MINGW64_WINDRES x86_64-w64-mingw32-windres)
if(QV_MINGW64_GCC AND QV_MINGW64_GXX AND QV_MINGW64_WINDRES)
  set(QV_WINE_WIN64_DIR ${CMAKE_BINARY_DIR}/wine/win64)
  set(QV_WINE_WIN64_OUTPUTS)
  foreach(helper ${QV_WINE_HELPERS})
    qv_wine_helper_fields("${helper}")
    separate_arguments(libraries)
    list(TRANSFORM libraries PREPEND -l)
    set(kind_flags)
    if(kind STREQUAL "dll")
      set(kind_flags -shared)
    elseif(kind STREQUAL "gui")
      set(kind_flags -mwindows)
    endif()
    set(output ${QV_WINE_WIN64_DIR}/${file_name})
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_WINE_WIN64_DIR}
      COMMAND ${QV_MINGW64_GCC} ${QV_WINE_HELPER_FLAGS} ${defines} ${kind_flags}
              -o ${output} ${QV_WINE_SOURCES}/${source} ${libraries} -lkernel32
      DEPENDS ${QV_WINE_SOURCES}/${source}
      COMMENT "Building ${file_name} for x86-64")
    list(APPEND QV_WINE_WIN64_OUTPUTS ${output})
  endforeach()

  # The product from the same sources and flags as QVUninst.exe, but for
  # x86-64. Warnings are shown, not fatal: a warning only the 64-bit build
  # gives must not stop the real one.
  set(QV_WIN64_RES_OBJECT ${QV_WINE_WIN64_DIR}/QVUninst.res.o)
  add_custom_command(
    OUTPUT ${QV_WIN64_RES_OBJECT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_WINE_WIN64_DIR}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/res/compile_resources.py
            ${QV_MINGW64_WINDRES} ${CMAKE_SOURCE_DIR}/res/QVUninst.rc ${QV_WIN64_RES_OBJECT}
            -I${QV_RES_BUILD_DIR} -I${CMAKE_SOURCE_DIR}/res
    DEPENDS ${CMAKE_SOURCE_DIR}/res/QVUninst.rc ${CMAKE_SOURCE_DIR}/res/QVUninst.exe.manifest ${QV_ICON}
            ${CMAKE_SOURCE_DIR}/res/compile_resources.py
    COMMENT "Compiling QVUninst.rc for x86-64")
  set(QV_WIN64_EXE ${QV_WINE_WIN64_DIR}/QVUninst.exe)
  add_custom_command(
    OUTPUT ${QV_WIN64_EXE}
    COMMAND ${QV_MINGW64_GXX} -std=c++17 -Wall -Wextra ${QV_PRODUCT_FLAGS} -Os -ffunction-sections
            -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-threadsafe-statics
            -fno-ident -fno-builtin -fno-tree-loop-distribute-patterns -I${CMAKE_SOURCE_DIR}/src
            ${QV_PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/win32_entry.cpp ${QV_WIN64_RES_OBJECT}
            -nostdlib -nostartfiles -static-libgcc -s -Wl,-e,WinMainCRTStartup -Wl,--gc-sections
            -Wl,--subsystem,windows -o ${QV_WIN64_EXE}
            -lkernel32 -luser32 -lcomctl32 -ladvapi32 -lwinspool -lgcc
    DEPENDS ${QV_PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/win32_entry.cpp ${QV_WIN64_RES_OBJECT}
    COMMENT "Building QVUninst.exe for x86-64 (Wine on machines without 32-bit support)")
  add_custom_target(wine_win64 ALL DEPENDS ${QV_WINE_WIN64_OUTPUTS} ${QV_WIN64_EXE})
else()
  message(STATUS "x86_64-w64-mingw32 not found: no x86-64 helpers (Wine runs need 32-bit support then)")
endif()

# ---- the comparisons ---------------------------------------------------------------
# The comparison's own reading and diffing, without Wine.
add_test(NAME wine.compare_selftest COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/wine/compare_test.py)
set_tests_properties(wine.compare_selftest PROPERTIES LABELS wine)

# One test per [scenario] of tests/wine/scenarios.ini. They need the host
# build's sim runner (tools/test.sh builds the host preset first), Wine and Xvfb.
set(QV_WINE_SCENARIOS ${CMAKE_SOURCE_DIR}/tests/wine/scenarios.ini)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QV_WINE_SCENARIOS})
file(STRINGS ${QV_WINE_SCENARIOS} QV_WINE_SCENARIO_LINES REGEX "^\\[.+\\]")
foreach(line ${QV_WINE_SCENARIO_LINES})
  string(REGEX REPLACE "^\\[(.+)\\].*" "\\1" scenario "${line}")
  add_test(NAME wine.${scenario}
           COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/wine/compare.py ${scenario}
                   --sim ${CMAKE_SOURCE_DIR}/build/host/qvuninst-sim --build ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.${scenario} PROPERTIES LABELS wine TIMEOUT 600)
endforeach()
