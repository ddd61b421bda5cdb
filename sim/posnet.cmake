# POSNET: the frame codec shared by the stand-in libraries and the simulated register, the
# register program, and the stand-ins for libposnet and libhlapi.
add_library(posnet_frame STATIC ${CMAKE_CURRENT_SOURCE_DIR}/posnet/frame.cpp)
target_include_directories(posnet_frame PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(posnet_sim ${CMAKE_CURRENT_SOURCE_DIR}/posnet/posnet_sim.cpp ${CMAKE_CURRENT_SOURCE_DIR}/posnet/register.cpp)
target_link_libraries(posnet_sim PRIVATE posnet_frame)
