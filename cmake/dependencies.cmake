# Every dependency is checked when the build is configured, and a missing
# one named with the Debian package that brings it: a bare machine should
# learn what to install here, not from a failed compile.
# (`bash install_dependencies.sh` installs them all.)

function(zeb_missing what package)
  message(FATAL_ERROR "${what} not found: install ${package} "
                      "(apt-get install ${package}, or bash install_dependencies.sh)${ARGN}")
endfunction()

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 12)
  message(FATAL_ERROR "g++ ${CMAKE_CXX_COMPILER_VERSION} is too old: the tools need g++ 12 or later (C++20)")
endif()

# endian_switch's sector checksums: xxHash, header-only.
include(CheckIncludeFileCXX)
check_include_file_cxx(xxhash.h ZEB_HAVE_XXHASH)
if(NOT ZEB_HAVE_XXHASH)
  zeb_missing("xxhash.h (xxHash)" libxxhash-dev)
endif()

if(ZEB_STATIC)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  check_cxx_source_compiles("#include <cstdio>\nint main() { std::puts(\"\"); }" ZEB_STATIC_LINKS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(NOT ZEB_STATIC_LINKS)
    zeb_missing("The static C and C++ libraries" "libc6-dev libstdc++-12-dev" ", or configure with -DZEB_STATIC=OFF")
  endif()
endif()

if(ZEB_FUZZ)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
  check_cxx_source_compiles("#include <cstddef>\n#include <cstdint>\nextern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }"
                            ZEB_FUZZER_LINKS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(NOT ZEB_FUZZER_LINKS)
    zeb_missing("libFuzzer (with CXX=clang++)" "clang libclang-rt-dev")
  endif()
endif()

if(ZEB_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    zeb_missing("GoogleTest" libgtest-dev ", or build the tools alone with -DZEB_TESTS=OFF")
  endif()
  # Optional: the tests that need these are skipped without them.
  find_program(ZEB_STRACE strace)
  if(NOT ZEB_STRACE)
    message(STATUS "strace not found: the tests that inject failures will be skipped (apt-get install strace)")
  endif()
  execute_process(COMMAND /usr/bin/python3 -c "import numpy, mrcfile"
                  RESULT_VARIABLE ZEB_NO_MAP_READER OUTPUT_QUIET ERROR_QUIET)
  if(ZEB_NO_MAP_READER)
    message(STATUS "Python 3 with numpy and mrcfile not found: the tests that need them will be skipped "
                   "(apt-get install python3-numpy python3-mrcfile)")
  endif()
endif()
