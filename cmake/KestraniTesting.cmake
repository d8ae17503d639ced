# SPDX-License-Identifier: GPL-3.0-or-later
# kestrani_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [TIMEOUT s] [LABELS l])
# One QtTest executable per unit, run headless on the offscreen platform with its settings
# and data folders pointed into the build tree, never at the user's own.
function(kestrani_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${T_NAME} PRIVATE
    KESTRANI_MEDIA_DIR="${KESTRANI_MEDIA_DIR}"
    KESTRANI_PROGRAM_DIR="${KESTRANI_PROGRAM_DIR}"
    KESTRANI_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KESTRANI_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/tests")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
  file(MAKE_DIRECTORY ${home}/runtime)
  file(CHMOD ${home}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_CACHE_HOME=${home}/cache;XDG_RUNTIME_DIR=${home}/runtime")
endfunction()
