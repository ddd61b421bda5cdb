# The simulated Elzab register: the WinIP stand-in called through dlopen, and elzab_sim.
quorvel_add_test(elzab_sim_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_sim_test.cpp LIBS elzab_register ${CMAKE_DL_LIBS})
target_compile_definitions(elzab_sim_test PRIVATE QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
add_dependencies(elzab_sim_test WinIP elzab_sim)

quorvel_add_test(elzab_demo_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_demo_test.cpp)
add_dependencies(elzab_demo_test WinIP elzab_sim quorvel_elzab quorvel Quorvel)
