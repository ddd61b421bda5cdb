# One job per register: real host runs of every driver against its simulated register while
# the register's lock is held by another process.
quorvel_add_test(register_lock_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/register_lock_e2e_test.cpp
  LIBS quorvel_plugin Quorvel)
add_dependencies(register_lock_e2e_test quorvel quorvel_elcom quorvel_posnet quorvel_elzab elcom_sim posnet_sim
                 elzab_sim posnet hlapi WinIP)
