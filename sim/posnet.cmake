# POSNET: the frame codec shared by the stand-in libraries and the simulated register, the
# register program, and the stand-ins for libposnet and libhlapi.
add_library(posnet_frame STATIC ${CMAKE_CURRENT_SOURCE_DIR}/posnet/frame.cpp)
target_include_directories(posnet_frame PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(posnet_sim ${CMAKE_CURRENT_SOURCE_DIR}/posnet/posnet_sim.cpp ${CMAKE_CURRENT_SOURCE_DIR}/posnet/register.cpp)
target_link_libraries(posnet_sim PRIVATE posnet_frame quorvel_version)

# Stand-ins for the vendor libraries, in a folder of their own: never beside libQuorvel.so or
# quorvel; installed only into the installation's private folder for the demo (sim/CMakeLists.txt).
# Tests and the demo name that folder in QUORVEL_LIBRARY_PATH.
set(POSNET_STANDIN_DIR ${CMAKE_BINARY_DIR}/standins)
add_library(posnet SHARED ${CMAKE_CURRENT_SOURCE_DIR}/posnet/libposnet.cpp)
target_link_libraries(posnet PRIVATE posnet_frame Threads::Threads)
set_target_properties(posnet PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${POSNET_STANDIN_DIR})
add_library(hlapi SHARED ${CMAKE_CURRENT_SOURCE_DIR}/posnet/libhlapi.cpp)
target_link_libraries(hlapi PRIVATE posnet posnet_frame)
set_target_properties(hlapi PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${POSNET_STANDIN_DIR}
  BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
