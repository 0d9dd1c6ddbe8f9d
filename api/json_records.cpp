// Reading the platform's list replies into the JSON record classes. The rules (which
// member selects which field, how each kind of value lands, the error texts) are the
// ones the platform's replies have always been read by, so a reply that worked keeps
// working and a reply that failed fails with the same message in the log.
#include "api/json_records.h"

#include <fmt/format.h>

#include <string_view>
#include <utility>

#include "api/json_reader.h"
#include "support/errors.h"
#include "support/text.h"

namespace zendrel {
namespace {

// ---- The parsed text -------------------------------------------------------

// One JSON value with its member name when it sits in an object. The whole text is
// parsed before anything is mapped, so a text that is not JSON never yields a
// partly read record.
struct JsonNode {
  enum class Kind { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string name;
  std::string text;             // a string's value (escapes resolved) or a number as written
  std::vector<JsonNode> items;  // the members or elements, in text order
};

class TreeBuilder final : public JsonEvents {
 public:
  JsonNode& root() { return root_; }

  bool Null() override { return Add(JsonNode::Kind::kNull, {}); }
  bool Bool(bool value) override { return Add(value ? JsonNode::Kind::kTrue : JsonNode::Kind::kFalse, {}); }
  bool Number(std::string_view text) override { return Add(JsonNode::Kind::kNumber, text); }
  bool String(std::string_view value) override { return Add(JsonNode::Kind::kString, value); }
  bool StartObject() override { return Open(JsonNode::Kind::kObject); }
  bool Name(std::string_view name) override {
    pending_name_ = name;
    return true;
  }
  bool EndObject() override { return Close(); }
  bool StartArray() override { return Open(JsonNode::Kind::kArray); }
  bool EndArray() override { return Close(); }

 private:
  JsonNode root_;
  // The open containers, outermost first. Only the innermost one grows, so the
  // pointers to its ancestors stay valid.
  std::vector<JsonNode*> open_;
  std::string pending_name_;

  JsonNode& Place(JsonNode::Kind kind) {
    JsonNode* node = &root_;
    if (!open_.empty()) node = &open_.back()->items.emplace_back();
    node->kind = kind;
    node->name = std::move(pending_name_);
    pending_name_.clear();
    return *node;
  }
  bool Add(JsonNode::Kind kind, std::string_view text) {
    Place(kind).text = text;
    return true;
  }
  bool Open(JsonNode::Kind kind) {
    open_.push_back(&Place(kind));
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }
};

// The reply JSON text writes control characters inside strings as they are (only
// \b \t \n \f \r get escapes), which a strict reader refuses. Escaping them here lets
// a record read back every string its own reply text holds.
std::string EscapeRawControlsInStrings(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!in_string) {
      if (c == '"') in_string = true;
      out += c;
    } else if (c == '\\' && i + 1 < text.size()) {
      out += c;
      out += text[++i];
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    } else {
      if (c == '"') in_string = false;
      out += c;
    }
  }
  return out;
}

std::optional<JsonNode> ParseJson(std::string_view text) {
  TreeBuilder builder;
  if (!ReadJson(EscapeRawControlsInStrings(text), builder)) return std::nullopt;
  return std::move(builder.root());
}

char AsciiLowerOf(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Only ASCII letters fold: "ÉAN" never selects ean.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLowerOf(a[i]) != AsciiLowerOf(b[i])) return false;
  }
  return true;
}

// ---- The record classes' declarations ----------------------------------------

template <class Item>
struct TextField {
  std::string_view name;
  std::string Item::*field;
};

template <class Item>
struct ItemClass;

template <>
struct ItemClass<TItemClass> {
  static constexpr std::string_view kName = "TItemClass";
  static constexpr TextField<TItemClass> kFields[] = {
      {"ean", &TItemClass::ean},
      {"produto", &TItemClass::produto},
  };
};

template <>
struct ItemClass<TItemRetornoResetClass> {
  static constexpr std::string_view kName = "TItemRetornoResetClass";
  static constexpr TextField<TItemRetornoResetClass> kFields[] = {
      {"data", &TItemRetornoResetClass::data},
      {"uri", &TItemRetornoResetClass::uri},
  };
};

// ---- The mapping -------------------------------------------------------------

