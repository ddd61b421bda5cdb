# The Elzab register: its state (shared by the stand-in and the tool), the stand-in for the
# vendor library WinIP that plays it, and elzab_sim, which makes and edits its state.
add_library(elzab_register STATIC ${CMAKE_CURRENT_SOURCE_DIR}/winip/elzab_register.cpp)
target_include_directories(elzab_register PUBLIC ${CMAKE_SOURCE_DIR})

# libWinIP.so goes to standins/, never beside libQuorvel.so or quorvel, so that a shop's real
# WinIP is always found first; it is installed only into the installation's private folder for
# the demo (sim/CMakeLists.txt). The module search also tries the bare
# name WinIP.so, which is a link to it.
add_library(WinIP SHARED ${CMAKE_CURRENT_SOURCE_DIR}/winip/winip.cpp)
target_link_libraries(WinIP PRIVATE elzab_register)
set_target_properties(WinIP PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standins)
add_custom_command(TARGET WinIP POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink libWinIP.so ${CMAKE_BINARY_DIR}/standins/WinIP.so)

add_executable(elzab_sim ${CMAKE_CURRENT_SOURCE_DIR}/elzab_sim.cpp)
target_link_libraries(elzab_sim PRIVATE elzab_register quorvel_version)
add_dependencies(elzab_sim WinIP)
