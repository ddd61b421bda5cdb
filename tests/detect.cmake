# `quorvel detect` end to end against the simulated registers, and `quorvel drivers`.
quorvel_add_test(detect_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/detect_e2e_test.cpp)
add_dependencies(detect_e2e_test quorvel quorvel_elcom quorvel_elzab quorvel_posnet quorvel_skeleton elcom_sim
                 elzab_sim posnet_sim posnet hlapi WinIP)
