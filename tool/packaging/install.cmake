# Installs the files that name installed paths, written for the prefix being
# installed into (cmake --install: /usr/local by default; the package: /usr).
# Runs at install time with VT_SOURCE, VT_STAGE, VT_VERSION, VT_MAINTAINER,
# VT_COPYRIGHT and VT_COMMIT_EPOCH set by the build.
#
#   prefix      configuration  udev rule              systemd unit
#   /usr        /etc           /lib/udev/rules.d      /lib/systemd/system
#   /usr/local  /etc           /etc/udev/rules.d      /usr/local/lib/systemd/system
#   other P     P/etc          P/lib/udev/rules.d     P/lib/systemd/system
# udev reads rules from /etc and /lib only, and velotune reads /etc/velotune.conf
# unless told otherwise, so a local install puts those two under /etc.
set(vt_prefix "${CMAKE_INSTALL_PREFIX}")
set(VT_BINDIR "${vt_prefix}/bin")
set(VT_DOCDIR "${vt_prefix}/share/doc/velotune")
set(VT_MANDIR "${vt_prefix}/share/man/man1")
set(VT_COMPLETIONSDIR "${vt_prefix}/share/bash-completion/completions")
if(vt_prefix STREQUAL "/usr")
    set(VT_SYSCONFDIR /etc)
    set(VT_UDEVRULESDIR /lib/udev/rules.d)
    set(VT_UNITDIR /lib/systemd/system)
elseif(vt_prefix STREQUAL "/usr/local")
    set(VT_SYSCONFDIR /etc)
    set(VT_UDEVRULESDIR /etc/udev/rules.d)
    set(VT_UNITDIR /usr/local/lib/systemd/system)
else()
    set(VT_SYSCONFDIR "${vt_prefix}/etc")
    set(VT_UDEVRULESDIR "${vt_prefix}/lib/udev/rules.d")
    set(VT_UNITDIR "${vt_prefix}/lib/systemd/system")
endif()
set(VT_CONFIG "${VT_SYSCONFDIR}/velotune.conf")
set(VT_CONFIG_OPTION "")
if(NOT VT_CONFIG STREQUAL "/etc/velotune.conf")
    set(VT_CONFIG_OPTION " --config ${VT_CONFIG}")
endif()

# Dates come from the source, never from the day of the build:
# SOURCE_DATE_EPOCH when set, else the last commit's date, else the man page's.
# (string(TIMESTAMP) reads the variable from the environment; the install, which
# may run inside cpack, gets its environment back unchanged.)
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    if(VT_COMMIT_EPOCH MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} "${VT_COMMIT_EPOCH}")
    else()
        file(TIMESTAMP "${VT_SOURCE}/velotune.1.in" vt_epoch "%s" UTC)
        set(ENV{SOURCE_DATE_EPOCH} "${vt_epoch}")
    endif()
    set(vt_unset_epoch TRUE)
endif()
string(TIMESTAMP VT_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VT_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(vt_unset_epoch)
    unset(ENV{SOURCE_DATE_EPOCH})
endif()

set(vt_out "${VT_STAGE}${vt_prefix}")
file(MAKE_DIRECTORY "${vt_out}")
configure_file("${VT_SOURCE}/velotune.1.in" "${vt_out}/velotune.1" @ONLY)
configure_file("${VT_SOURCE}/changelog.in" "${vt_out}/changelog" @ONLY)
configure_file("${VT_SOURCE}/copyright.in" "${vt_out}/copyright" @ONLY)
configure_file("${VT_SOURCE}/velotune-apply@.service.in" "${vt_out}/velotune-apply@.service" @ONLY)
# gzip -n: no name and no time stamp in the header, so the bytes depend on the
# text alone.
foreach(vt_name velotune.1 changelog)
    execute_process(COMMAND gzip -9 -n -c "${vt_out}/${vt_name}"
                    OUTPUT_FILE "${vt_out}/${vt_name}.gz" RESULT_VARIABLE vt_rc)
    if(NOT vt_rc EQUAL 0)
        message(FATAL_ERROR "gzip ${vt_name}: ${vt_rc}")
    endif()
endforeach()

# Every folder the install makes gets 0755 and every file its mode below,
# whatever the umask of whoever installs or packs: file(INSTALL) makes missing
# folders through mkdir, which the umask cuts. Without DESTDIR, folders that
# exist already are left as they are; under a DESTDIR (a staging tree, such as
# cpack's, which makes the prefix's folder itself) every folder on the way is
# set. The program's folder too: this script runs before the program is
# installed.
set(vt_dir_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${vt_dir_mode})
set(vt_destdir "$ENV{DESTDIR}")
string(REGEX REPLACE "/+$" "" vt_destdir "${vt_destdir}")
foreach(vt_dir "${VT_BINDIR}" "${VT_MANDIR}" "${VT_DOCDIR}" "${VT_UNITDIR}" "${VT_UDEVRULESDIR}"
               "${VT_COMPLETIONSDIR}" "${VT_SYSCONFDIR}")
    set(vt_path "${vt_destdir}${vt_dir}")
    set(vt_dirs "")
    while(NOT vt_path STREQUAL vt_destdir AND NOT vt_path STREQUAL "/"
          AND (vt_destdir OR NOT EXISTS "${vt_path}"))
        list(PREPEND vt_dirs "${vt_path}")
        get_filename_component(vt_path "${vt_path}" DIRECTORY)
    endwhile()
    foreach(vt_path IN LISTS vt_dirs)
        file(MAKE_DIRECTORY "${vt_path}")
        file(CHMOD "${vt_path}" PERMISSIONS ${vt_dir_mode})
    endforeach()
endforeach()
function(vt_install dir)
    file(INSTALL DESTINATION "${dir}" TYPE FILE
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES ${ARGN})
endfunction()
vt_install("${VT_MANDIR}" "${vt_out}/velotune.1.gz")
vt_install("${VT_DOCDIR}" "${vt_out}/changelog.gz" "${vt_out}/copyright"
           "${VT_SOURCE}/README.Debian")
vt_install("${VT_UNITDIR}" "${vt_out}/velotune-apply@.service")
vt_install("${VT_UDEVRULESDIR}" "${VT_SOURCE}/60-velotune.rules")
file(INSTALL DESTINATION "${VT_COMPLETIONSDIR}" TYPE FILE RENAME velotune
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${VT_SOURCE}/velotune.bash-completion")
# The configuration is the administrator's: a new install writes the commented
# example, a later one leaves an existing file alone.
if(EXISTS "$ENV{DESTDIR}${VT_CONFIG}")
    message(STATUS "Kept: $ENV{DESTDIR}${VT_CONFIG}")
else()
    vt_install("${VT_SYSCONFDIR}" "${VT_SOURCE}/velotune.conf")
endif()
