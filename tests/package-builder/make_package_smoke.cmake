# hxflash make-package writes a package and its description; building again
# from the description gives the same bytes.
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
execute_process(COMMAND ${HXFLASH} make-package ${OUT_DIR}/a.bin --page-size 512 --rom-mib 0.25
                        --fs-volumes 2 --fs-volume-blocks 3 --seed 7
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make-package failed: ${rc}")
endif()
if(NOT EXISTS ${OUT_DIR}/a.bin.desc.json)
  message(FATAL_ERROR "no description written")
endif()
execute_process(COMMAND ${HXFLASH} make-package ${OUT_DIR}/b.bin --from-desc ${OUT_DIR}/a.bin.desc.json
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make-package --from-desc failed: ${rc}")
endif()
file(SHA256 ${OUT_DIR}/a.bin a)
file(SHA256 ${OUT_DIR}/b.bin b)
if(NOT a STREQUAL b)
  message(FATAL_ERROR "package rebuilt from its description differs")
endif()
file(SIZE ${OUT_DIR}/a.bin size)
math(EXPR rest "${size} % 16896")
if(NOT rest EQUAL 0 OR size EQUAL 0)
  message(FATAL_ERROR "package size ${size} is not whole 512-byte-page raw blocks")
endif()
execute_process(COMMAND ${HXFLASH} make-package ${OUT_DIR}/c.bin --page-size 1024 RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "make-package accepted page size 1024")
endif()
