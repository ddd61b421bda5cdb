# POSNET driver: status texts and result-buffer mappings, the device logic over a table of
# its own in place of the vendor libraries, the configuration form, and the plug-in end to
# end against the stand-in libraries and the simulated register.
if(TARGET posnet_driver)
  quorvel_add_test(posnet_records_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_records_test.cpp LIBS posnet_driver)
endif()
if(TARGET posnet_driver)
  quorvel_add_test(posnet_device_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_device_test.cpp LIBS posnet_driver)
endif()
if(TARGET posnet_driver)
  quorvel_add_test(posnet_form_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/posnet_form_test.cpp LIBS posnet_driver)
endif()
