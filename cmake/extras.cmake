# Benchmarks, the fault-injection run and the fuzz targets.

# Fuzz targets: a clang build with -DZENDREL_FUZZ=ON and every library compiled with
# -fsanitize=fuzzer-no-link,address,undefined (scripts/fuzz.sh configures that).
option(ZENDREL_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(ZENDREL_FUZZ)
  foreach(target reply_body trata_data ini_file decode_body)
    add_executable(fuzz_${target} ${PROJECT_SOURCE_DIR}/fuzz/${target}_fuzzer.cpp)
    target_include_directories(fuzz_${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
  target_link_libraries(fuzz_reply_body PRIVATE api_core)
  target_link_libraries(fuzz_trata_data PRIVATE support)
  target_link_libraries(fuzz_ini_file PRIVATE erp)
  target_link_libraries(fuzz_decode_body PRIVATE support)
endif()

if(NOT ZENDREL_BUILD_TESTS)
  return()
endif()

# The bench program (scripts/bench): needs the test fixtures (a fresh database on the
# local server, the fake platform) and the shipped program for the drain figures.
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
add_executable(zendrel_bench
  ${PROJECT_SOURCE_DIR}/bench/zendrel_bench.cpp
  ${PROJECT_SOURCE_DIR}/bench/bare_relay.cpp)
target_link_libraries(zendrel_bench PRIVATE service erp_testing api_testing CURL::libcurl OpenSSL::SSL)
target_compile_definitions(zendrel_bench PRIVATE ZENDREL_PROGRAM="$<TARGET_FILE:Zendrel>")
add_dependencies(zendrel_bench Zendrel)

find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(reply_json_bench ${PROJECT_SOURCE_DIR}/bench/reply_json_bench.cpp)
  target_link_libraries(reply_json_bench PRIVATE api_core benchmark::benchmark)
endif()

# The fault-injection run: poll cycles of the test program while faults are injected.
# It stops and restarts the Firebird server, so CTest runs it alone.
add_executable(fault_injection_test ${PROJECT_SOURCE_DIR}/tools/fault_injection/fault_injection_test.cpp)
target_link_libraries(fault_injection_test PRIVATE erp_testing api_testing service_testing GTest::gtest_main)
target_compile_definitions(fault_injection_test PRIVATE
  ZENDREL_TEST_PROGRAM="$<TARGET_FILE:zendrel_test_program>"
  ZENDREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(fault_injection_test zendrel_test_program)
add_test(NAME fault_injection COMMAND fault_injection_test)
set_tests_properties(fault_injection PROPERTIES LABELS firebird RUN_SERIAL TRUE TIMEOUT 1200)
