# Read by cpack: refuse a package whose program would look for its database in /usr/bin.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_SALESTOTALS_DATABASE STREQUAL "embedded"
   AND NOT IS_ABSOLUTE "${CPACK_SALESTOTALS_DATA_SOURCE}")
    message(FATAL_ERROR
        "an embedded package needs an absolute SALESTOTALS_DATA_SOURCE, e.g. "
        "-DSALESTOTALS_DATA_SOURCE=/var/lib/salestotals/QVT.sqlite, not "
        "'${CPACK_SALESTOTALS_DATA_SOURCE}' (it would be taken beside /usr/bin/salestotals)")
endif()
