# The command lines of every program the build makes (refused options, --version), and the
# demo's simulators, which end with the demo however it ends.
quorvel_add_test(command_line_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/command_line_e2e_test.cpp LIBS quorvel_version)
add_dependencies(command_line_e2e_test quorvel Quorvel quorvel_elcom quorvel_posnet elcom_sim elzab_sim posnet_sim
  skeleton_sim posnet hlapi WinIP)
