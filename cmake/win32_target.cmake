# QVUninst.exe for 32-bit Windows, from the top-level CMakeLists.txt when the
# toolchain targets Windows (cmake --preset win32).
#
# The executable has no C runtime: it must start on a bare Windows 95 as on the
# NT family, import nothing but the system DLLs and stay small. So it is built
# freestanding, with src/win32_entry.cpp as its entry and its memset & co.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
if(NOT CMAKE_RC_COMPILER OR NOT CMAKE_OBJDUMP)
  message(FATAL_ERROR "The win32 build needs windres and objdump from its toolchain file")
endif()

# Only what each target asks for: not the platform's default list of libraries.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# ---- resources ----------------------------------------------------------------
set(QV_RES_BUILD_DIR ${CMAKE_BINARY_DIR}/res)
set(QV_ICON ${QV_RES_BUILD_DIR}/QVUninst.ico)
set(QV_RES_OBJECT ${QV_RES_BUILD_DIR}/QVUninst.res.o)
add_custom_command(
  OUTPUT ${QV_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_RES_BUILD_DIR}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/res/make_icon.py ${QV_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py
  COMMENT "Drawing QVUninst.ico")
add_custom_command(
  OUTPUT ${QV_RES_OBJECT}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/res/compile_resources.py
          ${CMAKE_RC_COMPILER} ${CMAKE_SOURCE_DIR}/res/QVUninst.rc ${QV_RES_OBJECT}
          -I${QV_RES_BUILD_DIR} -I${CMAKE_SOURCE_DIR}/res
  DEPENDS ${CMAKE_SOURCE_DIR}/res/QVUninst.rc ${CMAKE_SOURCE_DIR}/res/QVUninst.exe.manifest ${QV_ICON}
          ${CMAKE_SOURCE_DIR}/res/compile_resources.py
  COMMENT "Compiling QVUninst.rc")

# ---- the executable -----------------------------------------------------------
set(QV_MAP ${CMAKE_BINARY_DIR}/QVUninst.map)
set(QV_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/QVUninst.ld)
add_executable(QVUninst ${QV_PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/win32_entry.cpp ${QV_RES_OBJECT})
target_include_directories(QVUninst PRIVATE ${CMAKE_SOURCE_DIR}/src)
# How the code is generated, given to the compiler and again to the link, where
# -flto compiles the whole program as one.
set(QV_WIN32_CODE
  # The 95/98 family runs on 486s: no cmov, no MMX or SSE.
  -march=i486 -mtune=i486
  # The smallest code: one program-wide compilation (shared strings, calls
  # across files inlined or dropped), no frame pointer, small functions called
  # rather than copied into each caller.
  -Oz -flto -fomit-frame-pointer -fno-inline-small-functions
  # Windows keeps the stack 4-byte aligned; 16, gcc's default, only costs code.
  -mpreferred-stack-boundary=2
  # No stack probes: a frame must not pass the guard page below the stack
  # unprobed, so no function may use more than 3 KiB of stack (an error at
  # compile or link time). Without probes gcc pushes call arguments instead of
  # storing them (-maccumulate-outgoing-args, which probing requires).
  -mno-stack-arg-probe -Wstack-usage=3072
  # Nothing here to unwind, guard or initialise: none of it may pull in a runtime.
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-threadsafe-statics
  # The compiler's version string would otherwise be kept in .rdata.
  -fno-ident)
target_compile_options(QVUninst PRIVATE ${QV_WARNINGS} ${QV_PRODUCT_FLAGS} ${QV_WIN32_CODE}
  # For --gc-sections to drop what src/win32_entry.cpp has and no call needs;
  # the link's own compilation keeps only what is called, in one section (64
  # bytes less than with a section for each function). No -fdata-sections:
  # with it mingw's gcc puts zero-filled variables in .data$name instead of
  # .bss, and the 2.5 KiB message catalog would take room in the file.
  -ffunction-sections)
# Our memset & co. are written as loops that gcc would otherwise recognise and
# turn back into calls to themselves. Outside the whole-program compilation,
# because the calls it makes to them appear only after it has dropped what it
# saw no call to.
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/win32_entry.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns;-fno-lto")
target_link_options(QVUninst PRIVATE
  ${QV_WARNINGS} ${QV_PRODUCT_FLAGS} ${QV_WIN32_CODE}
  -nostdlib -nostartfiles -static-libgcc -s
  -Wl,-e,_WinMainCRTStartup
  -Wl,--gc-sections
  # Loadable by Windows 95 and NT 4: GUI subsystem 4.0 on OS version 4.0, and
  # the alignments the 95/98 loader expects.
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--file-alignment,512 -Wl,--section-alignment,4096
  -Wl,--no-insert-timestamp
  # Read-only data in .text, no bytes of the import libraries that buy nothing.
  -Wl,-T,${QV_LINKER_SCRIPT}
  -Wl,-Map=${QV_MAP})
# libgcc last, statically: 64-bit division.
target_link_libraries(QVUninst PRIVATE kernel32 user32 comctl32 advapi32 winspool gcc)
set_target_properties(QVUninst PROPERTIES OUTPUT_NAME QVUninst SUFFIX .exe LINK_DEPENDS ${QV_LINKER_SCRIPT})

# ---- checks of the built executable --------------------------------------------
enable_testing()
set(QV_CHECK_PE ${CMAKE_SOURCE_DIR}/tests/pe/check_pe.py)
set(QV_PE_CHECKS
  "headers"
  "imports|--expected|${CMAKE_SOURCE_DIR}/tests/pe/expected_imports.txt"
  "instructions|--objdump|${CMAKE_OBJDUMP}|--map|${QV_MAP}"
  "size"
  "resources"
  "static-init|--map|${QV_MAP}")
foreach(check ${QV_PE_CHECKS})
  string(REPLACE "|" ";" arguments "${check}")
  list(GET arguments 0 name)
  list(REMOVE_AT arguments 0)
  add_test(NAME pe.${name}
           COMMAND Python3::Interpreter ${QV_CHECK_PE} ${name} $<TARGET_FILE:QVUninst> ${arguments})
  set_tests_properties(pe.${name} PROPERTIES LABELS pe)
endforeach()

# The checks' own parsers of disassembly, linker maps, import lists and .res files.
add_test(NAME pe.check_pe_selftest COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/check_pe_test.py)
set_tests_properties(pe.check_pe_selftest PROPERTIES LABELS pe)

# The checks must be able to fail: the same checks on a program built the
# ordinary way (C runtime, console, Pentium 4 code, a static constructor, no
# resources) and linked without relocations, NX or read-only code must each
# report what is wrong with it.
add_executable(pe_faulty_probe ${CMAKE_SOURCE_DIR}/tests/pe/faulty_probe.cpp)
target_compile_options(pe_faulty_probe PRIVATE ${QV_WARNINGS} -O2 -march=pentium4 -msse2 -mfpmath=sse)
target_link_options(pe_faulty_probe PRIVATE -Wl,-Map=${CMAKE_BINARY_DIR}/pe_faulty_probe.map
  -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section -Wl,-N)
target_link_libraries(pe_faulty_probe PRIVATE kernel32)
set(QV_PE_PROBE_CASES
  "headers|FAIL  Subsystem \\(2: GUI\\): 0x3.*FAIL  DYNAMIC_BASE and NX_COMPAT: 0x0.*FAIL  relocations not stripped.*FAIL  base relocations: 0 bytes.*FAIL  no section both writable and executable: \\.text"
  "imports|FAIL  imports from msvcrt.dll \\(DLL not allowed\\)"
  "instructions|FAIL  [1-9][0-9]* instructions newer than the i486"
  "size|FAIL  [0-9]+ bytes, at most 19456"
  "resources|FAIL  one manifest resource"
  "static-init|FAIL  no static constructors")
foreach(case ${QV_PE_PROBE_CASES})
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 expected_failure)
  add_test(NAME pe.faulty_probe.${name}
           COMMAND Python3::Interpreter ${QV_CHECK_PE} ${name} $<TARGET_FILE:pe_faulty_probe>
                   --expected ${CMAKE_SOURCE_DIR}/tests/pe/expected_imports.txt
                   --objdump ${CMAKE_OBJDUMP} --map ${CMAKE_BINARY_DIR}/pe_faulty_probe.map)
  set_tests_properties(pe.faulty_probe.${name} PROPERTIES
    LABELS pe PASS_REGULAR_EXPRESSION "${expected_failure}")
endforeach()
include(${CMAKE_SOURCE_DIR}/cmake/wine_helpers.cmake)
