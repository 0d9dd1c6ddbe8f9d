// Writes a reply body out again in the indented layout that TraduzErro cuts its
// messages from and the record reading reads back. The layout is written while the
// body is read, so no tree is built and nothing recurses.
#include "api/reply_json_text.h"

#include <vector>

#include "api/json_reader.h"

namespace zendrel {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class LayoutWriter final : public JsonEvents {
 public:
  std::string Take() { return std::move(out_); }

  bool Null() override { return Scalar("null"); }
  bool Bool(bool value) override { return Scalar(value ? "true" : "false"); }
  bool Number(std::string_view text) override { return Scalar(text); }
  bool String(std::string_view value) override {
    BeginValue();
    WriteQuoted(value);
    return true;
  }

  bool StartObject() override { return Open('{'); }
  bool Name(std::string_view name) override {
    NextLine();
    WriteQuoted(name);
    out_ += ": ";
    return true;
  }
  bool EndObject() override { return Close('}'); }
  bool StartArray() override { return Open('['); }
  bool EndArray() override { return Close(']'); }

 private:
  struct OpenContainer {
    bool is_array;
    bool has_items;
  };
  std::vector<OpenContainer> open_;
  std::string out_;

  void Indent(std::size_t levels) { out_.append(levels * 4, ' '); }

  // Ends the previous member or element of the innermost container, if any, and
  // indents the next one.
  void NextLine() {
    if (open_.back().has_items) {
      out_ += ',';
      out_ += kLineEnd;
    }
    open_.back().has_items = true;
    Indent(open_.size());
  }

  // A member's value follows its name on the same line; an array element starts a
  // line of its own.
  void BeginValue() {
    if (!open_.empty() && open_.back().is_array) NextLine();
  }

  bool Scalar(std::string_view text) {
    BeginValue();
    out_ += text;
    return true;
  }

  bool Open(char bracket) {
    BeginValue();
    out_ += bracket;
    out_ += kLineEnd;
    open_.push_back({bracket == '[', false});
    return true;
  }

  bool Close(char bracket) {
    if (open_.back().has_items) out_ += kLineEnd;
    open_.pop_back();
    Indent(open_.size());
    out_ += bracket;
    return true;
  }

  // Only these eight characters are escaped; control characters other than these
  // and every non-ASCII byte go out as they came in.
  void WriteQuoted(std::string_view text) {
    out_ += '"';
    for (char c : text) {
      switch (c) {
        case '\b': out_ += "\\b"; break;
        case '\t': out_ += "\\t"; break;
        case '\n': out_ += "\\n"; break;
        case '\f': out_ += "\\f"; break;
        case '\r': out_ += "\\r"; break;
        case '"': out_ += "\\\""; break;
        case '/': out_ += "\\/"; break;
        case '\\': out_ += "\\\\"; break;
        default: out_ += c; break;
      }
    }
    out_ += '"';
  }
};

}  // namespace

std::string ReplyJsonText(std::string_view body) {
  if (body.starts_with(kByteOrderMark)) body.remove_prefix(kByteOrderMark.size());
  LayoutWriter writer;
  if (!ReadJson(body, writer)) return {};
  return writer.Take();
}

}  // namespace zendrel
