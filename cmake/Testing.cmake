# Test support shared by every subsystem.
#
#   corvane_add_test(NAME <exe> SOURCES <files...> LIBS <targets...>)
#
# builds one GoogleTest executable and registers it with CTest. Natively GoogleTest comes from
# the system packages and each test case is its own CTest entry. For the Windows cross builds it
# is built from /usr/src/googletest and linked statically; each executable is one CTest entry
# (a Wine process start is not free) run through CMAKE_CROSSCOMPILING_EMULATOR, the Wine wrapper,
# in the prefix <build>/wineprefix, and writes its GoogleTest XML report to
# <build>/gtest-reports/<exe>.xml (scripts/test counts the cases from it). Without an emulator
# (i686) the tests are built, not registered.
if(NOT CORVANE_BUILD_TESTS)
  function(corvane_add_test)
  endfunction()
  return()
endif()

enable_testing()

if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  set(CORVANE_GTEST_LIBS GTest::gtest GTest::gmock)
  set(CORVANE_GTEST_MAIN GTest::gtest_main)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
  set(CORVANE_GTEST_LIBS GTest::gtest GTest::gmock)
  set(CORVANE_GTEST_MAIN GTest::gtest_main)
endif()
include(GoogleTest)
set(CORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CORVANE_GTEST_REPORTS ${CMAKE_BINARY_DIR}/gtest-reports)
# The same folder as the Windows programs see it, through Wine's Z: drive.
string(REPLACE "/" "\\" CORVANE_GTEST_REPORTS_WINPATH "Z:${CORVANE_GTEST_REPORTS}")

function(corvane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ${CORVANE_GTEST_LIBS} ${CORVANE_GTEST_MAIN})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  if(CMAKE_CROSSCOMPILING)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no
               "--gtest_output=xml:${CORVANE_GTEST_REPORTS_WINPATH}\\${T_NAME}.xml")
      set_tests_properties(${T_NAME} PROPERTIES LABELS windows TIMEOUT 900
                           ENVIRONMENT "CORVANE_WINEPREFIX=${CORVANE_WINEPREFIX}")
    endif()
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS native TIMEOUT 300)
  endif()
endfunction()

# Checks of the test machinery itself: the summary that scripts/test prints, and that the Wine
# runner hands back a program's exit code (a failing test must fail CTest) and its output.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME scripts_test_summary COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/tests/summary_test.sh)
  set_tests_properties(scripts_test_summary PROPERTIES LABELS native TIMEOUT 60)
elseif(CMAKE_CROSSCOMPILING_EMULATOR)
  add_executable(exit_code_probe ${CMAKE_CURRENT_LIST_DIR}/tests/exit_code_probe.cpp)
  add_test(NAME wine_runner_exit_code
           COMMAND bash -c "out=$(\"$0\" \"$1\" 7); rc=$?; echo \"$out\"; [ $rc -eq 7 ] && grep -q 'exit code probe' <<< \"$out\""
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:exit_code_probe>)
  set_tests_properties(wine_runner_exit_code PROPERTIES LABELS windows TIMEOUT 300
                       ENVIRONMENT "CORVANE_WINEPREFIX=${CORVANE_WINEPREFIX}")
endif()
