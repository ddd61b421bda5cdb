# Parts of the `quorvel` program tested as functions (their sources compiled in).
quorvel_add_test(host_progress_bar_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host_progress_bar_test.cpp ${CMAKE_SOURCE_DIR}/host/progress_bar.cpp
  ${CMAKE_SOURCE_DIR}/platform/module.cpp ${CMAKE_SOURCE_DIR}/platform/process.cpp
  LIBS ${CMAKE_DL_LIBS})
