# Build helpers shared by every folder. A folder's CMakeLists.txt checks
# HKB_NATIVE / HKB_WIN64 / HKB_WIN32 and calls the functions below.

include(GoogleTest)

set(HKB_NATIVE OFF)
set(HKB_WIN64 OFF)
set(HKB_WIN32 OFF)
if(NOT DEFINED HKB_TARGET)
  set(HKB_TARGET native)
endif()
if(HKB_TARGET STREQUAL "native")
  set(HKB_NATIVE ON)
elseif(HKB_TARGET STREQUAL "win64")
  set(HKB_WIN64 ON)
elseif(HKB_TARGET STREQUAL "win32")
  set(HKB_WIN32 ON)
endif()

set(HKB_DIST_DIR "${PROJECT_SOURCE_DIR}/dist" CACHE PATH "Install-shaped output folder")
set(HKB_PRODUCT_DIR "${HKB_DIST_DIR}/Program Files/ZEVHKB")
set(HKB_PRODUCT_DIR_X86 "${HKB_DIST_DIR}/Program Files (x86)/ZEVHKB")
set(HKB_STANDIN_DIR "${CMAKE_BINARY_DIR}/standins")
set(HKB_TEST_TIMEOUT 120 CACHE STRING "Seconds before a single test is ended")

# Windows programs run under Wine through scripts/winrun, which also tells the
# tests where the dist folder, the stand-ins and the artifacts folder are
# (HKB_DIST, HKB_STANDINS, HKB_ARTIFACTS) and which prefix to use.
if(NOT HKB_NATIVE)
  set(bits 64)
  if(HKB_WIN32)
    set(bits 32)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${PROJECT_SOURCE_DIR}/scripts/winrun;${bits};--tree=${CMAKE_BINARY_DIR};--dist=${HKB_DIST_DIR}")
endif()

