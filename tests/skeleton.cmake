# The skeleton driver end to end: the host program, the plug-in and its simulated register.
# (Its exports and description are checked by plugin_contract_test with every other driver.)
quorvel_add_test(skeleton_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/skeleton_e2e_test.cpp LIBS Quorvel)
add_dependencies(skeleton_e2e_test quorvel_skeleton skeleton_sim quorvel)
