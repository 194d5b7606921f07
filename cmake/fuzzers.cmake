# One executable per fuzz target in tests/fuzz/, each over the product and the simulator.
file(GLOB FUZZ_TARGETS CONFIGURE_DEPENDS tests/fuzz/*_fuzzer.cpp)
foreach(source ${FUZZ_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} tests/fuzz/fuzz_machine.cpp $<TARGET_OBJECTS:updater_core> $<TARGET_OBJECTS:winsim>)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
