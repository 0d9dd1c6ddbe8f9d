# The Windows side of the service folder: Zendrel.exe as a Windows program (wmain
# with -municode, no console window, the manifest and version resources), its test
# build ZendrelTest.exe, and the test of the Win32 message loop.
target_link_libraries(service PUBLIC user32 advapi32)
# The message loop reports Win32 failures with the system's texts.
target_link_libraries(service_loop PUBLIC support user32)

set(ZENDREL_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(ZENDREL_MANIFEST_PATH ${CMAKE_CURRENT_BINARY_DIR}/zendrel.manifest)
configure_file(zendrel.manifest ${ZENDREL_MANIFEST_PATH} @ONLY)
configure_file(zendrel.rc ${CMAKE_CURRENT_BINARY_DIR}/zendrel.rc @ONLY)

foreach(program IN ITEMS Zendrel zendrel_test_program)
  if(TARGET ${program})
    target_sources(${program} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/zendrel.rc)
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/zendrel.rc PROPERTIES
                                OBJECT_DEPENDS ${ZENDREL_MANIFEST_PATH})
    target_link_options(${program} PRIVATE -municode -mwindows)
  endif()
endforeach()
# The shipped executable carries no symbols.
target_link_options(Zendrel PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
if(TARGET zendrel_test_program)
  # Short schedules from the environment: never the shipped executable.
  set_target_properties(zendrel_test_program PROPERTIES OUTPUT_NAME ZendrelTest)
endif()

zendrel_test(main_loop_windows_test SOURCES main_loop_windows_test.cpp LIBS service_loop)

if(ZENDREL_BUILD_TESTS)
  # Pause, continue and interrogate for the tests under Wine, whose sc lacks them.
  add_executable(zendrel_service_control testing/service_control_windows.cpp)
  target_link_options(zendrel_service_control PRIVATE -municode)
  target_link_libraries(zendrel_service_control PRIVATE advapi32)
  set_target_properties(zendrel_service_control PROPERTIES OUTPUT_NAME service_control)
  add_dependencies(zendrel_windows zendrel_service_control)
endif()
