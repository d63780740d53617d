# Cross build for 64-bit Windows with mingw-w64 (Debian g++-mingw-w64-x86-64-posix).
set(HX_MINGW_TRIPLE x86_64-w64-mingw32)
set(HX_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
