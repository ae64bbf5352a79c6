# Run by cmake --install (and cpack): the service names salestotals-batch where this install
# puts it, so the units follow --prefix.
set(SALESTOTALS_BINDIR "${CMAKE_INSTALL_PREFIX}/${SALESTOTALS_INSTALL_BINDIR}")
# The run, and the check of its totals (--verify); both timers installed, not enabled.
foreach(unit salestotals-batch salestotals-batch-verify)
    configure_file("${SALESTOTALS_PACKAGING_DIR}/${unit}.service.in"
                   "${SALESTOTALS_UNITS_OUT}/${unit}.service" @ONLY)
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
         FILES "${SALESTOTALS_UNITS_OUT}/${unit}.service"
               "${SALESTOTALS_PACKAGING_DIR}/${unit}.timer")
endforeach()

# The site configuration and the services' environment: conffiles under /etc for the
# package's /usr, under the prefix for any other (a scratch install never touches /etc).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(etc /etc/salestotals)
else()
    set(etc "${CMAKE_INSTALL_PREFIX}/etc/salestotals")
endif()
file(INSTALL DESTINATION "${etc}" TYPE FILE
     FILES "${SALESTOTALS_SITE_CONFIG_OUT}" "${SALESTOTALS_PACKAGING_DIR}/environment")
