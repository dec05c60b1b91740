# Unit tests: one GoogleTest binary per build. The native build uses the
# system's GoogleTest; the Windows builds compile it from Debian's source
# package and run under Wine.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BRINDLEX_GTEST gmock_main)
  set(emulator ${CMAKE_SOURCE_DIR}/tests/wine/wine_run.sh)
else()
  find_package(GTest REQUIRED)
  set(BRINDLEX_GTEST GTest::gmock_main)
  set(emulator)
endif()

add_executable(brindlex_tests ${BRINDLEX_TEST_SOURCES})
if(WIN32)
  # The fixed texts are looked up in the program's own resources.
  target_sources(brindlex_tests PRIVATE resources/brindlex.rc)
endif()
target_link_libraries(brindlex_tests PRIVATE brindlex_app brindlex_winapi brindlex_doubles ${BRINDLEX_GTEST})
if(NOT CMAKE_CROSSCOMPILING)
  target_link_libraries(brindlex_tests PRIVATE GTest::gmock)
endif()
# The tests stand above every layer: they may include any header.
target_include_directories(brindlex_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(brindlex_tests PRIVATE
  BRINDLEX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_test(NAME unit COMMAND ${emulator} $<TARGET_FILE:brindlex_tests>)
set_tests_properties(unit PROPERTIES TIMEOUT 300)
if(CMAKE_CROSSCOMPILING)
  set_tests_properties(unit PROPERTIES ENVIRONMENT WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix)
endif()

# End-to-end tests run the real program from a fresh temporary folder: the
# POSIX program directly, the Windows program under Wine with an X display,
# started through a launcher that passes its command line exactly.
if(CMAKE_CROSSCOMPILING)
  add_executable(brindlex_launch tests/wine/launch.cpp)
  add_test(NAME e2e_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --wine $<TARGET_FILE:brindlex> --launcher $<TARGET_FILE:brindlex_launch>
            --prefix ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME window_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/window_test.py
            --exe $<TARGET_FILE:brindlex> --prefix ${CMAKE_BINARY_DIR}/wineprefix
            --artifacts ${CMAKE_BINARY_DIR}/artifacts)
  # End-to-end cases whose inputs are made when the test runs.
  add_test(NAME large_inputs_wine
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/stress/large_inputs_test.py
            --wine $<TARGET_FILE:brindlex> --launcher $<TARGET_FILE:brindlex_launch>
            --prefix ${CMAKE_BINARY_DIR}/wineprefix)
  set_tests_properties(e2e_wine window_wine large_inputs_wine PROPERTIES
    TIMEOUT 1200 RUN_SERIAL TRUE)
else()
  add_test(NAME e2e_native
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --native $<TARGET_FILE:brindlex>)
  add_test(NAME large_inputs_native
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/stress/large_inputs_test.py
            --native $<TARGET_FILE:brindlex>)
  set_tests_properties(e2e_native large_inputs_native PROPERTIES TIMEOUT 600)
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
