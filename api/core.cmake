# Pure reply handling: reply JSON text, status translation, JSON record mapping.
add_library(api_core
  ${CMAKE_CURRENT_SOURCE_DIR}/json_reader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reply_json_text.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/status_translation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/json_records.cpp
)
target_link_libraries(api_core PUBLIC support)

zendrel_test(reply_json_text_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/reply_json_text_test.cpp
  LIBS api_core)
zendrel_test(status_translation_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/status_translation_test.cpp
  LIBS api_core)
zendrel_test(json_records_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_records_test.cpp
  LIBS api_core)
