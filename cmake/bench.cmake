# The benchmark hives (bench/hive_shape.cpp): brindlex_make_hive writes them
# to files, for the whole-program timings in scripts/perf/ and the stress
# tests; it needs nothing beyond the standard library.
add_executable(brindlex_make_hive bench/make_hive.cpp bench/hive_shape.cpp)
target_include_directories(brindlex_make_hive PRIVATE ${CMAKE_SOURCE_DIR})

# A SOFTWARE-shaped binary hive of the same keys, written in the format
# directly and checked with libhivex, for the offline-hive timings.
if(NOT WIN32)
  add_executable(brindlex_make_regf_hive bench/make_regf_hive.cpp bench/hive_shape.cpp)
  target_include_directories(brindlex_make_regf_hive PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(brindlex_make_regf_hive PRIVATE brindlex_winapi)
endif()

# Benchmarks of the registry engine (Google Benchmark): one program,
# brindlex_bench, built when the library is installed. They are not tests:
# run the program by hand (see scripts/perf/ for whole-program timings).
find_package(benchmark QUIET)
if(NOT benchmark_FOUND)
  message(STATUS "Google Benchmark not found: brindlex_bench is not built")
  return()
endif()

add_executable(brindlex_bench bench/hive_bench.cpp bench/hive_shape.cpp)
target_link_libraries(brindlex_bench PRIVATE brindlex_app brindlex_winapi brindlex_doubles
                                             benchmark::benchmark)
brindlex_expose(brindlex_bench bench/hive_shape.h)
