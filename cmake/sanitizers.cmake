# HX_SANITIZE=address builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# HX_SANITIZE=thread with ThreadSanitizer. Every target, the C test host
# included, gets the same flags so that a sanitized library loads into a
# sanitized host.
if(HX_SANITIZE STREQUAL "address")
  set(HX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(HX_SANITIZE STREQUAL "thread")
  set(HX_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT HX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "HX_SANITIZE must be empty, address or thread")
endif()
if(HX_SANITIZER_FLAGS)
  add_compile_options(${HX_SANITIZER_FLAGS})
  add_link_options(${HX_SANITIZER_FLAGS})
endif()
