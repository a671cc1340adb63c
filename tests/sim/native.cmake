# The SG_IO emulator: an LD_PRELOAD library that plays optical drives under Wine.
add_library(vtsim_sgio SHARED ${CMAKE_CURRENT_LIST_DIR}/sgio_preload.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/simdrive.cpp)
target_link_libraries(vtsim_sgio PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(vtsim_sgio PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim)

# vtsim_send: one SG_IO command from the shell, for checking the emulator.
add_executable(vtsim_send ${CMAKE_CURRENT_LIST_DIR}/sgio_send.cpp)
set_target_properties(vtsim_send PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim)
