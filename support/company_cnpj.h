// The narrow read that the API calls make of the settings row: the company's CNPJ.
// The service module registers the settings row it holds open; the API layer knows
// nothing else of it.
#pragma once

#include <string>
#include <string_view>

namespace zendrel {

// Something that reads one column of the settings row as text (NULL reads as "").
class SettingsTextReader {
 public:
  virtual ~SettingsTextReader() = default;
  // Throws when the row cannot be read (query closed, no such column).
  virtual std::string ReadText(std::string_view column) const = 0;
};

// Registers the settings row that CNPJEmpresa reads; nullptr unregisters.
void SetCompanySettingsRow(const SettingsTextReader* row);
// The row registered now (nullptr when none), so that a caller that registers its own
// for a while can put the earlier one back.
const SettingsTextReader* CompanySettingsRow();

// OnlyNumber of the column CGC of the registered settings row. Throws
// std::runtime_error when no row is registered, or the row's own error.
std::string CNPJEmpresa();

}  // namespace zendrel
