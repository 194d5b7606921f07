# The executable: 32-bit GUI, wWinMain, runtime linked in, no exceptions or RTTI,
# small, with DEP and ASLR, and only Windows 2000 functions imported.
enable_language(RC)
file(GLOB WINDOWS_ONLY_SOURCES CONFIGURE_DEPENDS platform/*_windows.cpp)

add_executable(CarvellaMakerUpdater WIN32 app/main.cpp ${PRODUCT_SOURCES} ${WINDOWS_ONLY_SOURCES} payload/updater.rc)
target_include_directories(CarvellaMakerUpdater PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(CarvellaMakerUpdater PRIVATE
  _WIN32_WINNT=0x0500 WINVER=0x0500 PSAPI_VERSION=1 WIN32_LEAN_AND_MEAN)
target_compile_options(CarvellaMakerUpdater PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-municode -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections -Wall -Wextra -Werror>)
target_link_options(CarvellaMakerUpdater PRIVATE
  -municode -mwindows -static -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections -Wl,--nxcompat -Wl,--dynamicbase)
set_target_properties(CarvellaMakerUpdater PROPERTIES OUTPUT_NAME CarvellaMakerUpdater SUFFIX ".exe")
# The payload and manifest are resources: rebuild when they change.
file(GLOB PAYLOAD_FILES CONFIGURE_DEPENDS payload/class0/* payload/class1/* payload/*.manifest)
set_source_files_properties(payload/updater.rc PROPERTIES OBJECT_DEPENDS "${PAYLOAD_FILES}")

# The small Windows programs that the end-to-end tests drive.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
