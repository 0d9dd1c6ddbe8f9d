// The status report's question to the platform: the reset question of one campaign
// (a GET that changes nothing), with the transport's word on why no usable reply came
// and whether a certificate check was waived, and what the answer means for the
// campaign's calls.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "api/api_settings.h"
#include "service/status_printer.h"
#include "support/clock.h"
#include "support/log_file.h"

namespace zendrel {

// A log file of its own in the temporary folder, removed at the end: the calls write
// their transport failures there instead of into the service's log.
class ThrowawayLog {
 public:
  explicit ThrowawayLog(const Clock& clock);
  ~ThrowawayLog();
  ThrowawayLog(const ThrowawayLog&) = delete;
  ThrowawayLog& operator=(const ThrowawayLog&) = delete;

  // The messages written since the last call, without their timestamps.
  std::vector<std::string> TakeMessages();

 private:
  std::filesystem::path path_;
  LogRedirect redirect_;
  std::size_t taken_ = 0;
};

// Why the exchanges of one question got no usable reply, and any certificate whose
// checks were waived: the calls log only "no reply", the operator needs the reason.
struct ExchangeNotes {
  std::vector<std::string> failures;  // the cause and its fix, then the client's own text
  std::vector<std::string> waived_certificates;

  void Clear() {
    failures.clear();
    waived_certificates.clear();
  }
};

// `api` with every exchange noted in `notes`.
ApiSettings RecordingExchanges(const ApiSettings& api, ExchangeNotes& notes);

// Asks the platform at `url` the reset question and prints its answer (the calls'
// log lines go to `log`, the transport's to `notes`). Returns why the campaign's
// calls cannot work (empty when the platform answered as it should).
std::string ReportPlatform(StatusPrinter& print, const std::string& url, ThrowawayLog& log, ExchangeNotes& notes);

}  // namespace zendrel
