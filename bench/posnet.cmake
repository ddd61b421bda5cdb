# The POSNET driver through the stand-in libraries against the simulated register on a
# pseudo-terminal: import and sales read-out of a full goods base, each job in its own
# `quorvel run`.
add_executable(posnet_link_bench ${CMAKE_CURRENT_SOURCE_DIR}/posnet_link_perf.cpp)
target_compile_definitions(posnet_link_bench PRIVATE
  QUORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin" QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
target_include_directories(posnet_link_bench PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(posnet_link_bench quorvel Quorvel quorvel_posnet posnet_sim posnet hlapi)
