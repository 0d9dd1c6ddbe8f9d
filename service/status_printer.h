// How the status report is written: the aligned text an operator reads, or one JSON
// object for the monitoring tools of a chain that runs many stores. The report says
// the same in both; the text is written as the report goes (the platform may take its
// time), the JSON once it is complete.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zendrel {

enum class StatusFormat { kText, kJson };

// The JSON object: the report's moment as "situacao_em", one member per section
// (named by the key each section is given), each line of a section as a member named
// after its label (JsonKey), the log's entries as an array "entradas", notes as
// "nota", and "codigo_saida" with the exit status.
class StatusPrinter {
 public:
  StatusPrinter(std::ostream& out, StatusFormat format) : out_(out), format_(format) {}

  // The first line: "Zendrel - situação em <moment>".
  void Heading(std::string_view moment);

  // A section under `title`; `key` names it in JSON.
  void Title(std::string_view title, std::string_view key);

  // A group of lines inside the section (the platform's answer for one campaign),
  // written as its title indented; `key` names it in JSON.
  void Group(std::string_view title, std::string_view key);

  // "label : value" with the values in one column; a value of several lines continues
  // under its first line.
  void Line(std::string_view label, std::string_view value);

  // As Line with the items one per line; a JSON array.
  void ListLine(std::string_view label, const std::vector<std::string>& items);

  // A log entry (its lines indented); in JSON an element of "entradas".
  void LogEntry(std::string_view entry);

  // A remark of the section in place of its lines ("(o arquivo não existe)").
  void Note(std::string_view text);

  // Writes the JSON object (nothing more is needed for the text).
  void Finish(int exit_status);

 private:
  struct Member {
    std::string key;
    std::vector<std::string> values;
    bool list = false;
  };
  struct Block {
    std::string key;
    std::vector<Member> members;
    std::vector<Block> groups;
    std::vector<std::string> entries;
  };

  Block& Current();

  std::ostream& out_;
  StatusFormat format_;
  std::string moment_;
  std::vector<Block> sections_;
  bool in_group_ = false;
};

// The JSON member name of a label: its letters and digits, accents removed and
// upper case lowered, everything else one "_" ("SYSDBA, senha principal" gives
// "sysdba_senha_principal", "Índice de envio" gives "indice_de_envio").
std::string JsonKey(std::string_view label);

}  // namespace zendrel
