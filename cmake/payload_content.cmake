# Run at every build (cmake -P): writes the SHA-256 of every file in the payload
# folder's class0/ and class1/, with the folder's path, to STAMP, and touches
# STAMP only when that text changes. The payload's resources depend on STAMP,
# so they are rebuilt whenever the payload's bytes change, whatever the files'
# dates (an archive or a copy can give new contents older dates), and only then.
file(GLOB files LIST_DIRECTORIES false "${PAYLOAD_FOLDER}/class0/*" "${PAYLOAD_FOLDER}/class1/*")
list(SORT files)
set(text "${PAYLOAD_FOLDER}\n")
foreach(file IN LISTS files)
  file(SHA256 "${file}" hash)
  file(RELATIVE_PATH name "${PAYLOAD_FOLDER}" "${file}")
  string(APPEND text "${hash}  ${name}\n")
endforeach()
set(old "")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" old)
endif()
if(NOT text STREQUAL old)
  file(WRITE "${STAMP}" "${text}")
endif()
