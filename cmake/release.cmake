# What makes a release trustworthy, for both builds:
#  - no build folder in what ships (file names in the objects are relative);
#  - every time stamp from SOURCE_DATE_EPOCH, the commit's date (scripts/build.sh
#    exports it; a plain CMake build takes it from git, or 0 outside a checkout);
#  - the commit the tool names in --version (<build>/generated/velotune_commit.h,
#    rewritten only when the commit changes);
#  - Windows: each shipped program stripped after linking (the unstripped copy
#    stays in <build>/symbols, not shipped) and, when the environment names a
#    certificate, signed.

add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(VELOTUNE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE VELOTUNE_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE vt_git_rc)
    if(NOT vt_git_rc EQUAL 0 OR VELOTUNE_SOURCE_DATE_EPOCH STREQUAL "")
        set(VELOTUNE_SOURCE_DATE_EPOCH 0)
    endif()
endif()
if(NOT VELOTUNE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number: '${VELOTUNE_SOURCE_DATE_EPOCH}'")
endif()

# Written now, so that every target that compiles the tool's sources finds it,
# and again at each build, for the targets that name the commit.
set(VELOTUNE_COMMIT_HEADER ${CMAKE_BINARY_DIR}/generated/velotune_commit.h)
set(SOURCE ${CMAKE_SOURCE_DIR})
set(OUTPUT ${VELOTUNE_COMMIT_HEADER})
include(${CMAKE_SOURCE_DIR}/cmake/commit.cmake)
include_directories(${CMAKE_BINARY_DIR}/generated)
add_custom_target(velotune_commit
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR} -DOUTPUT=${VELOTUNE_COMMIT_HEADER}
            -P ${CMAKE_SOURCE_DIR}/cmake/commit.cmake
    BYPRODUCTS ${VELOTUNE_COMMIT_HEADER}
    VERBATIM)

# velotune_name_commit(<target>): <target> names the commit it is built from.
function(velotune_name_commit target)
    add_dependencies(${target} velotune_commit)
endfunction()

# cpack run by hand, outside scripts/build.sh, dates the package's files the same
# (read by the package's cpack configuration).
set(VELOTUNE_CPACK_DATE_FILE ${CMAKE_BINARY_DIR}/cpack-date.cmake)
file(CONFIGURE OUTPUT ${VELOTUNE_CPACK_DATE_FILE} CONTENT [[
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(ENV{SOURCE_DATE_EPOCH} @VELOTUNE_SOURCE_DATE_EPOCH@)
endif()
]] @ONLY)

if(NOT WIN32)
    return()
endif()

# PE headers carry no link time.
add_link_options(-Wl,--no-insert-timestamp)

# The certificate, from the environment of each configuration run.
set(VELOTUNE_SIGN_PKCS12 "$ENV{VELOTUNE_SIGN_PKCS12}")
set(VELOTUNE_SIGN_ENV "")
if(VELOTUNE_SIGN_PKCS12)
    if(NOT EXISTS "${VELOTUNE_SIGN_PKCS12}")
        message(FATAL_ERROR "VELOTUNE_SIGN_PKCS12: no such file: ${VELOTUNE_SIGN_PKCS12}")
    endif()
    find_program(VELOTUNE_OSSLSIGNCODE osslsigncode REQUIRED)
    set(VELOTUNE_SIGN_ENV VELOTUNE_SIGN_PKCS12=${VELOTUNE_SIGN_PKCS12})
    foreach(v VELOTUNE_SIGN_PASSWORD_FILE VELOTUNE_SIGN_TIMESTAMP_URL)
        if(NOT "$ENV{${v}}" STREQUAL "")
            list(APPEND VELOTUNE_SIGN_ENV "${v}=$ENV{${v}}")
        endif()
    endforeach()
    message(STATUS "Signed build: ${VELOTUNE_SIGN_PKCS12}")
else()
    message(STATUS "Unsigned build (no certificate in VELOTUNE_SIGN_PKCS12)")
endif()
set(VELOTUNE_SIGN_SCRIPT ${CMAKE_SOURCE_DIR}/installer/sign.sh)
set(VELOTUNE_SYMBOLS_DIR ${CMAKE_BINARY_DIR}/symbols)

# velotune_ship(<target>): a program that ships. After each link its
# unstripped copy goes to symbols/, the program itself is stripped and, with a
# certificate, signed.
function(velotune_ship target)
    set(cmds
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VELOTUNE_SYMBOLS_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${VELOTUNE_SYMBOLS_DIR}/
        # strip writes a new PE time stamp: the commit's, not the clock's.
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VELOTUNE_SOURCE_DATE_EPOCH}
                ${CMAKE_STRIP} $<TARGET_FILE:${target}>)
    if(VELOTUNE_SIGN_PKCS12)
        list(APPEND cmds COMMAND ${CMAKE_COMMAND} -E env ${VELOTUNE_SIGN_ENV}
             ${VELOTUNE_SIGN_SCRIPT} $<TARGET_FILE:${target}>)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD ${cmds} VERBATIM)
endfunction()
