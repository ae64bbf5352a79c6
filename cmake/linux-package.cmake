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

# The site configuration, shipped with every key commented out beside its built-in value.
if(SALESTOTALS_DATABASE STREQUAL "sqlserver")
    set(conf_server "${SALESTOTALS_DATA_SOURCE}")
    set(conf_database_file "QVT.sqlite")
else()
    set(conf_server "")
    set(conf_database_file "${SALESTOTALS_DATA_SOURCE}")
endif()
if(odbc_options_given)
    set(conf_odbc_options "${SALESTOTALS_ODBC_OPTIONS}")
else()
    set(conf_odbc_options "")
endif()
get_filename_component(SALESTOTALS_MAN_SITE_DIR "${SALESTOTALS_SITE_CONFIG}" DIRECTORY)
set(SALESTOTALS_MAN_SITE_CONFIG "${SALESTOTALS_SITE_CONFIG}")
configure_file(${SALESTOTALS_PACKAGING_DIR}/salestotals.conf.in ${packaging_out}/salestotals.conf
               @ONLY)
set(SALESTOTALS_MAN_DATABASE_FILE "${conf_database_file}")
if(NOT IS_ABSOLUTE "${SALESTOTALS_MAN_DATABASE_FILE}")
    set(SALESTOTALS_MAN_DATABASE_FILE "${CMAKE_INSTALL_FULL_BINDIR}/${conf_database_file}")
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
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
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
install(FILES README.md CHANGELOG.md CONTRIBUTING.md sql/sqlserver/create_summary_tables.sql
              ${SALESTOTALS_PACKAGING_DIR}/copyright ${packaging_out}/changelog.gz
        DESTINATION ${docdir})
# The README links its pages in docs/, CONTRIBUTING.md and CHANGELOG.md, which sit beside it.
install(DIRECTORY docs/ DESTINATION ${docdir}/docs)
install(FILES sql/embedded/schema.sql DESTINATION ${docdir})
install(CODE "
    set(SALESTOTALS_PACKAGING_DIR \"${SALESTOTALS_PACKAGING_DIR}\")
    set(SALESTOTALS_SITE_CONFIG_OUT \"${packaging_out}/salestotals.conf\")
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
The company database is SQL Server through ODBC (integrated login), or an\n\
embedded SQLite file; /etc/salestotals/salestotals.conf chooses.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Both backends: Qt's two SQL drivers are always there. The driver manager comes with Qt's
# ODBC driver; the FreeTDS driver is recommended, not required, since a site may use
# Microsoft's instead; Kerberos' tools only help to look at a login.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite, libqt6sql6-odbc, unixodbc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "krb5-user, sqlite3")
# The window's Traditional Chinese texts and its Times New Roman metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, fonts-noto-cjk, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${SALESTOTALS_PACKAGING_DIR}/postinst
    ${SALESTOTALS_PACKAGING_DIR}/conffiles)
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
