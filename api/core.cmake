# Pure reply handling: reply JSON text, status translation, JSON record mapping.
add_library(api_core
  ${CMAKE_CURRENT_SOURCE_DIR}/reply_json_text.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/status_translation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/json_records.cpp
)
target_link_libraries(api_core PUBLIC support)
