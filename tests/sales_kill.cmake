# Sales read-outs of every driver interrupted at each write, close, fsync and rename of the
# program (by a preloaded library that counts them and raises a signal at the chosen one) and at
# each answer of the simulated register, then retried: no sale lost, none delivered twice.
add_library(quorvel_fault_preload MODULE ${CMAKE_CURRENT_SOURCE_DIR}/support/fault_preload.c)
set_target_properties(quorvel_fault_preload PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testlib)
target_link_libraries(quorvel_fault_preload PRIVATE ${CMAKE_DL_LIBS})

quorvel_add_test(sales_kill_matrix_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sales_kill_matrix_test.cpp
  LIBS quorvel_plugin Quorvel)
target_compile_definitions(sales_kill_matrix_test PRIVATE
  QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins"
  QUORVEL_FAULT_PRELOAD="$<TARGET_FILE:quorvel_fault_preload>")
add_dependencies(sales_kill_matrix_test quorvel_fault_preload quorvel Quorvel quorvel_elcom elcom_sim quorvel_elzab
  WinIP elzab_sim quorvel_posnet posnet_sim posnet hlapi)
