# Named registers, the one-line operations and job files from a price list, through the program
# and the simulated Elcom and POSNET registers.
quorvel_add_test(registers_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/registers_e2e_test.cpp
  LIBS elcom_driver posnet_driver quorvel_plugin Quorvel)
add_dependencies(registers_e2e_test quorvel quorvel_elcom quorvel_posnet elcom_sim posnet_sim posnet hlapi)
