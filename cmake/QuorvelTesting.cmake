# quorvel_add_test(NAME SOURCES src... [LIBS lib...])
# One executable per test file; GoogleTest cases are registered with CTest one by one.
# Tests that run real programs find them through QUORVEL_BIN_DIR / QUORVEL_LIB_DIR,
# schemas through QUORVEL_SCHEMA_DIR. The registers' locks of the tests (serial lines of
# pseudo-terminals, simulated registers on loopback ports) go to a lock directory of the build
# tree, QUORVEL_LOCK_DIR, not among those of the machine's own serial programs.
set(QUORVEL_TEST_LOCK_DIR ${CMAKE_BINARY_DIR}/test-locks)
file(MAKE_DIRECTORY ${QUORVEL_TEST_LOCK_DIR})
# Open to every user and sticky, as /run/lock: tests drop to another user to open lines too.
execute_process(COMMAND chmod 1777 ${QUORVEL_TEST_LOCK_DIR})
function(quorvel_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} quorvel_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    QUORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    QUORVEL_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    QUORVEL_SCHEMA_DIR="${CMAKE_SOURCE_DIR}/schemas"
    QUORVEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ENVIRONMENT "QUORVEL_LOCK_DIR=${QUORVEL_TEST_LOCK_DIR}")
endfunction()
