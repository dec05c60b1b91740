# The program's layers, lowest first. Each is a library that sees only its
# own headers and those of the layers it links: a library's public headers
# are reached through a folder of links in the build tree, so an include of
# a header from a higher layer fails to compile.
#
#   brindlex_resources   resources/: resource numbers and the fixed texts
#   brindlex_framework   framework/: application object, dialog, strings
#   brindlex_seams       the platform seams the subsystems are written against
#   brindlex_winapi      winapi/: our portable stand-ins of the Windows
#                        registry, profile files and code page
#   brindlex_subsystems  log/, the seams' system implementations (inf/,
#                        registry/) and the subsystems' own helpers
#   brindlex_app         app/ with CMainDlg's operations from cmdline/, log/,
#                        inf/ and registry/
#
# Sources: *.cpp are portable, *_win32.cpp and *_posix.cpp belong to one
# platform, and *_test.cpp (also *_win32_test.cpp, *_posix_test.cpp) are
# unit tests, collected into BRINDLEX_TEST_SOURCES.

# Exposes the headers `ARGN` (paths relative to the source root) to
# `target` and to whatever links it.
function(brindlex_expose target)
  set(dir ${CMAKE_BINARY_DIR}/include/${target})
  foreach(header IN LISTS ARGN)
    get_filename_component(folder ${header} DIRECTORY)
    file(MAKE_DIRECTORY ${dir}/${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${dir}/${header} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
  endif()
endfunction()

# Sets `out` to the sources of this platform among `ARGN`, and appends the
# unit tests among them to BRINDLEX_TEST_SOURCES.
function(brindlex_platform_sources out)
  set(sources)
  set(tests ${BRINDLEX_TEST_SOURCES})
  foreach(file IN LISTS ARGN)
    get_filename_component(name ${file} NAME_WE)
    if(name MATCHES "_(win32|posix)(_test)?$" AND NOT name MATCHES "_${BRINDLEX_PLATFORM}(_test)?$")
      continue()
    endif()
    if(name MATCHES "_test$")
      list(APPEND tests ${CMAKE_SOURCE_DIR}/${file})
    else()
      list(APPEND sources ${CMAKE_SOURCE_DIR}/${file})
    endif()
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
  set(BRINDLEX_TEST_SOURCES ${tests} PARENT_SCOPE)
endfunction()

# `folder`'s files matching `pattern` (relative to the source root).
function(brindlex_glob out folder pattern)
  file(GLOB files CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}
       ${CMAKE_SOURCE_DIR}/${folder}/${pattern})
  set(${out} ${files} PARENT_SCOPE)
endfunction()

set(BRINDLEX_TEST_SOURCES)

add_library(brindlex_resources INTERFACE)
brindlex_expose(brindlex_resources resources/resource.h resources/strings.def)

brindlex_glob(framework_headers framework *.h)
brindlex_glob(framework_files framework *.cpp)
brindlex_platform_sources(framework_sources ${framework_files})
add_library(brindlex_framework STATIC ${framework_sources})
brindlex_expose(brindlex_framework ${framework_headers})
target_link_libraries(brindlex_framework PUBLIC brindlex_resources)
if(WIN32)
  target_link_libraries(brindlex_framework PUBLIC user32 gdi32 kernel32)
endif()

add_library(brindlex_seams INTERFACE)
brindlex_expose(brindlex_seams registry/registry.h inf/setup_files.h)

brindlex_glob(winapi_headers winapi *.h)
brindlex_glob(winapi_files winapi *.cpp)
brindlex_platform_sources(winapi_sources ${winapi_files})
add_library(brindlex_winapi STATIC ${winapi_sources})
brindlex_expose(brindlex_winapi ${winapi_headers})
target_link_libraries(brindlex_winapi PUBLIC brindlex_seams)
target_compile_definitions(brindlex_winapi PRIVATE BRINDLEX_HIVE_FILE="${BRINDLEX_HIVE_FILE}")
if(NOT WIN32)
  # The POSIX registry reads and writes binary hives through libhivex.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HIVEX REQUIRED IMPORTED_TARGET hivex)
  target_link_libraries(brindlex_winapi PUBLIC PkgConfig::HIVEX)
  # A large text registry's keys are added on a thread of their own.
  find_package(Threads REQUIRED)
  target_link_libraries(brindlex_winapi PUBLIC Threads::Threads)
endif()

# CMainDlg's operations are defined in their subsystems' folders but need
# the dialog's run state, so they are built with the application layer.
set(BRINDLEX_DIALOG_MEMBERS
  cmdline/parse_cmdline.cpp log/write_log.cpp inf/read_inf.cpp registry/del_from_reg.cpp)

set(subsystem_files)
foreach(folder cmdline log inf registry)
  brindlex_glob(files ${folder} *.cpp)
  list(APPEND subsystem_files ${files})
endforeach()
list(REMOVE_ITEM subsystem_files ${BRINDLEX_DIALOG_MEMBERS})
brindlex_platform_sources(subsystem_sources ${subsystem_files})
add_library(brindlex_subsystems STATIC ${subsystem_sources})
brindlex_expose(brindlex_subsystems
  log/log_file.h log/open_log.h registry/key_name.h registry/system_registry.h inf/system_setup_files.h)
target_link_libraries(brindlex_subsystems PUBLIC brindlex_seams brindlex_framework
                                          PRIVATE brindlex_winapi)
if(WIN32)
  target_link_libraries(brindlex_subsystems PUBLIC advapi32 kernel32)
endif()

brindlex_glob(app_headers app *.h)
brindlex_glob(app_files app *.cpp)
list(FILTER app_files EXCLUDE REGEX "/main_(win32|posix)\\.cpp$")  # the executable's
brindlex_platform_sources(app_sources ${app_files} ${BRINDLEX_DIALOG_MEMBERS})
add_library(brindlex_app STATIC ${app_sources})
brindlex_expose(brindlex_app ${app_headers})
target_link_libraries(brindlex_app PUBLIC brindlex_subsystems brindlex_framework)

# Test doubles of the seams, for the unit tests, benchmarks and fuzz targets.
brindlex_glob(doubles_headers tests/doubles *.h)
add_library(brindlex_doubles INTERFACE)
brindlex_expose(brindlex_doubles ${doubles_headers})
target_link_libraries(brindlex_doubles INTERFACE brindlex_app brindlex_winapi)
