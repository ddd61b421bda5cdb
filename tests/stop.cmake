# Stopping a running job by signal: `quorvel run` against every driver's simulated register.
quorvel_add_test(stop_signal_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/stop_signal_e2e_test.cpp
  LIBS quorvel_plugin Quorvel)
target_compile_definitions(stop_signal_e2e_test PRIVATE QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
add_dependencies(stop_signal_e2e_test quorvel quorvel_elcom elcom_sim quorvel_elzab WinIP elzab_sim quorvel_posnet
  posnet_sim posnet hlapi)
