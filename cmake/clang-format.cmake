# The format and format-check targets: every tracked C and C++ file through clang-format 14,
# the version Debian 12 ships. Versions format some constructs differently, so the check
# runs with this one only, and the targets fail with a message without it.
set(SALESTOTALS_CLANG_FORMAT_VERSION 14)
find_program(SALESTOTALS_CLANG_FORMAT NAMES clang-format-${SALESTOTALS_CLANG_FORMAT_VERSION}
                                            clang-format)
set(clang_format_found "")
if(SALESTOTALS_CLANG_FORMAT)
    execute_process(COMMAND ${SALESTOTALS_CLANG_FORMAT} --version OUTPUT_VARIABLE version)
    if(version MATCHES "version ${SALESTOTALS_CLANG_FORMAT_VERSION}\\.")
        set(clang_format_found ${SALESTOTALS_CLANG_FORMAT})
    endif()
endif()
foreach(mode check fix)
    set(name format-check)
    if(mode STREQUAL "fix")
        set(name format)
    endif()
    add_custom_target(${name}
        COMMAND ${CMAKE_COMMAND} -DMODE=${mode} -DCLANG_FORMAT=${clang_format_found}
                -DVERSION=${SALESTOTALS_CLANG_FORMAT_VERSION} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                -P ${PROJECT_SOURCE_DIR}/cmake/run-clang-format.cmake
        COMMENT "clang-format ${SALESTOTALS_CLANG_FORMAT_VERSION}: ${mode}" VERBATIM)
endforeach()
