# Benchmarks of the registry engine (Google Benchmark): one program,
# brindlex_bench, built when the library is installed. They are not tests:
# run the program by hand (see scripts/perf/ for whole-program timings).
find_package(benchmark QUIET)
if(NOT benchmark_FOUND)
  message(STATUS "Google Benchmark not found: brindlex_bench is not built")
  return()
endif()

file(GLOB BRINDLEX_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
add_executable(brindlex_bench ${BRINDLEX_BENCH_SOURCES})
target_link_libraries(brindlex_bench PRIVATE brindlex_app brindlex_winapi brindlex_doubles
                                             benchmark::benchmark)
brindlex_expose(brindlex_bench bench/hive_shape.h)
