# The tool's native tests: the seam test (GoogleTest, run with the SG_IO
# emulator preloaded) and a libFuzzer target over its argument parsing.
# Included by the native build; the binaries land in its tests/native folder.
if(NOT TARGET gtest_main)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
add_executable(tool_linux_test ${CMAKE_CURRENT_LIST_DIR}/tool_linux_test.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/tool_plain_test.cpp)
target_link_libraries(tool_linux_test PRIVATE velotune_cli gtest_main)

vt_fuzzer(fuzz_tool ${CMAKE_CURRENT_LIST_DIR}/fuzz_tool.cpp
                    ${CMAKE_SOURCE_DIR}/tool/args.cpp
                    ${CMAKE_SOURCE_DIR}/tool/cli.cpp
                    ${CMAKE_SOURCE_DIR}/tool/config.cpp
                    ${CMAKE_SOURCE_DIR}/tool/drivenames_linux.cpp
                    ${CMAKE_SOURCE_DIR}/tool/mmc.cpp
                    ${CMAKE_SOURCE_DIR}/tool/speed.cpp
                    ${CMAKE_SOURCE_DIR}/tool/output.cpp
                    ${CMAKE_SOURCE_DIR}/tool/probe.cpp
                    ${CMAKE_SOURCE_DIR}/tool/result.cpp
                    ${CMAKE_SOURCE_DIR}/drive/drivecommands.cpp)
