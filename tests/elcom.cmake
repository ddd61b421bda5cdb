# Elcom driver: the wire codec, the simulated register, and the plug-in end to end.
if(TARGET elcom_codec)
  quorvel_add_test(elcom_codec_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_codec_test.cpp LIBS elcom_codec)
  quorvel_add_test(elcom_records_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elcom_records_test.cpp LIBS elcom_codec)
endif()
