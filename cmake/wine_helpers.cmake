# The Wine runs (tools/wine, tests/wine): the helper programs the runner puts
# into a Wine prefix, and the CTest tests (label "wine") that run each
# scenario on the stand-in and under Wine and compare the resulting machines.
#
# Helpers are built for i686 with this preset's toolchain (build/win32/wine),
# to go with the real QVUninst.exe in a 32-bit prefix: the runs prove the
# binary that ships, and nothing else.

set(QV_WINE_SOURCES ${CMAKE_SOURCE_DIR}/tools/wine/helpers)
set(QV_WINE_HELPER_FLAGS -Wall -Wextra -Werror -O2)

# name|kind|source|libraries|extra flags   (kind: console, gui or dll)
set(QV_WINE_HELPERS
  "qvdriver.exe|console|qvdriver.c|user32 gdi32 advapi32 winspool|"
  "qvhook.dll|dll|qvhook.c|user32|"
  "qvjobs.dll|dll|qvjobs.c||"
  "qvwindow.exe|gui|qvwindow.c|user32 gdi32|"
  "qvhold.exe|console|qvhold.c||"
  "qvmon.dll|dll|qvmon.c|advapi32 user32|"
  "command.com|gui|command_com.c||"
  "setup_granted.dll|dll|setup_dll.c||-DQV_SETUP_RESULT=1"
  "setup_refused.dll|dll|setup_dll.c||-DQV_SETUP_RESULT=0"
  "setup_noexport.dll|dll|setup_dll.c||")

set(QV_WINE_HELPER_DIR ${CMAKE_BINARY_DIR}/wine)
foreach(helper ${QV_WINE_HELPERS})
  string(REPLACE "|" ";" fields "${helper}")
  list(GET fields 0 file_name)
  list(GET fields 1 kind)
  list(GET fields 2 source)
  list(GET fields 3 libraries)
  list(GET fields 4 defines)
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
    RUNTIME_OUTPUT_DIRECTORY ${QV_WINE_HELPER_DIR} LIBRARY_OUTPUT_DIRECTORY ${QV_WINE_HELPER_DIR})
endforeach()

# ---- the comparisons ---------------------------------------------------------------
# The comparison's own reading and diffing, without Wine.
add_test(NAME wine.compare_selftest COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/wine/compare_test.py)
set_tests_properties(wine.compare_selftest PROPERTIES LABELS wine)

# One test per [scenario] of tests/wine/scenarios.ini, or one per Windows
# version of its Versions list (wine.NAME.VERSION). They need the host build's
# sim runner (tools/test.sh builds the host preset first), 32-bit Wine and Xvfb.
set(QV_WINE_SCENARIOS ${CMAKE_SOURCE_DIR}/tests/wine/scenarios.ini)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QV_WINE_SCENARIOS})
file(STRINGS ${QV_WINE_SCENARIOS} QV_WINE_SCENARIO_LINES REGEX "^(\\[.+\\]|Versions=)")
# The list ends with a section of no name, so that the last scenario is added too.
list(APPEND QV_WINE_SCENARIO_LINES "[]")
set(scenario "")
foreach(line ${QV_WINE_SCENARIO_LINES})
  if(line MATCHES "^Versions=(.*)")
    separate_arguments(versions UNIX_COMMAND "${CMAKE_MATCH_1}")
    continue()
  endif()
  if(scenario)
    set(command Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/wine/compare.py ${scenario}
                --sim ${CMAKE_SOURCE_DIR}/build/host/qvuninst-sim --build ${CMAKE_BINARY_DIR})
    if(versions)
      foreach(version ${versions})
        add_test(NAME wine.${scenario}.${version} COMMAND ${command} --windows-version ${version})
        set_tests_properties(wine.${scenario}.${version} PROPERTIES LABELS wine TIMEOUT 600)
      endforeach()
    else()
      add_test(NAME wine.${scenario} COMMAND ${command})
      set_tests_properties(wine.${scenario} PROPERTIES LABELS wine TIMEOUT 600)
    endif()
  endif()
  string(REGEX REPLACE "^\\[(.*)\\].*" "\\1" scenario "${line}")
  set(versions "")
endforeach()

# The differential check's fixed sample: random machines from the fuzz
# target's builder (the host build's qvmachine-gen), each on the stand-in and
# under Wine; both families and both code pages among them. One test per seed,
# so that they run side by side, and first: they are the longest. By hand:
# tests/wine/differential.py with more seeds and machines.
set(QV_DIFFERENTIAL_SEEDS 7101 7102 7103 7104 7105 7106)
foreach(seed ${QV_DIFFERENTIAL_SEEDS})
  add_test(NAME wine.differential.${seed}
           COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/wine/differential.py --seed ${seed} --count 2 -j 1
                   --sim ${CMAKE_SOURCE_DIR}/build/host/qvuninst-sim
                   --gen ${CMAKE_SOURCE_DIR}/build/host/qvmachine-gen --build ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.differential.${seed} PROPERTIES LABELS wine TIMEOUT 1800 COST 100)
endforeach()
