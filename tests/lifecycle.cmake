# The job core end to end: module loading, the load and unload of the core, the dispatch of
# operations, against the test plug-ins of tests/plugins.
set(QUORVEL_TEST_PLUGINS quorvel_test_full quorvel_test_basic quorvel_test_bare)

quorvel_add_test(lifecycle_module_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_module_test.cpp LIBS Quorvel ${CMAKE_DL_LIBS})
add_dependencies(lifecycle_module_test ${QUORVEL_TEST_PLUGINS})

# The shared core loaded in process, with the loader compiled in as the host has it.
quorvel_add_test(lifecycle_shared_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_shared_test.cpp
  ${CMAKE_SOURCE_DIR}/platform/module.cpp LIBS ${CMAKE_DL_LIBS})
add_dependencies(lifecycle_shared_test Quorvel ${QUORVEL_TEST_PLUGINS})

# The load handler with every allocation failing in turn needs the core linked statically.
quorvel_add_test(lifecycle_attach_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_attach_test.cpp LIBS quorvel_core_static)

foreach(name lifecycle_history_e2e_test lifecycle_run_e2e_test)
  quorvel_add_test(${name} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_compile_definitions(${name} PRIVATE QUORVEL_BUILD_DIR="${CMAKE_BINARY_DIR}" QUORVEL_CMAKE_COMMAND="${CMAKE_COMMAND}")
  # The manual page is installed by the installation test.
  add_dependencies(${name} quorvel Quorvel quorvel_man ${QUORVEL_TEST_PLUGINS})
endforeach()

# A plug-in in a folder of its own, found through QUORVEL_LIBRARY_PATH only; and the driver
# plug-ins, whose descriptions the program's help lists.
add_library(quorvel_test_described MODULE ${CMAKE_CURRENT_SOURCE_DIR}/plugins/described_plugin.cpp)
set_target_properties(quorvel_test_described PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/described)
target_include_directories(quorvel_test_described PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(lifecycle_run_e2e_test PRIVATE QUORVEL_DESCRIBED_DIR="${CMAKE_BINARY_DIR}/described")
get_property(QUORVEL_DRIVER_PLUGINS GLOBAL PROPERTY QUORVEL_DRIVER_MODULES)
add_dependencies(lifecycle_run_e2e_test quorvel_test_described ${QUORVEL_DRIVER_PLUGINS})
# The installation test runs the installed demo: its simulators and stand-ins are installed.
add_dependencies(lifecycle_run_e2e_test elcom_sim elzab_sim posnet_sim posnet hlapi WinIP)
