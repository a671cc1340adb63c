# libFuzzer target over the launcher's plain functions.
# Included by the native build; the binary lands in its tests/native folder.
vt_fuzzer(fuzz_launcher ${CMAKE_CURRENT_LIST_DIR}/fuzz_launcher.cpp
                        ${CMAKE_SOURCE_DIR}/launcher/launcherlogic.cpp)
