# The dry run of every driver end to end (against the simulators and stand-ins), and the
# README's field tables against what the drivers state.
quorvel_add_test(dry_run_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dry_run_e2e_test.cpp LIBS elcom_driver posnet_driver quorvel_plugin Quorvel)
target_compile_definitions(dry_run_e2e_test PRIVATE QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
add_dependencies(dry_run_e2e_test quorvel quorvel_man quorvel_skeleton skeleton_sim quorvel_elcom elcom_sim quorvel_elzab WinIP
                 elzab_sim quorvel_posnet posnet_sim posnet hlapi)
