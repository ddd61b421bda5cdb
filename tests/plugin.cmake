# The plug-in frame: configuration store, load sequence and the configuration forms.
quorvel_add_test(plugin_config_store_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_config_store_test.cpp
  LIBS quorvel_plugin Quorvel)
quorvel_add_test(plugin_line_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_line_test.cpp
  LIBS quorvel_plugin Quorvel util)
quorvel_add_test(plugin_ui_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_ui_test.cpp
  LIBS Quorvel)
quorvel_add_test(plugin_elcom_form_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_elcom_form_test.cpp
  LIBS elcom_driver)

# The real form on a pseudo-terminal, through the quorvel program and the Elcom plug-in.
quorvel_add_test(plugin_config_form_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_config_form_e2e_test.cpp
  LIBS quorvel_plugin Quorvel util)
add_dependencies(plugin_config_form_e2e_test quorvel quorvel_elcom)

# `quorvel config` through the program, against the form's own bytes and the simulated register.
quorvel_add_test(plugin_text_config_e2e_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_text_config_e2e_test.cpp
  LIBS elcom_driver)
add_dependencies(plugin_text_config_e2e_test quorvel quorvel_elcom elcom_sim)

# Every driver plug-in against the contract: the test reads every quorvel_*.so of the library
# directory; every driver folder's plug-in is built before it and must be among them.
# Vendor-library stand-ins are looked for in standins/ of the build tree.
get_property(QUORVEL_DRIVER_PLUGINS GLOBAL PROPERTY QUORVEL_DRIVER_MODULES)
# A list of several drivers would split the definition at its ';'.
list(JOIN QUORVEL_DRIVER_PLUGINS "," QUORVEL_DRIVER_PLUGIN_NAMES)
quorvel_add_test(plugin_contract_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_contract_test.cpp ${CMAKE_SOURCE_DIR}/platform/module.cpp
          ${CMAKE_SOURCE_DIR}/host/driver_catalog.cpp ${CMAKE_SOURCE_DIR}/platform/process.cpp
  LIBS ${CMAKE_DL_LIBS})
target_compile_definitions(plugin_contract_test PRIVATE
  QUORVEL_DRIVER_PLUGINS="${QUORVEL_DRIVER_PLUGIN_NAMES}"
  QUORVEL_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins")
add_dependencies(plugin_contract_test Quorvel quorvel_test_full quorvel_test_basic ${QUORVEL_DRIVER_PLUGINS})

# The checks of a job's goods against a register model's limits.
quorvel_add_test(plugin_goods_check_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_goods_check_test.cpp
  LIBS quorvel_plugin Quorvel)
