# quorvel_driver(<name> [NO_INSTALL] CODEC src... DRIVER src... ENTRY src...)
#
# The three targets of a driver folder drivers/<name>/:
#   <name>_codec    static: the register's records and frames as plain functions over bytes and
#                   texts (no I/O, no state of the core beyond its value types); shared by the
#                   plug-in, the simulated register, the tests, the fuzz targets and benchmarks;
#   <name>_driver   static: everything but the exported entry points (the configuration record,
#                   the session, the goods and sales operations, the configuration form, a
#                   vendor library's binding), so
#                   that tests can drive it without loading the plug-in;
#   quorvel_<name>  the plug-in module: the entry points (plugin.cpp) and the driver's description
#                   (description.cpp), linking the two.
# Both libraries are position-independent, since they end up in the module. The codec links no
# core library: the core's value types come from whichever core its user links (libQuorvel, or
# the static core of the fuzz targets and benchmarks). The driver library links libQuorvel.
# NO_INSTALL builds and tests the plug-in but leaves it out of the installation (the skeleton
# driver, a template that drives no real register).
# Every plug-in is recorded in the global property QUORVEL_DRIVER_MODULES (the contract test
# checks each of them).
function(quorvel_driver name)
  cmake_parse_arguments(D "NO_INSTALL" "" "CODEC;DRIVER;ENTRY" ${ARGN})
  if(NOT D_CODEC OR NOT D_DRIVER OR NOT D_ENTRY)
    message(FATAL_ERROR "quorvel_driver(${name}): CODEC, DRIVER and ENTRY sources are all needed")
  endif()

  add_library(${name}_codec STATIC ${D_CODEC})
  set_target_properties(${name}_codec PROPERTIES POSITION_INDEPENDENT_CODE ON)
  # Headers are included from the project root ("drivers/<name>/records.h").
  target_include_directories(${name}_codec PUBLIC ${CMAKE_SOURCE_DIR})

  add_library(${name}_driver STATIC ${D_DRIVER})
  set_target_properties(${name}_driver PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${name}_driver PUBLIC ${name}_codec quorvel_plugin Quorvel)

  add_library(quorvel_${name} MODULE ${D_ENTRY})
  set_target_properties(quorvel_${name} PROPERTIES PREFIX "" OUTPUT_NAME quorvel_${name})
  target_link_libraries(quorvel_${name} PRIVATE ${name}_driver)
  quorvel_installed_run_path(quorvel_${name})
  if(NOT D_NO_INSTALL)
    install(TARGETS quorvel_${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quorvel)
  endif()

  set_property(GLOBAL APPEND PROPERTY QUORVEL_DRIVER_MODULES quorvel_${name})
endfunction()
