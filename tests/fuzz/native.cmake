# libFuzzer target over the drive layer's plain functions.
# Included by the native build; the binary lands in its tests/native folder.
vt_fuzzer(fuzz_drive ${CMAKE_CURRENT_LIST_DIR}/fuzz_drive.cpp
                     ${CMAKE_SOURCE_DIR}/drive/drivecommands.cpp)
