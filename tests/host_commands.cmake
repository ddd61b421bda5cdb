# The run, config and report commands of the `quorvel` program, through the program.
quorvel_add_test(host_commands_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_commands_e2e_test.cpp LIBS Quorvel)
add_dependencies(host_commands_e2e_test quorvel Quorvel quorvel_elcom)
