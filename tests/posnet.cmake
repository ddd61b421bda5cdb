# POSNET driver: status texts and result-buffer mappings, the link over a table of its own in
# place of the vendor libraries, the configuration form, and the plug-in end to end against the
# stand-in libraries and the simulated register.
quorvel_add_test(posnet_records_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_records_test.cpp LIBS posnet_driver)
quorvel_add_test(posnet_link_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_link_test.cpp LIBS posnet_driver)
quorvel_add_test(posnet_form_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_form_test.cpp LIBS posnet_driver)

quorvel_add_test(posnet_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_e2e_test.cpp LIBS quorvel_plugin Quorvel)
add_dependencies(posnet_e2e_test quorvel_posnet posnet_sim posnet hlapi quorvel)

# The register's limits: every kind of goods it cannot take as given, in one job per text
# encoding, compared with the expected register state and result files.
quorvel_add_test(posnet_limits_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_limits_e2e_test.cpp LIBS quorvel_plugin Quorvel)
target_link_libraries(posnet_limits_e2e_test PRIVATE posnet_driver)
add_dependencies(posnet_limits_e2e_test quorvel_posnet posnet_sim posnet hlapi quorvel)
