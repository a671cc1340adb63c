# libFuzzer target over the launcher's plain functions (clang only).
# Included by the native build; the binary lands in its tests/native folder.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_launcher
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_launcher.cpp
        ${CMAKE_SOURCE_DIR}/launcher/launcherlogic.cpp)
    target_include_directories(fuzz_launcher PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_launcher PRIVATE -g -O1 -fsanitize=fuzzer,address,undefined
                                                 -fno-sanitize-recover=undefined)
    target_link_options(fuzz_launcher PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
