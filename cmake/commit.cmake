# Writes OUTPUT, the header that names the commit SOURCE is checked out at:
#   #define VELOTUNE_COMMIT_STR "commit 1a2b3c4"   (or "unknown commit")
# The file is rewritten only when its text changes, so that an unchanged commit
# rebuilds nothing. A source tree unpacked inside some other checkout is not
# that checkout's commit.
execute_process(COMMAND git -C ${SOURCE} rev-parse --show-toplevel --short=7 HEAD
                OUTPUT_VARIABLE vt_out OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE vt_rc)
string(REPLACE "\n" ";" vt_out "${vt_out}")
list(LENGTH vt_out vt_n)
set(vt_commit "")
if(vt_rc EQUAL 0 AND vt_n EQUAL 2)
    list(GET vt_out 0 vt_top)
    list(GET vt_out 1 vt_commit)
    file(REAL_PATH ${SOURCE} vt_source)
    file(REAL_PATH ${vt_top} vt_top)
    if(NOT vt_top STREQUAL vt_source)
        set(vt_commit "")
    endif()
endif()
if(vt_commit MATCHES "^[0-9a-f]+$")
    set(vt_text "commit ${vt_commit}")
else()
    set(vt_text "unknown commit")
endif()
set(vt_content "// Written by the build: the commit this program was built from.\n#pragma once\n#define VELOTUNE_COMMIT_STR \"${vt_text}\"\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} vt_old)
    if(vt_old STREQUAL vt_content)
        return()
    endif()
endif()
file(WRITE ${OUTPUT} "${vt_content}")
