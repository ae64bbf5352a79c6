# Run by cmake --install (and cpack): the service names salestotals-batch where this install
# puts it, so the units follow --prefix.
set(SALESTOTALS_BINDIR "${CMAKE_INSTALL_PREFIX}/${SALESTOTALS_INSTALL_BINDIR}")
configure_file("${SALESTOTALS_PACKAGING_DIR}/salestotals-batch.service.in"
               "${SALESTOTALS_UNITS_OUT}/salestotals-batch.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${SALESTOTALS_UNITS_OUT}/salestotals-batch.service"
           "${SALESTOTALS_PACKAGING_DIR}/salestotals-batch.timer")
