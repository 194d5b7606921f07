# The payload check, built for the build machine and run on PAYLOAD_FOLDER as a
# step of the cross build: a malformed payload fails the build before anything
# is linked, and the resource lines and the test-payload mark follow the
# folder's files.
find_program(HOST_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(PAYLOAD_CHECK_SOURCES ${CMAKE_SOURCE_DIR}/payload/payload_check.cpp ${CMAKE_SOURCE_DIR}/payload/payload_rules.cpp)
set(PAYLOAD_CHECK_HOST ${CMAKE_BINARY_DIR}/payload_check_host)
add_custom_command(OUTPUT ${PAYLOAD_CHECK_HOST}
  COMMAND ${HOST_CXX} -std=c++17 -O1 -o ${PAYLOAD_CHECK_HOST} ${PAYLOAD_CHECK_SOURCES}
  DEPENDS ${PAYLOAD_CHECK_SOURCES} ${CMAKE_SOURCE_DIR}/payload/payload_rules.h ${CMAKE_SOURCE_DIR}/payload/payload_ids.h
  COMMENT "Building the payload check for the build machine")
# The release script runs the tool itself for the checks a release adds.
add_custom_target(payload_check_tool DEPENDS ${PAYLOAD_CHECK_HOST})

set(PAYLOAD_GENERATED_DIR ${CMAKE_BINARY_DIR}/payload_generated)
file(MAKE_DIRECTORY ${PAYLOAD_GENERATED_DIR})
file(GLOB PAYLOAD_INPUT_FILES CONFIGURE_DEPENDS ${PAYLOAD_FOLDER}/class0/* ${PAYLOAD_FOLDER}/class1/*)
set(PAYLOAD_RESOURCE_FILES ${PAYLOAD_GENERATED_DIR}/payload_resources.rc ${PAYLOAD_GENERATED_DIR}/payload_mark.h)
add_custom_command(OUTPUT ${PAYLOAD_RESOURCE_FILES}
  COMMAND ${PAYLOAD_CHECK_HOST} --resources ${PAYLOAD_GENERATED_DIR} ${PAYLOAD_FOLDER}
  DEPENDS ${PAYLOAD_CHECK_HOST} ${PAYLOAD_INPUT_FILES}
  COMMENT "Checking the payload in ${PAYLOAD_FOLDER}")
add_custom_target(payload_resources DEPENDS ${PAYLOAD_RESOURCE_FILES})
