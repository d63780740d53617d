# Warnings for every target of the project: its C and C++ sources (a Windows
# build's resource compiler takes no warning options).
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Wpedantic;-Wshadow;-Wno-missing-field-initializers>")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-interference-size>)
endif()
