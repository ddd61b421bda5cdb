# `quorvel run -v`: the readable trace of each driver family, real host runs against the
# simulated registers.
quorvel_add_test(trace_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/trace_e2e_test.cpp
  LIBS elcom_driver elzab_driver posnet_driver quorvel_plugin Quorvel)
add_dependencies(trace_e2e_test quorvel quorvel_elcom quorvel_posnet quorvel_elzab elcom_sim posnet_sim elzab_sim
                 posnet hlapi WinIP)
