# The job core end to end: module loading, the load and unload of the core, the dispatch of
# operations. Test plug-ins are built beside the core (tests only, never installed), so the
# core finds them by their bare names as it finds the real drivers.
if(NOT TARGET Quorvel)
  return()
endif()

set(QUORVEL_TEST_PLUGINS quorvel_test_full quorvel_test_basic quorvel_test_bare)
foreach(plugin ${QUORVEL_TEST_PLUGINS})
  add_library(${plugin} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/plugins/test_plugin.cpp)
  set_target_properties(${plugin} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  target_link_libraries(${plugin} PRIVATE Quorvel)
endforeach()
target_compile_definitions(quorvel_test_full PRIVATE QTP_ALL_OPERATIONS)
target_compile_definitions(quorvel_test_basic PRIVATE QTP_BASIC_OPERATIONS)
target_compile_definitions(quorvel_test_bare PRIVATE QTP_NO_HANDLERS)

quorvel_add_test(lifecycle_module_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_module_test.cpp LIBS Quorvel ${CMAKE_DL_LIBS})
add_dependencies(lifecycle_module_test ${QUORVEL_TEST_PLUGINS})

# The shared core loaded in process, with the loader compiled in as the host has it.
quorvel_add_test(lifecycle_shared_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_shared_test.cpp
  ${CMAKE_SOURCE_DIR}/platform/module.cpp LIBS ${CMAKE_DL_LIBS})
add_dependencies(lifecycle_shared_test Quorvel ${QUORVEL_TEST_PLUGINS})

# The load handler with every allocation failing in turn needs the core linked statically.
quorvel_add_test(lifecycle_attach_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_attach_test.cpp LIBS quorvel_core_static)

if(TARGET quorvel)
  file(GLOB QUORVEL_LIFECYCLE_E2E CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/lifecycle_*_e2e_test.cpp)
  foreach(src ${QUORVEL_LIFECYCLE_E2E})
    get_filename_component(name ${src} NAME_WE)
    quorvel_add_test(${name} SOURCES ${src})
    target_compile_definitions(${name} PRIVATE QUORVEL_BUILD_DIR="${CMAKE_BINARY_DIR}" QUORVEL_CMAKE_COMMAND="${CMAKE_COMMAND}")
    add_dependencies(${name} quorvel Quorvel ${QUORVEL_TEST_PLUGINS})
    if(TARGET quorvel_man)
      add_dependencies(${name} quorvel_man)  # installed by the installation test
    endif()
  endforeach()
endif()

# A plug-in in a folder of its own, found through QUORVEL_LIBRARY_PATH only; and the driver
# plug-ins, whose descriptions the program's help lists.
add_library(quorvel_test_described MODULE ${CMAKE_CURRENT_SOURCE_DIR}/plugins/described_plugin.cpp)
set_target_properties(quorvel_test_described PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/described)
target_include_directories(quorvel_test_described PRIVATE ${CMAKE_SOURCE_DIR})
if(TARGET lifecycle_run_e2e_test)
  target_compile_definitions(lifecycle_run_e2e_test PRIVATE QUORVEL_DESCRIBED_DIR="${CMAKE_BINARY_DIR}/described")
  add_dependencies(lifecycle_run_e2e_test quorvel_test_described)
  foreach(driver quorvel_elcom quorvel_elzab quorvel_posnet)
    if(TARGET ${driver})
      add_dependencies(lifecycle_run_e2e_test ${driver})
    endif()
  endforeach()
endif()
