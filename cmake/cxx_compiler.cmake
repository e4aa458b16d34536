# Enables C++ only when a C++20 compiler is there; otherwise stops with one
# message that names what to install, instead of CMake's own error about the
# compiler it could not run.
include(CheckLanguage)
check_language(CXX)
if(NOT CMAKE_CXX_COMPILER)
  set(_quillon_tried "")
  if(DEFINED ENV{CXX})
    set(_quillon_tried " (CXX=$ENV{CXX})")
  endif()
  message(FATAL_ERROR
    "quillon-accounts: no working C++ compiler found${_quillon_tried}.\n"
    "Building from source compiles its native engine, which needs a C++20 compiler "
    "(GCC 10+, Clang 13+, Xcode 14+ or Visual Studio 2022). Install one:\n"
    "  Debian/Ubuntu: apt install g++\n"
    "  Fedora/RHEL:   dnf install gcc-c++\n"
    "  Alpine:        apk add g++\n"
    "  macOS:         xcode-select --install\n"
    "  Windows:       Visual Studio 2022 Build Tools, workload \"Desktop development with C++\"\n"
    "or install a prebuilt wheel instead: pip install --only-binary=:all: quillon-accounts")
endif()
enable_language(CXX)

# Oldest releases with the C++20 parts the engine uses (defaulted
# comparisons, std::span, <bit>).
set(_quillon_min_GNU 10)
set(_quillon_min_Clang 13)
set(_quillon_min_AppleClang 14)
set(_quillon_min_MSVC 19.30)
set(_quillon_min ${_quillon_min_${CMAKE_CXX_COMPILER_ID}})
if(_quillon_min AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS _quillon_min)
  message(FATAL_ERROR
    "quillon-accounts: ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} "
    "(${CMAKE_CXX_COMPILER}) is too old for C++20; install GCC 10+, Clang 13+, "
    "Xcode 14+ or Visual Studio 2022, or a prebuilt wheel.")
endif()
