// Creation of the service module and the process-wide handler of exceptions escaping
// a tick.
#include "service/service_module.h"

#include "erp/site_settings.h"
#include "support/company_cnpj.h"
#include "support/executable_folder.h"
#include "support/log_file.h"

namespace zendrel {

TSrvZendrel::TSrvZendrel(MainLoop& loop, ModuleSettings settings)
    : erp(settings.erp),
      loop_(loop),
      settings_(settings),
      folder_(settings.settings_folder.empty() ? ExecutableFolder() : settings.settings_folder),
      clock_(settings.clock != nullptr ? *settings.clock : SystemClock()),
      campaigns_(
          erp, clock_, [&loop] { loop.ProcessPending(); }, &run_stop_),
      cycle_state_(CycleStateFilePath(folder_), clock_, settings_.interval) {
  campaigns_.SetProgress(&cycle_state_);
  Timer1 = loop_.CreateTimer([this] { Timer1Timer(); });
  Timer1->SetInterval(settings_.first_interval);
  // The API calls read the company's CNPJ from the settings row this module holds.
  SetCompanySettingsRow(&erp.TBPadrao);
  ServiceCreate();
}

TSrvZendrel::~TSrvZendrel() {
  Timer1.reset();
  SetCompanySettingsRow(nullptr);
  erp.Connquimero.Disconnect();
}

void TSrvZendrel::ServiceCreate() {
  loop_.SetExceptionHandler([this](const std::exception& e) { ManipulaExcecoes(e); });
}

void TSrvZendrel::ManipulaExcecoes(const std::exception& error) { DoSaveLog(error.what()); }

void TSrvZendrel::CarregarParametrosConexao(const std::string& user, const std::string& password) {
  zendrel::CarregarParametrosConexao(erp.Connquimero, user, password, folder_);
}

}  // namespace zendrel
