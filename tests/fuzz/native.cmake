# libFuzzer target over the drive layer's plain functions (clang only).
# Included by the native build; the binary lands in its tests/native folder.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_drive
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_drive.cpp
        ${CMAKE_SOURCE_DIR}/drive/drivecommands.cpp)
    target_include_directories(fuzz_drive PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_drive PRIVATE -g -O1 -fsanitize=fuzzer,address,undefined
                                              -fno-sanitize-recover=undefined)
    target_link_options(fuzz_drive PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
