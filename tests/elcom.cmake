# Elcom driver: the wire codec, the simulated register, and the plug-in end to end.
if(TARGET elcom_codec)
  quorvel_add_test(elcom_codec_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_codec_test.cpp LIBS elcom_codec)
  quorvel_add_test(elcom_records_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_records_test.cpp LIBS elcom_codec)
endif()
if(TARGET elcom_sim)
  quorvel_add_test(elcom_sim_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_sim_test.cpp LIBS elcom_codec)
  add_dependencies(elcom_sim_test elcom_sim)
endif()
