// RapidJSON's SAX reader adapted to JsonEvents, with the nesting limit and the
// "nothing but blanks after the value" rule.
#include "api/json_reader.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>
#include <vector>

#include "support/text.h"

namespace zendrel {
namespace {

// Numbers as strings keeps "1.50", "-0" and "1E+5" as the body wrote them; the
// iterative reader keeps the C stack flat whatever the nesting; stopping after the
// value lets the caller check what follows it itself (an embedded NUL byte would
// otherwise look like the end of the text).
constexpr unsigned kReadFlags =
    rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the JSON number at the start of `text`, or 0 when none starts there.
std::size_t NumberLength(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i > start;
  };
  if (i < text.size() && text[i] == '-') ++i;
  if (i < text.size() && text[i] == '0') {
    ++i;
  } else if (!digits()) {
    return 0;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!digits()) return 0;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return 0;
  }
  return i;
}

bool IsNumberCharacter(char c) { return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

// RapidJSON refuses numbers beyond the range of a double (1e400, 400 digits) even
// when it hands numbers over as text, yet they are JSON, and the body's text is all
// the layout needs. So each number outside strings is shown to RapidJSON as "0" and
// its text kept aside, in text order, for the number events. Only a run of number
// characters that is exactly one number is masked: "1.5.5" or "--1" stay as they
// are, for RapidJSON to refuse, instead of turning into "0.5" or "-0".
struct MaskedNumbers {
  std::string text;
  std::vector<std::string_view> numbers;
};

MaskedNumbers MaskNumbers(std::string_view text) {
  MaskedNumbers masked;
  masked.text.reserve(text.size());
  bool in_string = false;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\' && i + 1 < text.size()) {
        masked.text.append(text, i, 2);
        i += 2;
        continue;
      }
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '-' || IsDigit(c)) {
      std::size_t run = 1;
      while (i + run < text.size() && IsNumberCharacter(text[i + run])) ++run;
      const std::string_view characters = text.substr(i, run);
      const std::size_t length = NumberLength(characters);
      // RapidJSON reports a number for a valid start of a bad run before it fails;
      // keeping its text aside too keeps the events in step until then.
      if (length > 0) masked.numbers.push_back(characters.substr(0, length));
      if (length == run) {
        masked.text += '0';
      } else {
        masked.text += characters;
      }
      i += run;
      continue;
    }
    masked.text += c;
    ++i;
  }
  return masked;
}

class Adapter {
 public:
  Adapter(JsonEvents& events, const std::vector<std::string_view>& numbers) : events_(events), numbers_(numbers) {}

  bool Null() { return events_.Null(); }
  bool Bool(bool value) { return events_.Bool(value); }
  // Never called with kParseNumbersAsStringsFlag; present for the handler concept.
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(int64_t) { return false; }
  bool Uint64(uint64_t) { return false; }
  bool Double(double) { return false; }
  bool RawNumber(const char*, rapidjson::SizeType, bool) {
    if (next_number_ == numbers_.size()) return false;
    return events_.Number(numbers_[next_number_++]);
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return events_.String(std::string_view(text, length));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) { return events_.Name(std::string_view(text, length)); }
  bool StartObject() { return Enter() && events_.StartObject(); }
  bool EndObject(rapidjson::SizeType) {
    --depth_;
    return events_.EndObject();
  }
  bool StartArray() { return Enter() && events_.StartArray(); }
  bool EndArray(rapidjson::SizeType) {
    --depth_;
    return events_.EndArray();
  }

 private:
  bool Enter() { return ++depth_ <= kJsonMaxDepth; }

  JsonEvents& events_;
  const std::vector<std::string_view>& numbers_;
  std::size_t next_number_ = 0;
  int depth_ = 0;
};

}  // namespace

bool ReadJson(std::string_view text, JsonEvents& events) {
  const MaskedNumbers masked = MaskNumbers(text);
  rapidjson::MemoryStream stream(masked.text.data(), masked.text.size());
  rapidjson::Reader reader;
  Adapter adapter(events, masked.numbers);
  if (reader.Parse<kReadFlags>(stream, adapter).IsError()) return false;
  // Only JSON's own whitespace may follow the value.
  return TrimSpacesTabsAndLineEnds(std::string_view(masked.text).substr(stream.Tell())).empty();
}

}  // namespace zendrel
