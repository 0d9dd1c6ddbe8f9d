// One log line a day per campaign when the platform's certificate failed verification
// and the calls went on with the checks waived: a site that runs over a broken
// certificate sends its customers' CPFs without knowing who reads them.
//
// The memory of the day already told lives in the process (the service module), not
// in a file: the cycle reads nothing of what it wrote earlier, neither the log nor the
// state file. A restarted service, and each "-once" run (a process of its own), tells
// it once more on its first such call.
#pragma once

#include <optional>
#include <string>

#include "support/date_time.h"
#include "sync/cycle_progress.h"

namespace zendrel {

class WaivedCertificateNotice {
 public:
  // Writes the line for `campaign` (the platform at `url`, failed for `reason`) unless
  // this process already did on `today`. Throws when the log cannot be written.
  void Note(TTipoCampanha campaign, const std::string& url, const std::string& reason, const DateTime& today);

 private:
  std::optional<DateTime> told_on_[2];
};

}  // namespace zendrel
