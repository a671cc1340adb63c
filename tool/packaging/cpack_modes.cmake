# Run by cpack once it has made the package (CPACK_POST_BUILD_SCRIPTS): the
# members of the .deb's outer ar archive (debian-binary, control.tar.gz,
# data.tar.gz) carry the modes of the files cpack wrote them from, and so the
# builder's umask. Each gets 0644, as dpkg-deb writes them, so that the package
# does not depend on who built it. (The trees inside have their modes set.)
foreach(vt_deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT vt_deb MATCHES "\\.deb$")
        continue()
    endif()
    file(READ "${vt_deb}" vt_magic LIMIT 8)
    if(NOT vt_magic STREQUAL "!<arch>\n")
        message(FATAL_ERROR "not an ar archive: ${vt_deb}")
    endif()
    file(SIZE "${vt_deb}" vt_size)
    # 60-byte member headers: name 16, date 12, uid 6, gid 6, mode 8, size 10,
    # "`\n"; each member padded to an even length.
    set(vt_offset 8)
    while(vt_offset LESS vt_size)
        file(READ "${vt_deb}" vt_header OFFSET ${vt_offset} LIMIT 60)
        string(SUBSTRING "${vt_header}" 48 10 vt_member_size)
        string(STRIP "${vt_member_size}" vt_member_size)
        if(NOT vt_member_size MATCHES "^[0-9]+$")
            message(FATAL_ERROR "${vt_deb}: no ar member header at ${vt_offset}")
        endif()
        math(EXPR vt_mode_offset "${vt_offset} + 40")
        execute_process(COMMAND printf "100644  "
                        COMMAND dd "of=${vt_deb}" bs=1 seek=${vt_mode_offset} conv=notrunc
                        RESULT_VARIABLE vt_rc ERROR_QUIET)
        if(NOT vt_rc EQUAL 0)
            message(FATAL_ERROR "${vt_deb}: cannot set the mode of a member: ${vt_rc}")
        endif()
        math(EXPR vt_offset "${vt_offset} + 60 + ${vt_member_size} + ${vt_member_size} % 2")
    endwhile()
endforeach()
