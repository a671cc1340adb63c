# Read by cpack when it starts (CPACK_PROJECT_CONFIG_FILE): the files' dates
# from the commit, for a cpack run by hand as well;
include("${CPACK_VT_DATE_FILE}" OPTIONAL)
# and the package's
# Depends from the libraries the program links, by dpkg-shlibdeps (dpkg-dev).
# CPack's own lookup would need the 'file' program as well, which dpkg-dev does
# not bring.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_DEBIAN_PACKAGE_DEPENDS)
    set(vt_dir "${CPACK_VT_BINARY_DIR}/shlibdeps")
    file(REMOVE_RECURSE "${vt_dir}")
    file(MAKE_DIRECTORY "${vt_dir}/debian")
    file(WRITE "${vt_dir}/debian/control" "")
    execute_process(COMMAND dpkg-shlibdeps -O --ignore-missing-info "${CPACK_VT_PROGRAM}"
                    WORKING_DIRECTORY "${vt_dir}" OUTPUT_VARIABLE vt_out ERROR_VARIABLE vt_err
                    RESULT_VARIABLE vt_rc)
    if(NOT vt_rc EQUAL 0 OR NOT vt_out MATCHES "shlibs:Depends=([^\n]+)")
        message(FATAL_ERROR "dpkg-shlibdeps ${CPACK_VT_PROGRAM}: ${vt_rc} ${vt_err}")
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
