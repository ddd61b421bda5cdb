# The Elzab driver against the WinIP stand-in: `quorvel run quorvel_elzab` processes, timed
# beside the stand-in's own processor time.
add_executable(elzab_winip_bench ${CMAKE_CURRENT_SOURCE_DIR}/elzab_winip_perf.cpp)
target_include_directories(elzab_winip_bench PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(elzab_winip_bench quorvel_elzab WinIP elzab_sim quorvel Quorvel)
