# Run by the format (MODE=fix) and format-check (MODE=check) targets, see clang-format.cmake.
# The files are those git tracks; in a copy without git, the source folders' files.
cmake_minimum_required(VERSION 3.25)

if(NOT CLANG_FORMAT)
    message(FATAL_ERROR "clang-format ${VERSION} is not installed (Debian package "
                        "clang-format-${VERSION}; scripts/setup installs it)")
endif()
execute_process(COMMAND git ls-files -- *.c *.cpp *.h WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE tracked RESULT_VARIABLE status ERROR_QUIET)
if(status EQUAL 0)
    string(REPLACE "\n" ";" files "${tracked}")
    list(FILTER files EXCLUDE REGEX "^$")
else()
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.c ${SOURCE_DIR}/*.cpp
         ${SOURCE_DIR}/*.h)
    list(FILTER files EXCLUDE REGEX "^(build|out)[^/]*/")
endif()
list(LENGTH files count)
if(MODE STREQUAL "fix")
    execute_process(COMMAND ${CLANG_FORMAT} -i ${files} WORKING_DIRECTORY ${SOURCE_DIR}
                    RESULT_VARIABLE status)
    if(status)
        message(FATAL_ERROR "clang-format failed")
    endif()
    message(STATUS "format: ${count} files formatted")
    return()
endif()
set(differ "")
foreach(file IN LISTS files)
    execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${file}
                    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status OUTPUT_QUIET
                    ERROR_QUIET)
    if(status)
        list(APPEND differ ${file})
    endif()
endforeach()
if(differ)
    list(JOIN differ "\n  " text)
    message(FATAL_ERROR "format-check: these files differ from .clang-format (fix them with "
                        "the format target):\n  ${text}")
endif()
message(STATUS "format-check: ${count} files, all formatted")
