# Shared part of the mingw-w64 toolchain files: a cross build for Windows with
# Debian's posix-threads flavour of the compilers (std::thread and std::mutex
# need it). The including file sets HX_MINGW_TRIPLE and HX_WINE_ARCH first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${HX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${HX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target's binaries")

# Libraries and headers come only from the cross toolchain's own root: the
# build machine's /usr/include never reaches a cross build.
set(CMAKE_FIND_ROOT_PATH /usr/${HX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs of the build (the test hosts) run under Wine.
get_filename_component(HX_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${HX_WINE_RUN} ${HX_WINE_ARCH})

# Release at -O2, as the native builds: at -O3 this compiler (GCC 12) warns
# falsely of overlapping copies inside std::string's operator+ (-Wrestrict).
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "C flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "C++ flags of Release builds")
