# Shared part of the MinGW-w64 cross toolchains. The including file sets
# BRINDLEX_MINGW_TRIPLET before including this one.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers of the posix thread model, whose standard library has
# std::mutex (GoogleTest needs it). Static linking keeps winpthread out of
# the program's DLL list.
foreach(tool gcc-posix g++-posix windres)
  string(REGEX REPLACE "-posix$" "" name ${tool})
  find_program(BRINDLEX_MINGW_${name} ${BRINDLEX_MINGW_TRIPLET}-${tool})
  if(NOT BRINDLEX_MINGW_${name})
    message(FATAL_ERROR "${BRINDLEX_MINGW_TRIPLET}-${tool} not found: install "
                        "g++-mingw-w64-i686 and g++-mingw-w64-x86-64")
  endif()
endforeach()

# The program is C++ alone; GoogleTest's own project also enables C.
set(CMAKE_C_COMPILER ${BRINDLEX_MINGW_gcc})
set(CMAKE_CXX_COMPILER ${BRINDLEX_MINGW_g++})
set(CMAKE_RC_COMPILER ${BRINDLEX_MINGW_windres})

set(CMAKE_FIND_ROOT_PATH /usr/${BRINDLEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages too: the host's own (GoogleTest's, say) are for Linux programs.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
