# Unit tests: one GoogleTest binary per build. GoogleTest is the one the
# machine has installed for the build's target; where there is none (the
# Windows builds), it is compiled from Debian's source package (another
# source folder: -DFETCHCONTENT_SOURCE_DIR_GOOGLETEST=...). The Windows test
# programs run under the Wine of their machine: the x86_64 program under the
# host's 64-bit Wine, the i686 one under 32-bit Wine (emulated, see
# scripts/setup-wine32.sh). Every Wine test of a build shares one prefix.
include(FetchContent)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
FetchContent_Declare(googletest SOURCE_DIR /usr/src/googletest
                     FIND_PACKAGE_ARGS NAMES GTest)
FetchContent_MakeAvailable(googletest)
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(BRINDLEX_WINE_KIND win32)
  else()
    set(BRINDLEX_WINE_KIND win64)
  endif()
  set(BRINDLEX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # add_test runs the test programs through it.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wine/wine_run.sh ${BRINDLEX_WINE_KIND})
endif()

add_executable(brindlex_tests ${BRINDLEX_TEST_SOURCES})
if(WIN32)
  # The fixed texts are looked up in the program's own resources.
  target_sources(brindlex_tests PRIVATE resources/brindlex.rc)
endif()
target_link_libraries(brindlex_tests PRIVATE brindlex_app brindlex_winapi brindlex_doubles
                                             GTest::gmock_main)
# The tests stand above every layer: they may include any header.
target_include_directories(brindlex_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(brindlex_tests PRIVATE
  BRINDLEX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_test(NAME unit COMMAND brindlex_tests)
set_tests_properties(unit PROPERTIES TIMEOUT 600)
if(CMAKE_CROSSCOMPILING)
  set_tests_properties(unit PROPERTIES ENVIRONMENT WINEPREFIX=${BRINDLEX_WINE_PREFIX}
    LABELS wine)
endif()

# End-to-end tests run the real program from a fresh temporary folder: the
# POSIX program directly, the Windows program under Wine with an X display,
# started through a launcher that passes its command line exactly.
if(CMAKE_CROSSCOMPILING)
  add_executable(brindlex_launch tests/wine/launch.cpp)
  # Each harness records the SHA-256 of the program it ran, for the release
  # check below.
  set(tested ${CMAKE_BINARY_DIR}/artifacts/tested)
  set(wine_args --wine-kind ${BRINDLEX_WINE_KIND} --prefix ${BRINDLEX_WINE_PREFIX})
  add_test(NAME e2e_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --wine $<TARGET_FILE:brindlex> --launcher $<TARGET_FILE:brindlex_launch>
            ${wine_args} --tested-record ${tested}/e2e.sha256)
  add_test(NAME window_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/window_test.py
            --exe $<TARGET_FILE:brindlex> ${wine_args}
            --artifacts ${CMAKE_BINARY_DIR}/artifacts --tested-record ${tested}/window.sha256)
  # End-to-end cases whose inputs are made when the test runs.
  add_test(NAME large_inputs_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/stress/large_inputs_test.py
            --wine $<TARGET_FILE:brindlex> --launcher $<TARGET_FILE:brindlex_launch>
            ${wine_args} --tested-record ${tested}/large_inputs.sha256)
  set_tests_properties(e2e_wine window_wine large_inputs_wine PROPERTIES
    TIMEOUT 1500 RUN_SERIAL TRUE LABELS wine)
  # The release zip, made as cpack --preset makes it, must hold the program
  # these tests ran.
  add_test(NAME release_zip
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe/check_release.py
            --cpack ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
            --exe $<TARGET_FILE:brindlex> --tested ${tested}/e2e.sha256
            --tested ${tested}/window.sha256 --tested ${tested}/large_inputs.sha256)
  set_tests_properties(release_zip PROPERTIES
    DEPENDS "unit;e2e_wine;window_wine;large_inputs_wine" RUN_SERIAL TRUE LABELS wine)
else()
  # Makes the empty hives that the hive fixtures and benchmarks start from.
  add_executable(brindlex_make_empty_hive tests/support/make_empty_hive.cpp)
  target_link_libraries(brindlex_make_empty_hive PRIVATE brindlex_winapi)
  add_test(NAME e2e_native
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --native $<TARGET_FILE:brindlex>)
  add_test(NAME large_inputs_native
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/stress/large_inputs_test.py
            --native $<TARGET_FILE:brindlex>)
  # The registry cases again, on binary hives made from their regedit files
  # (a SOFTWARE hive and a Classes hive each), read back with hivexregedit.
  add_test(NAME e2e_hive
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --hive $<TARGET_FILE:brindlex>
            --empty-hive-tool $<TARGET_FILE:brindlex_make_empty_hive>)
  set_tests_properties(e2e_native e2e_hive large_inputs_native PROPERTIES TIMEOUT 600)
  # The hive file under stress: the program killed at every phase of a run
  # (the file must be the old or the new one), two runs at once (both
  # deletions must land), and the file against other programs and file
  # systems (mounts as root). Timing matters to all, so they run alone.
  foreach(stress crash concurrency file_store)
    add_test(NAME stress_${stress}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/stress/${stress}_test.py
              $<TARGET_FILE:brindlex>)
    set_tests_properties(stress_${stress} PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
  endforeach()
endif()
