# Dependencies of the Windows cross build. The header-only libraries come from the
# build machine's Debian packages (rapidjson-dev, libfmt-dev, firebird-dev), seen
# through a folder of links to their own headers only: the rest of the Linux
# /usr/include must never reach the Windows compiler. {fmt} is used header-only,
# since Debian ships it as a Linux shared library. GoogleTest is built from the
# sources Debian ships in /usr/src/googletest.
set(ZENDREL_STAGED_INCLUDE ${CMAKE_BINARY_DIR}/staged-include)
file(MAKE_DIRECTORY ${ZENDREL_STAGED_INCLUDE})

foreach(staged IN ITEMS rapidjson fmt ibase.h iberror.h)
  set(origin /usr/include/${staged})
  if(NOT EXISTS ${origin})
    message(FATAL_ERROR "${origin} is missing: install rapidjson-dev, libfmt-dev and firebird-dev")
  endif()
  file(CREATE_LINK ${origin} ${ZENDREL_STAGED_INCLUDE}/${staged} SYMBOLIC)
endforeach()

include_directories(SYSTEM ${ZENDREL_STAGED_INCLUDE})

add_library(zendrel_fmt_header_only INTERFACE)
target_compile_definitions(zendrel_fmt_header_only INTERFACE FMT_HEADER_ONLY)
target_include_directories(zendrel_fmt_header_only SYSTEM INTERFACE ${ZENDREL_STAGED_INCLUDE})
add_library(fmt::fmt ALIAS zendrel_fmt_header_only)

# Unicode Win32 API throughout (the W functions), Windows 7 as the oldest target.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

if(ZENDREL_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(gtest_target IN ITEMS gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${gtest_target})
      add_library(GTest::${gtest_target} ALIAS ${gtest_target})
    endif()
  endforeach()
endif()

# The test programs that run on Windows (under Wine when cross-built): everything
# that needs neither the Firebird server nor POSIX calls or Linux tools. The others
# are still defined, so that their folders configure unchanged, but never built here.
set(ZENDREL_WINDOWS_TESTS
  support_test
  reply_json_text_test
  status_translation_test
  json_records_test
  api_request_address_test
  api_exchange_test
  api_postings_test
  api_list_calls_test
  api_certificate_waiver_test
  erp_unit_windows_test
  command_line_test
  main_loop_windows_test
)

# Everything the Windows build delivers and tests: Zendrel.exe, its test build
# ZendrelTest.exe and the test programs above.
add_custom_target(zendrel_windows)
add_dependencies(zendrel_windows Zendrel zendrel_test_program ${ZENDREL_WINDOWS_TESTS})
