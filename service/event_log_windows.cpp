// Host failures on Windows go to the Windows event log: one error entry (category 0,
// event identifier 0, one string) under the given source.
#include <windows.h>

#include <map>
#include <mutex>

#include "service/event_log.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

// Event sources registered so far, one per source name; registered at the first
// entry and released when the process's table goes away at exit.
class EventSources {
 public:
  ~EventSources() {
    for (auto& [name, handle] : handles_) DeregisterEventSource(handle);
  }

  HANDLE For(const std::string& source) {
    auto found = handles_.find(source);
    if (found != handles_.end()) return found->second;
    HANDLE handle = RegisterEventSourceW(nullptr, Widen(source).c_str());
    if (handle != nullptr) handles_.emplace(source, handle);
    return handle;
  }

 private:
  std::map<std::string, HANDLE> handles_;
};

}  // namespace

void ReportHostEvent(const std::string& source, const std::string& text) {
  static std::mutex mutex;
  static EventSources sources;
  std::lock_guard lock(mutex);
  HANDLE handle = sources.For(source);
  if (handle == nullptr) return;
  const std::wstring wide = Widen(text);
  const wchar_t* strings[] = {wide.c_str()};
  ReportEventW(handle, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

}  // namespace zendrel
