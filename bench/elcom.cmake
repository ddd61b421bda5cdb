# The Elcom link against the simulated register. It links the shared core (not the static copy
# the other benchmarks use) because the plug-in it loads shares the core's virtual clock.
add_executable(elcom_link_bench ${CMAKE_CURRENT_SOURCE_DIR}/elcom_link_perf.cpp)
target_include_directories(elcom_link_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(elcom_link_bench PRIVATE elcom_driver)
target_compile_definitions(elcom_link_bench PRIVATE
  QUORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin" QUORVEL_LIB_DIR="${CMAKE_BINARY_DIR}/lib")
add_dependencies(elcom_link_bench quorvel_elcom elcom_sim)
