# velotune_lean_runtime(<target>): <target> links the C++ runtime of the
# compiler's win32 thread model instead of the POSIX one, so that the POSIX
# thread library (about 26 KB, which only the runtime's own locks and
# thread-local storage reach) stays out of the program.
#
# The whole build keeps the POSIX model, which GoogleTest needs: the product
# libraries are built once, and the tests link them as before. That is sound
# for a program whose code makes no use of the runtime's threads (no std::thread,
# std::mutex, call_once or thread_local; it makes its threads with CreateThread):
# the two runtimes differ only there, and a use would fail the link.
set(VELOTUNE_WIN32_RUNTIME_DIR "" CACHE PATH
    "Runtime library folder of the win32 thread model (found from the compiler when empty)")
if(NOT VELOTUNE_WIN32_RUNTIME_DIR)
    string(REGEX REPLACE "-posix$" "-win32" vt_win32_cxx "${CMAKE_CXX_COMPILER}")
    if(NOT vt_win32_cxx STREQUAL CMAKE_CXX_COMPILER AND EXISTS "${vt_win32_cxx}")
        execute_process(COMMAND ${vt_win32_cxx} -print-libgcc-file-name
                        OUTPUT_VARIABLE vt_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(vt_dir "${vt_libgcc}" DIRECTORY)
        if(EXISTS "${vt_dir}/libstdc++.a")
            set(VELOTUNE_WIN32_RUNTIME_DIR "${vt_dir}" CACHE PATH "" FORCE)
        endif()
    endif()
endif()

function(velotune_lean_runtime target)
    if(VELOTUNE_WIN32_RUNTIME_DIR)
        # Searched before the compiler's own folder.
        target_link_options(${target} PRIVATE -L${VELOTUNE_WIN32_RUNTIME_DIR})
    else()
        message(STATUS "${target}: no win32-model runtime found; linked with the POSIX one")
    endif()
endfunction()
