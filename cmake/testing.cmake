# Unit tests: one GoogleTest binary per build. The native build uses the
# system's GoogleTest; the Windows builds compile it from Debian's source
# package and run under Wine.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BRINDLEX_GTEST gmock_main)
  find_program(BRINDLEX_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  set(emulator ${CMAKE_SOURCE_DIR}/tests/wine_run.sh)
else()
  find_package(GTest REQUIRED)
  set(BRINDLEX_GTEST GTest::gmock_main)
  set(emulator)
endif()

add_executable(brindlex_tests ${BRINDLEX_TEST_SOURCES})
target_link_libraries(brindlex_tests PRIVATE brindlex_core ${BRINDLEX_GTEST})
if(NOT CMAKE_CROSSCOMPILING)
  target_link_libraries(brindlex_tests PRIVATE GTest::gmock)
endif()
target_compile_definitions(brindlex_tests PRIVATE
  BRINDLEX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_test(NAME unit COMMAND ${emulator} $<TARGET_FILE:brindlex_tests>)
set_tests_properties(unit PROPERTIES TIMEOUT 300)

# End-to-end tests run the real program from a fresh temporary folder.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME e2e_native
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
            --native $<TARGET_FILE:brindlex>)
  set_tests_properties(e2e_native PROPERTIES TIMEOUT 600)
endif()
