# The Windows release: the programs with everything they load laid out beside them, as the
# MSI that every site installs (the msi target, cmake/windows-msi.cmake) and as a zip (cpack in
# the build directory) for those who do not install.
#
# SALESTOTALS_WINDOWS_DEMO_DATABASE names a company database (made by the demo database tool of
# a native build) that the release ships as its demo.

set(SALESTOTALS_WINDOWS_DEMO_DATABASE "" CACHE FILEPATH
    "Company database an embedded build ships beside its programs (empty: none)")

install(TARGETS salestotals salestotals-batch salestotals-demo-db RUNTIME DESTINATION .)

# Qt's libraries and the plugins the programs load, in the folders Qt looks for beside the
# executable: no qt.conf is needed.
foreach(module Core Gui Widgets Sql)
    install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
foreach(plugin platforms:QWindowsIntegrationPlugin styles:QWindowsVistaStylePlugin
               sqldrivers:QSQLiteDriverPlugin sqldrivers:QODBCDriverPlugin)
    string(REPLACE ":" ";" plugin "${plugin}")
    list(GET plugin 0 folder)
    list(GET plugin 1 target)
    install(FILES $<TARGET_FILE:Qt6::${target}> DESTINATION ${folder})
endforeach()

# The one SQLite library that Qt's driver and the program's functions share.
get_filename_component(sqlite_lib_dir "${SQLite3_LIBRARY}" DIRECTORY)
find_file(SALESTOTALS_SQLITE_DLL sqlite3.dll HINTS "${sqlite_lib_dir}/../bin" REQUIRED
          NO_DEFAULT_PATH)
install(FILES ${SALESTOTALS_SQLITE_DLL} DESTINATION .)

# The compiler's runtime.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    install(FILES ${path} DESTINATION .)
endforeach()

# Debian's runtime DLLs carry their debugging information: strip all that is laid out.
install(CODE "
    file(GLOB_RECURSE binaries \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\"
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.exe\")
    foreach(binary IN LISTS binaries)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${binary}\"
                        RESULT_VARIABLE status)
        if(status)
            message(FATAL_ERROR \"stripping \${binary} failed\")
        endif()
    endforeach()
")

# The zip's demo database lies beside the programs, where the built-in database_file finds it;
# the MSI puts it under ProgramData.
set(msi_database "")
if(SALESTOTALS_WINDOWS_DEMO_DATABASE)
    if(IS_ABSOLUTE "${SALESTOTALS_DATA_SOURCE}" OR SALESTOTALS_DATA_SOURCE MATCHES "[/\\]")
        message(FATAL_ERROR "the demo database ships beside the programs: the data source "
                            "'${SALESTOTALS_DATA_SOURCE}' must be a bare file name")
    endif()
    install(FILES ${SALESTOTALS_WINDOWS_DEMO_DATABASE} DESTINATION . RENAME ${SALESTOTALS_DATA_SOURCE})
    set(msi_database "${SALESTOTALS_DATA_SOURCE}")
endif()

# The weekly task for the Task Scheduler and its daily check (--verify), beside the programs
# of a per-machine installation (the MSI's folder under Program Files). schtasks reads a
# definition in UTF-16 reliably.
find_program(SALESTOTALS_ICONV iconv REQUIRED)
set(SALESTOTALS_TASK_PACKAGE salestotals)
foreach(task salestotals-batch-task salestotals-batch-verify-task)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/${task}.xml.in
                   ${CMAKE_BINARY_DIR}/${task}.utf8.xml @ONLY)
    set(task_xml ${CMAKE_BINARY_DIR}/${task}.xml)
    execute_process(COMMAND ${SALESTOTALS_ICONV} -f UTF-8 -t UTF-16
                            ${CMAKE_BINARY_DIR}/${task}.utf8.xml
                    OUTPUT_FILE ${task_xml} RESULT_VARIABLE status)
    file(READ ${task_xml} bom LIMIT 2 HEX)
    if(status OR NOT bom STREQUAL "fffe")
        message(FATAL_ERROR "converting ${task}.xml to UTF-16 (little-endian, with BOM) failed")
    endif()
    install(FILES ${task_xml} DESTINATION .)
endforeach()

# The MSI: per machine under Program Files\salestotals. Its upgrade code stays for ever, so that
# any later version replaces the installed one.
find_program(SALESTOTALS_WIXL wixl)
find_program(SALESTOTALS_MSIBUILD msibuild)
set(package_name salestotals)
set(upgrade_code D507A68C-5236-4566-956E-DD029E36467C)
set(msi_version ${PROJECT_VERSION})
if(msi_version MATCHES "^[0-9]+\\.[0-9]+$")
    string(APPEND msi_version ".0")
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/msi-settings.cmake CONTENT [[
set(MSI_BUILD_DIR "@CMAKE_BINARY_DIR@")
set(MSI_NAME "@package_name@")
set(MSI_VERSION "@msi_version@")
set(MSI_UPGRADE_CODE "@upgrade_code@")
set(MSI_DATABASE "@msi_database@")
set(MSI_OUTPUT "@CMAKE_BINARY_DIR@/@package_name@-@PROJECT_VERSION@-win64.msi")
set(MSI_WIXL "@SALESTOTALS_WIXL@")
set(MSI_BUILD "@SALESTOTALS_MSIBUILD@")
]] @ONLY)
add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -DSETTINGS=${CMAKE_BINARY_DIR}/msi-settings.cmake
            -P ${PROJECT_SOURCE_DIR}/cmake/windows-msi.cmake
    COMMENT "Making ${package_name}-${PROJECT_VERSION}-win64.msi" VERBATIM)
add_dependencies(msi salestotals salestotals-batch salestotals-demo-db)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME salestotals)
set(CPACK_PACKAGE_VENDOR salestotals)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Weekly, monthly and yearly sales totals")
set(CPACK_PACKAGE_FILE_NAME ${package_name}-${PROJECT_VERSION}-win64)

include(CPack)
