# Sending only what changed: `quorvel run --record` against simulated Elcom registers.
quorvel_add_test(goods_record_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/goods_record_e2e_test.cpp LIBS quorvel_plugin Quorvel)
add_dependencies(goods_record_e2e_test quorvel_elcom elcom_sim quorvel)
target_link_libraries(goods_record_e2e_test PRIVATE elcom_driver)
