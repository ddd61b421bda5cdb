# The dump decoder of the `quorvel` program, tested as a function (its source compiled in);
# the dumps it reads are written by the core's own writer.
quorvel_add_test(serial_dump_command_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/serial_dump_command_test.cpp ${CMAKE_SOURCE_DIR}/host/dump_command.cpp
  LIBS Quorvel elcom_codec)
