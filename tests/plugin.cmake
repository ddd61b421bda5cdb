# The plug-in frame: configuration store, load sequence and the configuration forms.
if(TARGET quorvel_plugin AND TARGET Quorvel)
  quorvel_add_test(plugin_config_store_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_config_store_test.cpp
    LIBS quorvel_plugin Quorvel)
  quorvel_add_test(plugin_line_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_line_test.cpp
    LIBS quorvel_plugin Quorvel util)
  quorvel_add_test(plugin_ui_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_ui_test.cpp
    LIBS Quorvel)
  if(EXISTS ${CMAKE_SOURCE_DIR}/drivers/elcom/config_form.cpp AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/plugin_elcom_form_test.cpp)
  quorvel_add_test(plugin_elcom_form_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_elcom_form_test.cpp ${CMAKE_SOURCE_DIR}/drivers/elcom/config_form.cpp
    LIBS quorvel_plugin Quorvel)
  endif()
endif()

# The real form on a pseudo-terminal, through the quorvel program and the Elcom plug-in.
if(TARGET quorvel AND TARGET quorvel_elcom AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/plugin_config_form_e2e_test.cpp)
  quorvel_add_test(plugin_config_form_e2e_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_config_form_e2e_test.cpp
    LIBS quorvel_plugin Quorvel util)
  add_dependencies(plugin_config_form_e2e_test quorvel quorvel_elcom)
endif()
