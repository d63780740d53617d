# Cross build for 32-bit Windows with mingw-w64 (Debian g++-mingw-w64-i686-posix).
# Member functions are __thiscall, as the host's compiler makes them.
set(HX_MINGW_TRIPLE i686-w64-mingw32)
set(HX_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
