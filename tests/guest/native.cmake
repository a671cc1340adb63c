# The guest rig's programs, built static so that they run in a busybox initramfs:
# the tool itself from the tree, and vt_become, which changes the user.
add_executable(velotune_static ${CMAKE_SOURCE_DIR}/tool/main.cpp)
target_link_libraries(velotune_static PRIVATE velotune_cli)
target_link_options(velotune_static PRIVATE -static)
set_target_properties(velotune_static PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/guest
                                                 OUTPUT_NAME velotune)
add_executable(vt_become ${CMAKE_CURRENT_LIST_DIR}/become.c)
target_link_options(vt_become PRIVATE -static)
set_target_properties(vt_become PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/guest)
