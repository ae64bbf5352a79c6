# Linux: install rules, manual pages, systemd units and the Debian package (cpack -G DEB).

# The package installs to /usr and the manual pages name the paths of this prefix.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(SALESTOTALS_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/salestotals)
set(SALESTOTALS_MAN_DOCDIR ${CMAKE_INSTALL_FULL_DATADIR}/doc/salestotals)
set(SALESTOTALS_MAN_UNITDIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)

# What the programs were compiled with, read from the window's own definitions, then any
# other text setting of the build (one compiled in some other way), each shown in the manual
# pages with its cache help text.
get_target_property(definitions salestotals COMPILE_DEFINITIONS)
get_cmake_property(cache_variables CACHE_VARIABLES)
set(compiled_in "")
foreach(definition IN LISTS definitions)
    if(definition MATCHES "^(SALESTOTALS_[A-Z_]+)=\"(.*)\"$")
        list(APPEND compiled_in ${CMAKE_MATCH_1})
        set(compiled_value_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
endforeach()
foreach(name IN LISTS cache_variables)
    get_property(type CACHE ${name} PROPERTY TYPE)
    if(name MATCHES "^SALESTOTALS_" AND type STREQUAL "STRING" AND NOT name IN_LIST compiled_in)
        list(APPEND compiled_in ${name})
        set(compiled_value_${name} "${${name}}")
    endif()
endforeach()
set(SALESTOTALS_MAN_COMPILED_IN "")
foreach(name IN LISTS compiled_in)
    string(REPLACE "\\" "\\e" value "${compiled_value_${name}}")
    if(value STREQUAL "")
        set(value "(empty)")
    endif()
    get_property(help CACHE ${name} PROPERTY HELPSTRING)
    string(REPLACE "\\" "\\e" help "${help}")
    string(APPEND SALESTOTALS_MAN_COMPILED_IN ".TP\n.B ${name}\n\\&${value}\n.br\n\\&${help}\n")
endforeach()

if(SALESTOTALS_DATABASE STREQUAL "embedded")
    if(IS_ABSOLUTE "${SALESTOTALS_DATA_SOURCE}")
        set(SALESTOTALS_MAN_DATABASE_FILE "${SALESTOTALS_DATA_SOURCE}")
    else()
        set(SALESTOTALS_MAN_DATABASE_FILE "${CMAKE_INSTALL_FULL_BINDIR}/${SALESTOTALS_DATA_SOURCE}")
    endif()
    set(SALESTOTALS_MAN_DATABASE_TEXT "the company database (SQLite); the user who runs the \
program needs to write to it and to its directory.")
else()
    set(SALESTOTALS_MAN_DATABASE_FILE "/etc/odbcinst.ini")
    set(SALESTOTALS_MAN_DATABASE_TEXT "names the ODBC driver ${SALESTOTALS_ODBC_DRIVER}; the \
program connects to the catalog QVT on ${SALESTOTALS_DATA_SOURCE} with integrated security, \
i.e. with the Kerberos ticket of the user who runs it.")
endif()
if(SALESTOTALS_DATABASE STREQUAL "embedded")
    set(SALESTOTALS_MAN_RUN_LOCK "the file
.I ${SALESTOTALS_MAN_DATABASE_FILE}.run\\-lock
beside the database, which exists while a run holds it. A lock file whose process no longer
runs on this machine (killed, or the machine restarted) is taken over at once; one left by a
process on another machine sharing the file must be deleted by hand.")
else()
    set(SALESTOTALS_MAN_RUN_LOCK "an application lock in the company database owned by the
session (sp_getapplock, resource \\(lqsalestotals run C_QVT\\(rq), which the server frees when
the connection ends, also when the process is killed.")
endif()
string(TIMESTAMP SALESTOTALS_MAN_DATE "%Y-%m-%d" UTC)

# Manual pages: salestotals-batch's from its --help (help2man), the window's written out.
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(man_pages ${packaging_out}/salestotals.1.gz)
configure_file(${SALESTOTALS_PACKAGING_DIR}/salestotals.1.in ${packaging_out}/salestotals.1 @ONLY)
configure_file(${SALESTOTALS_PACKAGING_DIR}/salestotals-batch.h2m.in
               ${packaging_out}/salestotals-batch.h2m @ONLY)
add_custom_command(OUTPUT ${packaging_out}/salestotals.1.gz
    COMMAND ${GZIP} -9nf -k ${packaging_out}/salestotals.1
    DEPENDS ${packaging_out}/salestotals.1 VERBATIM)
# A sanitized build would run its instrumented program here; such builds are never installed.
if(HELP2MAN AND NOT SALESTOTALS_SANITIZE)
    add_custom_command(OUTPUT ${packaging_out}/salestotals-batch.1.gz
        COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
                --include=${packaging_out}/salestotals-batch.h2m
                --output=${packaging_out}/salestotals-batch.1 $<TARGET_FILE:salestotals-batch>
        COMMAND ${GZIP} -9nf ${packaging_out}/salestotals-batch.1
        DEPENDS salestotals-batch ${packaging_out}/salestotals-batch.h2m VERBATIM)
    list(APPEND man_pages ${packaging_out}/salestotals-batch.1.gz)
elseif(NOT HELP2MAN)
    message(WARNING "help2man not found: no manual page for salestotals-batch")
endif()
add_custom_target(salestotals-man ALL DEPENDS ${man_pages})

# The Debian changelog wants a dated entry; a native package keeps it as changelog.gz.
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}+${SALESTOTALS_DATABASE}")
# A site building its own package names itself with -DCPACK_DEBIAN_PACKAGE_MAINTAINER=...
if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "salestotals developers <salestotals@example.com>")
endif()
string(TIMESTAMP SALESTOTALS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${SALESTOTALS_PACKAGING_DIR}/changelog.in ${packaging_out}/changelog @ONLY)
add_custom_command(OUTPUT ${packaging_out}/changelog.gz
    COMMAND ${GZIP} -9nf -k ${packaging_out}/changelog
    DEPENDS ${packaging_out}/changelog VERBATIM)
add_custom_target(salestotals-changelog ALL DEPENDS ${packaging_out}/changelog.gz)

install(TARGETS salestotals salestotals-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md sql/sqlserver/create_summary_tables.sql
              ${SALESTOTALS_PACKAGING_DIR}/copyright ${packaging_out}/changelog.gz
        DESTINATION ${docdir})
# The README links its pages in docs/, which sit beside it.
install(DIRECTORY docs/ DESTINATION ${docdir}/docs)
if(SALESTOTALS_DATABASE STREQUAL "embedded")
    install(FILES sql/embedded/schema.sql DESTINATION ${docdir})
endif()
install(CODE "
    set(SALESTOTALS_PACKAGING_DIR \"${SALESTOTALS_PACKAGING_DIR}\")
    set(SALESTOTALS_UNITS_OUT \"${packaging_out}/units\")
    set(SALESTOTALS_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(SCRIPT ${SALESTOTALS_PACKAGING_DIR}/install-units.cmake)

# The package. Library dependencies come from dpkg-shlibdeps; the SQL drivers Qt loads at run
# time, and for SQL Server unixODBC and FreeTDS, are named here.
set(CPACK_PACKAGE_NAME salestotals)
set(CPACK_PACKAGE_VENDOR "salestotals developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "weekly, monthly and yearly sales totals of the ERP database")
set(CPACK_PACKAGE_DESCRIPTION "\
salestotals totals the confirmed sales orders and invoices of the company\n\
database by week, month and year into its summary tables: in one window\n\
(salestotals), or without one for scheduled runs (salestotals-batch, with a\n\
systemd service and a weekly timer, and a daily check of the stored totals\n\
against their sources, installed but not enabled).\n\
This build uses the ${SALESTOTALS_DATABASE} backend; its configuration is compiled in.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
if(SALESTOTALS_DATABASE STREQUAL "sqlserver")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-odbc, unixodbc, tdsodbc")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "krb5-user")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sqlite3")
endif()
# The window's Traditional Chinese texts and its Times New Roman metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${SALESTOTALS_PACKAGING_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The install rules see /usr as the prefix, so the service names /usr/bin/salestotals-batch.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SALESTOTALS_DATABASE "${SALESTOTALS_DATABASE}")
set(CPACK_SALESTOTALS_DATA_SOURCE "${SALESTOTALS_DATA_SOURCE}")
set(CPACK_PROJECT_CONFIG_FILE ${SALESTOTALS_PACKAGING_DIR}/cpack-options.cmake)
set(CPACK_GENERATOR DEB)
include(CPack)
