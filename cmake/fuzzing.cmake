# libFuzzer targets: fuzz/<name>_fuzzer.cpp, each linked with the program's
# code, which BRINDLEX_FUZZ builds with the sanitizers. CTest runs each one
# for a bounded time on a copy of its seed corpus, tests/data/fuzz/<name>/,
# and fails on any crash, hang, leak or sanitizer report.
set(BRINDLEX_FUZZ_SECONDS 60 CACHE STRING "How long CTest runs each fuzz target")

file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzzer.cpp)
foreach(source IN LISTS fuzzers)
  get_filename_component(target ${source} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" name ${target})
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE brindlex_app brindlex_winapi brindlex_doubles)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  brindlex_expose(${target} fuzz/tree_depth.h)
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run_fuzzer.sh $<TARGET_FILE:${target}>
            ${CMAKE_SOURCE_DIR}/tests/data/fuzz/${name} ${BRINDLEX_FUZZ_SECONDS}
            ${CMAKE_BINARY_DIR}/fuzz-findings)
  set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 600)
endforeach()
