// The one JSON reader behind the reply JSON text and the record mapping, so that both
// agree on what counts as JSON: exactly one value with JSON blanks around it, numbers
// kept as the text wrote them, members in order with duplicates, and a nesting limit
// beyond which the text counts as not JSON (bodies come from the network).
#pragma once

#include <string_view>

namespace zendrel {

// Containers nested deeper than this make the text not JSON. Nothing the platform
// sends comes near it; it keeps hostile bodies from exhausting memory or stack.
inline constexpr int kJsonMaxDepth = 512;

// The reading as a stream of events in text order. Strings, names and numbers are
// handed over as bytes (escapes resolved, numbers exactly as written). An event that
// returns false ends the reading, which then fails.
class JsonEvents {
 public:
  virtual ~JsonEvents() = default;
  virtual bool Null() = 0;
  virtual bool Bool(bool value) = 0;
  virtual bool Number(std::string_view text) = 0;
  virtual bool String(std::string_view value) = 0;
  virtual bool StartObject() = 0;
  virtual bool Name(std::string_view name) = 0;
  virtual bool EndObject() = 0;
  virtual bool StartArray() = 0;
  virtual bool EndArray() = 0;
};

// Reads `text` as exactly one JSON value, JSON blanks (space, tab, CR, LF) allowed
// around it, and reports it to `events`. False when the text is not JSON, nests
// deeper than kJsonMaxDepth, or an event refused; the events seen up to then may
// describe a partial value, which the caller discards.
bool ReadJson(std::string_view text, JsonEvents& events);

}  // namespace zendrel
