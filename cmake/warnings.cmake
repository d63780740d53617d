# Warnings for every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-interference-size>)
endif()