[[noreturn]] void ThrowNotAnObject() { throw ConversionError("The input value is not a valid Object"); }

[[noreturn]] void ThrowInvalidTypecast() { throw ConversionError("Invalid class typecast"); }

template <class Item>
Item ReadItem(const JsonNode& object) {
  Item item;
  for (const JsonNode& member : object.items) {
    for (const TextField<Item>& field : ItemClass<Item>::kFields) {
      if (!EqualsIgnoringAsciiCase(member.name, field.name)) continue;
      std::string& target = item.*field.field;
      switch (member.kind) {
        case JsonNode::Kind::kString:
        case JsonNode::Kind::kNumber: target = member.text; break;
        case JsonNode::Kind::kNull: target.clear(); break;
        case JsonNode::Kind::kTrue:
        case JsonNode::Kind::kFalse: ThrowInvalidTypecast();
        case JsonNode::Kind::kObject: break;  // ignored: the field keeps what it had
        case JsonNode::Kind::kArray:
          throw ConversionError(fmt::format(
              "Cannot set value for field {} as it is expected to be an array instead of {}", member.name, "string"));
      }
    }
  }
  return item;
}

template <class Item>
std::vector<std::optional<Item>> ReadList(const JsonNode& array) {
  std::vector<std::optional<Item>> list;
  list.reserve(array.items.size());
  for (const JsonNode& element : array.items) {
    switch (element.kind) {
      case JsonNode::Kind::kObject: list.emplace_back(ReadItem<Item>(element)); break;
      case JsonNode::Kind::kNull: list.emplace_back(std::nullopt); break;
      case JsonNode::Kind::kString:
      case JsonNode::Kind::kNumber:
      case JsonNode::Kind::kArray:
        // An array has no text of its own to show, so the message shows none.
        throw ConversionError(fmt::format("Value {} cannot be converted into {}. You may use a user-defined reverter",
                                          element.kind == JsonNode::Kind::kArray ? std::string_view() : element.text,
                                          ItemClass<Item>::kName));
      case JsonNode::Kind::kTrue:
      case JsonNode::Kind::kFalse: ThrowInvalidTypecast();
    }
  }
  return list;
}

// Reads a root class, whose one field is the list Items of `Item` records.
template <class Root, class Item>
std::optional<Root> ReadRoot(std::string_view text, std::string_view root_class_name) {
  std::optional<JsonNode> parsed = ParseJson(text);
  if (!parsed) {
    if (TrimControlsAndSpaces(text).empty()) return std::nullopt;
    ThrowNotAnObject();
  }
  if (parsed->kind == JsonNode::Kind::kNull) return std::nullopt;
  if (parsed->kind != JsonNode::Kind::kObject) ThrowNotAnObject();

  Root root;
  for (const JsonNode& member : parsed->items) {
    if (!EqualsIgnoringAsciiCase(member.name, "Items")) continue;
    switch (member.kind) {
      case JsonNode::Kind::kArray: root.Items = ReadList<Item>(member); break;
      case JsonNode::Kind::kNull: root.Items.clear(); break;
      case JsonNode::Kind::kObject: break;  // ignored: the list keeps what it had
      case JsonNode::Kind::kString:
      case JsonNode::Kind::kNumber:
        // "The value's text" is a number as written and a string's value with its
        // escapes resolved, without quotes: what the platform sent, as an operator
        // would recognise it in the log.
        throw ConversionError(
            fmt::format("Internal: Value {} cannot be converted to be assigned to field {} in type {}", member.text,
                        member.name, root_class_name));
      case JsonNode::Kind::kTrue:
      case JsonNode::Kind::kFalse: ThrowInvalidTypecast();
    }
  }
  return root;
}

}  // namespace

std::optional<TRootClass> TRootClass::FromJsonString(const std::string& AJsonString) {
  return ReadRoot<TRootClass, TItemClass>(AJsonString, "TRootClass");
}

std::optional<TRetornoResetClass> TRetornoResetClass::FromJsonString(const std::string& AJsonString) {
  return ReadRoot<TRetornoResetClass, TItemRetornoResetClass>(AJsonString, "TRetornoResetClass");
}

std::string WrapItems(const std::string& reply_json_text) { return "{\"Items\": " + reply_json_text + "}"; }

}  // namespace zendrel
