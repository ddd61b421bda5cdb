# Elzab driver: its text files as plain functions, its configuration form, and the plug-in end
# to end through the host program against the simulated WinIP.
quorvel_add_test(elzab_files_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_files_test.cpp LIBS elzab_driver)
quorvel_add_test(elzab_form_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_form_test.cpp LIBS elzab_driver)

quorvel_add_test(elzab_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_e2e_test.cpp
  LIBS quorvel_plugin Quorvel)
target_compile_definitions(elzab_e2e_test PRIVATE QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
add_dependencies(elzab_e2e_test quorvel_elzab quorvel WinIP elzab_sim)

# One job of every kind of goods the register cannot hold as given, compared byte for byte with
# tests/data/elzab_limits/.
quorvel_add_test(elzab_limits_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_limits_e2e_test.cpp
  LIBS elzab_driver quorvel_plugin Quorvel)
target_compile_definitions(elzab_limits_e2e_test PRIVATE QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins"
  QUORVEL_ELZAB_LIMITS_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/elzab_limits")
add_dependencies(elzab_limits_e2e_test quorvel_elzab quorvel WinIP elzab_sim)
