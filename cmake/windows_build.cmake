# The executable: 32-bit GUI, wWinMain, runtime linked in, no exceptions or RTTI,
# small, with DEP and ASLR, and only Windows 2000 functions imported.
enable_language(RC)
file(GLOB WINDOWS_ONLY_SOURCES CONFIGURE_DEPENDS platform/*_windows.cpp)

add_executable(CarvellaMakerUpdater WIN32 app/main.cpp ${PRODUCT_SOURCES} ${WINDOWS_ONLY_SOURCES} payload/updater.rc)
target_include_directories(CarvellaMakerUpdater PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(CarvellaMakerUpdater PRIVATE
  _WIN32_WINNT=0x0500 WINVER=0x0500 PSAPI_VERSION=1 WIN32_LEAN_AND_MEAN)
# 32-bit Windows keeps the stack aligned to 4 bytes, and nothing here needs
# more or a frame pointer: without either the code is about 550 bytes smaller.
target_compile_options(CarvellaMakerUpdater PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-municode -Oz -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fomit-frame-pointer -mpreferred-stack-boundary=2
  -ffunction-sections -fdata-sections -Wall -Wextra -Werror -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>)
target_link_options(CarvellaMakerUpdater PRIVATE
  -mwindows -nostartfiles -Wl,-e,_UpdaterEntry@0 -Oz -static -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections -Wl,--nxcompat -Wl,--dynamicbase -Wl,--no-insert-timestamp)
set_target_properties(CarvellaMakerUpdater PROPERTIES OUTPUT_NAME CarvellaMakerUpdater SUFFIX ".exe")
# The payload is an input of the build: the repository's test tables unless a
# release names the folder of the publisher's supplied files.
set(PAYLOAD_DIR "${CMAKE_SOURCE_DIR}/payload" CACHE PATH "Folder of the payload files to embed (class0/, class1/)")
get_filename_component(PAYLOAD_FOLDER "${PAYLOAD_DIR}" ABSOLUTE)
include(cmake/payload_check_host.cmake)
target_include_directories(CarvellaMakerUpdater PRIVATE ${PAYLOAD_GENERATED_DIR})
add_dependencies(CarvellaMakerUpdater payload_resources)
# The manifest's version is the one of app/version.h, as the version resource's.
file(STRINGS app/version.h UPDATER_VERSION_LINES REGEX "^#define UPDATER_VERSION_(NUMBERS|TEXT) ")
string(REGEX MATCH "UPDATER_VERSION_TEXT \"([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)\"" _ "${UPDATER_VERSION_LINES}")
set(UPDATER_VERSION_TEXT "${CMAKE_MATCH_1}")
string(REGEX MATCH "UPDATER_VERSION_NUMBERS ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)" _ "${UPDATER_VERSION_LINES}")
if(NOT UPDATER_VERSION_TEXT OR NOT UPDATER_VERSION_TEXT STREQUAL
   "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
  message(FATAL_ERROR "app/version.h: UPDATER_VERSION_TEXT and UPDATER_VERSION_NUMBERS must name one version a.b.c.d")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS app/version.h)
set(MANIFEST_FILES ${PAYLOAD_GENERATED_DIR}/CarvellaMakerUpdater.manifest)
configure_file(payload/CarvellaMakerUpdater.manifest.in ${MANIFEST_FILES} @ONLY)
set_source_files_properties(payload/updater.rc PROPERTIES OBJECT_DEPENDS "${PAYLOAD_RESOURCE_FILES};${MANIFEST_FILES}")

# The small Windows programs that the end-to-end tests drive.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
