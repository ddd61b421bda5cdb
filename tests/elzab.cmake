# Elzab driver: its text files as plain functions, its configuration form, and the plug-in end
# to end through the host program against a scripted WinIP and the simulated one.
if(TARGET elzab_files)
  quorvel_add_test(elzab_files_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_files_test.cpp ${CMAKE_SOURCE_DIR}/drivers/elzab/winip.cpp
            ${CMAKE_SOURCE_DIR}/drivers/elzab/link.cpp
    LIBS elzab_files quorvel_plugin Quorvel)
  quorvel_add_test(elzab_form_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_form_test.cpp ${CMAKE_SOURCE_DIR}/drivers/elzab/config_form.cpp
    LIBS elzab_files quorvel_plugin Quorvel)
endif()

# The scripted WinIP lives in a folder of its own; tests link it into their job directories.
add_library(fake_winip MODULE ${CMAKE_CURRENT_SOURCE_DIR}/fake/fake_winip.cpp)
set_target_properties(fake_winip PROPERTIES PREFIX "lib" OUTPUT_NAME WinIP
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake-winip)

if(TARGET quorvel_elzab AND TARGET quorvel)
  quorvel_add_test(elzab_e2e_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/elzab_e2e_test.cpp
    LIBS quorvel_plugin Quorvel)
  target_compile_definitions(elzab_e2e_test PRIVATE
    QUORVEL_FAKE_WINIP="${CMAKE_BINARY_DIR}/fake-winip/libWinIP.so"
    QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
  add_dependencies(elzab_e2e_test quorvel_elzab quorvel fake_winip)
endif()