function(hkb_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_compile_features(${target} PRIVATE cxx_std_20)
endfunction()

# Unicode Win32, static C/C++ runtime: the binary imports only system DLLs.
#   hkb_windows_binary(target [ANSI_MAIN])  ANSI_MAIN: the program has main(), not wmain/wWinMain
function(hkb_windows_binary target)
  cmake_parse_arguments(W "ANSI_MAIN" "" "" ${ARGN})
  hkb_strict(${target})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                               _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" AND NOT W_ANSI_MAIN)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

# Version resource generated from the project version.
#   hkb_version_resource(target DESCRIPTION "..." [FILENAME name.ext])
function(hkb_version_resource target)
  cmake_parse_arguments(V "" "DESCRIPTION;FILENAME" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(HKB_VFT VFT_APP)
    set(ext .exe)
  else()
    set(HKB_VFT VFT_DLL)
    set(ext .dll)
  endif()
  if(NOT V_FILENAME)
    get_target_property(oname ${target} OUTPUT_NAME)
    if(NOT oname)
      set(oname ${target})
    endif()
    set(V_FILENAME "${oname}${ext}")
  endif()
  set(HKB_VER_DESCRIPTION "${V_DESCRIPTION}")
  set(HKB_VER_FILENAME "${V_FILENAME}")
  set(HKB_VER_INTERNAL "${target}")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${out}" @ONLY)
  target_sources(${target} PRIVATE "${out}")
endfunction()

# A shipped binary goes out without its debug information, as Windows software
# ships; the debug information stays beside the build in
# build/<tree>/symbols/<file>.debug, and the binary names that file (a GNU
# debug link), so that gdb reads a crash address from a user's machine.
function(hkb_split_debug_info name)
  set(symbols "${CMAKE_BINARY_DIR}/symbols")
  set(debug "${symbols}/$<TARGET_FILE_NAME:${name}>.debug")
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${symbols}"
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug "$<TARGET_FILE:${name}>" "${debug}"
    COMMAND ${CMAKE_OBJCOPY} --strip-debug --strip-unneeded "--add-gnu-debuglink=${debug}" "$<TARGET_FILE:${name}>"
    VERBATIM)
endfunction()

# A deliverable DLL: undecorated exports from its .def, placed in the product folder.
#   hkb_add_dll(NAME DEF file.def DESCRIPTION "..." SOURCES ... [LIBS ...] [DIR folder])
function(hkb_add_dll name)
  cmake_parse_arguments(D "" "DEF;DESCRIPTION;DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT D_DIR)
    set(D_DIR "${HKB_PRODUCT_DIR}")
  endif()
  add_library(${name} SHARED ${D_SOURCES} ${D_DEF})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY "${D_DIR}" LIBRARY_OUTPUT_DIRECTORY "${D_DIR}")
  hkb_windows_binary(${name})
  target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
  target_link_libraries(${name} PRIVATE hkb_common ${D_LIBS})
  hkb_version_resource(${name} DESCRIPTION "${D_DESCRIPTION}")
  hkb_split_debug_info(${name})
endfunction()

# A deliverable program placed in the product folder.
#   hkb_add_program(NAME DESCRIPTION "..." SOURCES ... [LIBS ...] [DIR folder] [GUI])
function(hkb_add_program name)
  cmake_parse_arguments(P "GUI" "DESCRIPTION;DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT P_DIR)
    set(P_DIR "${HKB_PRODUCT_DIR}")
  endif()
  if(P_GUI)
    add_executable(${name} WIN32 ${P_SOURCES})
  else()
    add_executable(${name} ${P_SOURCES})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${P_DIR}")
  hkb_windows_binary(${name})
  target_link_libraries(${name} PRIVATE hkb_common ${P_LIBS})
  hkb_version_resource(${name} DESCRIPTION "${P_DESCRIPTION}")
  hkb_split_debug_info(${name})
endfunction()

# Stand-ins for outside components: test code, built next to the tests in
# build/<tree>/standins; a test copies or registers them where Windows looks.
#   hkb_add_standin(NAME [OUTPUT_NAME n] [DLL] [DEF f] [GUI] SOURCES ... [LIBS ...])
function(hkb_add_standin name)
  cmake_parse_arguments(S "DLL;GUI" "OUTPUT_NAME;DEF" "SOURCES;LIBS" ${ARGN})
  if(S_DLL)
    add_library(${name} SHARED ${S_SOURCES} ${S_DEF})
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
  elseif(S_GUI)
    add_executable(${name} WIN32 ${S_SOURCES})
  else()
    add_executable(${name} ${S_SOURCES})
  endif()
  if(S_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${S_OUTPUT_NAME})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${HKB_STANDIN_DIR}"
                                           LIBRARY_OUTPUT_DIRECTORY "${HKB_STANDIN_DIR}")
  hkb_windows_binary(${name})
  target_link_libraries(${name} PRIVATE hkb_common ${S_LIBS})
endfunction()

# A GoogleTest program run under Wine. Each test case runs in its own process.
#   hkb_wine_test(NAME SOURCES ... [LIBS ...] [DEPENDS targets...] [RESOURCE_LOCK names...] [LABELS names...])
# LABELS soak: a repetition test that ./hkb soak runs again with HKB_SOAK=1
# (its long form; the everyday run makes the short one).
function(hkb_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS;RESOURCE_LOCK;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
  hkb_windows_binary(${name} ANSI_MAIN)
  target_link_options(${name} PRIVATE -mconsole)
  target_link_libraries(${name} PRIVATE hkb_winharness ${T_LIBS})
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       TEST_PREFIX "${name}." PROPERTIES TIMEOUT ${HKB_TEST_TIMEOUT})
  # Locks and labels are lists, which the discovered tests' PROPERTIES would
  # flatten (a second lock would become a property name): they are set by a
  # file CTest reads after the discovered tests, for every test in the list
  # that discovery leaves in <target>_TESTS.
  if(T_RESOURCE_LOCK OR T_LABELS)
    set(props "")
    if(T_RESOURCE_LOCK)
      string(APPEND props " RESOURCE_LOCK \"${T_RESOURCE_LOCK}\"")
    endif()
    if(T_LABELS)
      string(APPEND props " LABELS \"${T_LABELS}\"")
    endif()
    set(extra "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
    file(WRITE "${extra}" "foreach(t IN LISTS ${name}_TESTS)\n  set_tests_properties(\"\${t}\" PROPERTIES${props})\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${extra}")
  endif()
endfunction()

set(HKB_SANITIZE "-fsanitize=address,undefined;-fno-sanitize-recover=all;-fno-omit-frame-pointer")

# A native GoogleTest program for plain logic, with sanitizers.
#   hkb_native_test(NAME SOURCES ... [LIBS ...])
function(hkb_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  hkb_strict(${name})
  target_compile_options(${name} PRIVATE ${HKB_SANITIZE})
  target_link_options(${name} PRIVATE ${HKB_SANITIZE})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${T_LIBS})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                       PROPERTIES TIMEOUT ${HKB_TEST_TIMEOUT})
endfunction()

# A libFuzzer target; the test run gives it a bounded number of inputs.
#   hkb_fuzz(NAME SOURCES ... [RUNS n])
function(hkb_fuzz name)
  cmake_parse_arguments(F "" "RUNS" "SOURCES" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS 200000)
  endif()
  add_executable(${name} ${F_SOURCES})
  hkb_strict(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  add_test(NAME fuzz.${name} COMMAND ${name} -runs=${F_RUNS} -seed=1 -max_len=4096)
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
endfunction()

# A native Google Benchmark program (built, not run by the tests).
function(hkb_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  hkb_strict(${name})
  target_compile_options(${name} PRIVATE -O2)
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${B_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
endfunction()

# A timing program run under Wine (built, not run by the tests).
function(hkb_wine_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
  hkb_windows_binary(${name} ANSI_MAIN)
  target_link_options(${name} PRIVATE -mconsole)
  target_link_libraries(${name} PRIVATE hkb_winharness ${B_LIBS})
  if(B_DEPENDS)
    add_dependencies(${name} ${B_DEPENDS})
  endif()
endfunction()

# Checks a shipped PE file from outside: machine, exact export names, imports.
#   hkb_pe_check(FILE "Program Files/ZEVHKB/X.dll" MACHINE x64|x86 [EXPORTS names...] [SHARED_SECTION name])
function(hkb_pe_check)
  cmake_parse_arguments(C "" "FILE;MACHINE;SHARED_SECTION" "EXPORTS" ${ARGN})
  get_filename_component(base "${C_FILE}" NAME)
  set(args --file "${HKB_DIST_DIR}/${C_FILE}" --machine ${C_MACHINE})
  foreach(e IN LISTS C_EXPORTS)
    list(APPEND args --export ${e})
  endforeach()
  if(C_SHARED_SECTION)
    list(APPEND args --shared-section ${C_SHARED_SECTION})
  endif()
  add_test(NAME pe.${base} COMMAND pecheck ${args})
endfunction()
