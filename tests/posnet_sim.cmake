# POSNET stand-ins and the simulated register: the frame codec, and the libraries against a
# running posnet_sim over TCP and over a pseudo-terminal.
quorvel_add_test(posnet_sim_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_sim_test.cpp LIBS posnet hlapi posnet_frame)
set_target_properties(posnet_sim_test PROPERTIES BUILD_RPATH ${CMAKE_BINARY_DIR}/standins)
add_dependencies(posnet_sim_test posnet_sim)

quorvel_add_test(posnet_standin_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_standin_e2e_test.cpp LIBS posnet_frame)
add_dependencies(posnet_standin_e2e_test quorvel Quorvel quorvel_posnet posnet_sim posnet hlapi)
