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
# The payload's bytes, not its files' dates, decide when it is checked and
# embedded again: the hashes in PAYLOAD_CONTENT change with the bytes only.
set(PAYLOAD_CONTENT ${PAYLOAD_GENERATED_DIR}/payload-content.sha256)
add_custom_target(payload_content
  COMMAND ${CMAKE_COMMAND} -DPAYLOAD_FOLDER=${PAYLOAD_FOLDER} -DSTAMP=${PAYLOAD_CONTENT}
    -P ${CMAKE_SOURCE_DIR}/cmake/payload_content.cmake
  BYPRODUCTS ${PAYLOAD_CONTENT}
  VERBATIM)
set(PAYLOAD_RESOURCE_FILES ${PAYLOAD_GENERATED_DIR}/payload_resources.rc ${PAYLOAD_GENERATED_DIR}/payload_mark.h)
add_custom_command(OUTPUT ${PAYLOAD_RESOURCE_FILES}
  COMMAND ${PAYLOAD_CHECK_HOST} --resources ${PAYLOAD_GENERATED_DIR} ${PAYLOAD_FOLDER}
  DEPENDS ${PAYLOAD_CHECK_HOST} ${PAYLOAD_CONTENT}
  COMMENT "Checking the payload in ${PAYLOAD_FOLDER}")
add_custom_target(payload_resources DEPENDS ${PAYLOAD_RESOURCE_FILES})
add_dependencies(payload_resources payload_content)
