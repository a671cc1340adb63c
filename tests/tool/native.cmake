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

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_tool ${CMAKE_CURRENT_LIST_DIR}/fuzz_tool.cpp
                             ${CMAKE_SOURCE_DIR}/tool/args.cpp
                             ${CMAKE_SOURCE_DIR}/tool/cli.cpp
                             ${CMAKE_SOURCE_DIR}/tool/config.cpp
                             ${CMAKE_SOURCE_DIR}/tool/drivenames_linux.cpp
                             ${CMAKE_SOURCE_DIR}/tool/output.cpp
                             ${CMAKE_SOURCE_DIR}/tool/probe.cpp
                             ${CMAKE_SOURCE_DIR}/tool/result.cpp
                             ${CMAKE_SOURCE_DIR}/drive/drivecommands.cpp
                             ${CMAKE_SOURCE_DIR}/drive/discovery.cpp)
    target_include_directories(fuzz_tool PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_tool PRIVATE -g -O1 -fsanitize=fuzzer,address,undefined
                                             -fno-sanitize-recover=undefined)
    target_link_options(fuzz_tool PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
