// The status report's two forms.
#include "service/status_printer.h"

#include <rapidjson/ostreamwrapper.h>
#include <rapidjson/prettywriter.h>

#include "support/text_codec.h"

namespace zendrel {
namespace {

constexpr std::size_t kLabelWidth = 27;

// The ASCII letter an accented Latin-1 letter is written with, or 0.
char Unaccented(char latin1) {
  static const std::string kAccented = Utf8ToLatin1("áàâãäçéèêëíìîïñóòôõöúùûüÁÀÂÃÄÇÉÈÊËÍÌÎÏÑÓÒÔÕÖÚÙÛÜ");
  static constexpr std::string_view kPlain = "aaaaaceeeeiiiinooooouuuuaaaaaceeeeiiiinooooouuuu";
  const std::size_t at = kAccented.find(latin1);
  return at == std::string::npos ? '\0' : kPlain[at];
}

void WriteString(rapidjson::PrettyWriter<rapidjson::OStreamWrapper>& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

}  // namespace

std::string JsonKey(std::string_view label) {
  std::string key;
  bool gap = false;
  // Every letter with an accent that a label holds is in Latin-1; others become "?".
  for (const char c : Utf8ToLatin1(label)) {
    char plain = '\0';
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      plain = c;
    } else if (c >= 'A' && c <= 'Z') {
      plain = static_cast<char>(c - 'A' + 'a');
    } else {
      plain = Unaccented(c);
    }
    if (plain == '\0') {
      gap = true;
      continue;
    }
    if (gap && !key.empty()) key += '_';
    gap = false;
    key += plain;
  }
  return key;
}

StatusPrinter::Block& StatusPrinter::Current() {
  if (sections_.empty()) sections_.push_back(Block{});
  Block& section = sections_.back();
  return in_group_ && !section.groups.empty() ? section.groups.back() : section;
}

void StatusPrinter::Heading(std::string_view moment) {
  moment_ = std::string(moment);
  if (format_ == StatusFormat::kText) out_ << "Zendrel - situação em " << moment << '\n';
}

void StatusPrinter::Title(std::string_view title, std::string_view key) {
  in_group_ = false;
  sections_.push_back(Block{std::string(key), {}, {}, {}});
  if (format_ == StatusFormat::kText) out_ << '\n' << title << '\n';
}

void StatusPrinter::Group(std::string_view title, std::string_view key) {
  Current();  // a section to hold the group
  sections_.back().groups.push_back(Block{std::string(key), {}, {}, {}});
  in_group_ = true;
  if (format_ == StatusFormat::kText) out_ << "  " << title << '\n';
}

void StatusPrinter::Line(std::string_view label, std::string_view value) {
  if (format_ == StatusFormat::kJson) {
    Current().members.push_back(Member{JsonKey(label), {std::string(value)}, false});
    return;
  }
  std::string head = "  " + std::string(label);
  const std::size_t length = Utf8Length(head);
  if (length < kLabelWidth) head.append(kLabelWidth - length, ' ');
  head += ": ";
  const std::string indent(kLabelWidth + 2, ' ');
  std::size_t start = 0;
  bool first = true;
  while (true) {
    const std::size_t end = value.find('\n', start);
    std::string_view part = value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
    out_ << (first ? head : indent) << part << '\n';
    first = false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void StatusPrinter::ListLine(std::string_view label, const std::vector<std::string>& items) {
  if (format_ == StatusFormat::kJson) {
    Current().members.push_back(Member{JsonKey(label), items, true});
    return;
  }
  std::string joined;
  for (const std::string& item : items) joined += (joined.empty() ? "" : "\n") + item;
  Line(label, joined);
}

void StatusPrinter::LogEntry(std::string_view entry) {
  if (format_ == StatusFormat::kJson) {
    Current().entries.emplace_back(entry);
    return;
  }
  std::size_t start = 0;
  while (start <= entry.size()) {
    const std::size_t end = entry.find('\n', start);
    out_ << "  " << entry.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start) << '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void StatusPrinter::Note(std::string_view text) {
  if (format_ == StatusFormat::kJson) {
    Current().members.push_back(Member{"nota", {std::string(text)}, false});
    return;
  }
  out_ << "  " << text << '\n';
}

void StatusPrinter::Finish(int exit_status) {
  if (format_ != StatusFormat::kJson) return;
  rapidjson::OStreamWrapper stream(out_);
  rapidjson::PrettyWriter<rapidjson::OStreamWrapper> writer(stream);
  writer.SetIndent(' ', 2);
  const auto write_block = [&writer](const Block& block, const auto& self) -> void {
    writer.StartObject();
    for (const Member& member : block.members) {
      writer.Key(member.key.c_str());
      if (member.list) {
        writer.StartArray();
        for (const std::string& value : member.values) WriteString(writer, value);
        writer.EndArray();
      } else {
        WriteString(writer, member.values.front());
      }
    }
    for (const Block& group : block.groups) {
      writer.Key(group.key.c_str());
      self(group, self);
    }
    if (!block.entries.empty() || block.key == "log") {
      writer.Key("entradas");
      writer.StartArray();
      for (const std::string& entry : block.entries) WriteString(writer, entry);
      writer.EndArray();
    }
    writer.EndObject();
  };
  writer.StartObject();
  writer.Key("situacao_em");
  WriteString(writer, moment_);
  for (const Block& section : sections_) {
    writer.Key(section.key.c_str());
    write_block(section, write_block);
  }
  writer.Key("codigo_saida");
  writer.Int(exit_status);
  writer.EndObject();
  out_ << '\n';
}

}  // namespace zendrel
