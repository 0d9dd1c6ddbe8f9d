// On Windows the service (LocalSystem) and an administrator may both write the files
// beside the executable: nothing is handed over.
#include "support/service_account.h"

namespace zendrel {

std::string GiveToServiceUser(const std::filesystem::path&) { return ""; }

std::string GiveToServiceUser(const std::filesystem::path&, const std::string&) { return ""; }

}  // namespace zendrel
