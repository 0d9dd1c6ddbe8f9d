// Host failures on Linux go to syslog as errors, and to standard error.
#include <syslog.h>

#include <cstdio>

#include "service/event_log.h"

namespace zendrel {

void ReportHostEvent(const std::string& source, const std::string& text) {
  openlog(source.c_str(), LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", text.c_str());
  closelog();
  std::fprintf(stderr, "%s: %s\n", source.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace zendrel
