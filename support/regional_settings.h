// The regional settings the system works with: Brazilian Portuguese, fixed, so that
// a server installed in another language behaves exactly like a Brazilian one.
#pragma once

#include <string>

namespace zendrel {

struct RegionalSettings {
  char date_separator = '/';
  char time_separator = ':';
  char decimal_separator = ',';
  char thousand_separator = '.';
  std::string short_date_format = "dd/MM/yyyy";
};

// The one value the whole program reads.
const RegionalSettings& Regional();

}  // namespace zendrel
