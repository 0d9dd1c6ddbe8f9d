# The HTTP calls of the loyalty API: transport seam, request layer, the five calls,
# and the fake platform the tests (and the lead's poll-cycle tests) run against.
if(ZENDREL_HOST STREQUAL "posix")
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
endif()

set(ZENDREL_HTTP_TRANSPORT_posix
  ${CMAKE_CURRENT_SOURCE_DIR}/http_transport_curl.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tls_trust_store_curl.cpp)
set(ZENDREL_HTTP_TRANSPORT_windows ${CMAKE_CURRENT_SOURCE_DIR}/http_transport_winhttp.cpp)

add_library(api
  ${CMAKE_CURRENT_SOURCE_DIR}/http_transport.cpp
  ${ZENDREL_HTTP_TRANSPORT_${ZENDREL_HOST}}
  ${CMAKE_CURRENT_SOURCE_DIR}/api_settings.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/request_address.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/request.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/exchange.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/call_framing.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/postings.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/product_list.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reset_calls.cpp
)
target_link_libraries(api PUBLIC api_core support)
if(ZENDREL_HOST STREQUAL "posix")
  target_link_libraries(api PRIVATE CURL::libcurl OpenSSL::SSL)
else()
  target_link_libraries(api PRIVATE winhttp)
endif()

if(ZENDREL_BUILD_TESTS)
  # The system's interpreter first: a version-manager shim on PATH costs a second
  # at every start of the fake platform.
  find_program(ZENDREL_PYTHON3 NAMES python3 PATHS /usr/bin /usr/local/bin NO_DEFAULT_PATH)
  find_program(ZENDREL_PYTHON3 NAMES python3 REQUIRED)
  add_library(api_testing
    ${CMAKE_CURRENT_SOURCE_DIR}/testing/fake_platform.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/testing/child_process_${ZENDREL_HOST}.cpp
  )
  target_link_libraries(api_testing PUBLIC api)
  if(WIN32)
    target_link_libraries(api_testing PRIVATE ws2_32)
  endif()
  target_compile_definitions(api_testing PRIVATE
    ZENDREL_PYTHON="${ZENDREL_PYTHON3}"
    ZENDREL_FAKE_PLATFORM_SCRIPT="${PROJECT_SOURCE_DIR}/tools/fake_platform/fake_platform.py")

  zendrel_test(api_request_address_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/request_address_test.cpp LIBS api)
  zendrel_test(api_exchange_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/exchange_test.cpp LIBS api_testing)
  zendrel_test(api_postings_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/postings_test.cpp LIBS api_testing)
  zendrel_test(api_list_calls_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/list_calls_test.cpp LIBS api_testing)
  if(ZENDREL_HOST STREQUAL "posix")
    # WinHTTP trusts the system's store only: no CA file to hand it.
    zendrel_test(api_https_trust_test
      SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/https_trust_test.cpp LIBS api_testing)
  endif()
endif()
