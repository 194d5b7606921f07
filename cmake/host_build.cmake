# Host build: the product against the simulated Windows, with sanitizers, and
# the unit tests; or, with UPDATER_FUZZERS, the fuzz targets instead.
option(UPDATER_FUZZERS "Build the libFuzzer targets (clang) instead of the unit tests" OFF)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(UPDATER_FUZZERS)
  list(APPEND SANITIZERS -fsanitize=fuzzer-no-link)
endif()
add_compile_options(-g -Wall -Wextra -Werror ${SANITIZERS})
add_link_options(${SANITIZERS})

file(GLOB WINSIM_SOURCES CONFIGURE_DEPENDS winsim/*.cpp)
add_library(winsim OBJECT ${WINSIM_SOURCES})
target_include_directories(winsim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(winsim PRIVATE PAYLOAD_DIR="${CMAKE_SOURCE_DIR}/payload")

add_library(updater_core OBJECT ${PRODUCT_SOURCES})
target_include_directories(updater_core PUBLIC ${CMAKE_SOURCE_DIR})

if(UPDATER_FUZZERS)
  include(cmake/fuzzers.cmake)
  return()
endif()

find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()

file(GLOB TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(unit_tests ${TEST_SOURCES} $<TARGET_OBJECTS:updater_core> $<TARGET_OBJECTS:winsim>)
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(unit_tests PRIVATE PAYLOAD_DIR="${CMAKE_SOURCE_DIR}/payload")
target_link_libraries(unit_tests PRIVATE GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

if(EXISTS ${CMAKE_SOURCE_DIR}/payload/payload_rules.cpp)
  add_library(payload_rules OBJECT payload/payload_rules.cpp)
  target_include_directories(payload_rules PUBLIC ${CMAKE_SOURCE_DIR})
  target_sources(unit_tests PRIVATE $<TARGET_OBJECTS:payload_rules>)
  add_executable(payload_check payload/payload_check.cpp $<TARGET_OBJECTS:payload_rules>)
  target_include_directories(payload_check PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME payload_format COMMAND payload_check ${CMAKE_SOURCE_DIR}/payload)
endif()
