# Elcom driver: the wire codec, the simulated register, and the plug-in end to end.
quorvel_add_test(elcom_codec_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_codec_test.cpp LIBS elcom_codec)
quorvel_add_test(elcom_records_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_records_test.cpp LIBS elcom_codec)
quorvel_add_test(elcom_charset_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_charset_test.cpp LIBS elcom_codec Quorvel)

quorvel_add_test(elcom_sim_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_sim_test.cpp LIBS elcom_codec)
add_dependencies(elcom_sim_test elcom_sim)

foreach(name elcom_e2e_test elcom_goods_test)
  quorvel_add_test(${name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp LIBS quorvel_plugin Quorvel)
  add_dependencies(${name} quorvel_elcom elcom_sim quorvel)
endforeach()

quorvel_add_test(elcom_limits_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_limits_e2e_test.cpp LIBS quorvel_plugin Quorvel)
add_dependencies(elcom_limits_e2e_test quorvel_elcom elcom_sim quorvel)
target_link_libraries(elcom_limits_e2e_test PRIVATE elcom_driver)
