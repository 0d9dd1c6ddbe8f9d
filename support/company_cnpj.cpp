// The company's CNPJ, read from the settings row that the service module registers.
#include "support/company_cnpj.h"

#include <stdexcept>

#include "support/conversions.h"

namespace zendrel {
namespace {

// Set and read on the poll cycle's thread only.
const SettingsTextReader* registered_row = nullptr;

}  // namespace

void SetCompanySettingsRow(const SettingsTextReader* row) { registered_row = row; }

const SettingsTextReader* CompanySettingsRow() { return registered_row; }

std::string CNPJEmpresa() {
  if (registered_row == nullptr) {
    throw std::runtime_error("CNPJEmpresa: no settings row is open to read the column CGC from");
  }
  return OnlyNumber(registered_row->ReadText("CGC"));
}

}  // namespace zendrel
