// The service's state on Windows: the Service Control Manager's status and start type
// of SrvZendrel.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <fmt/format.h>

#include "service/service_host.h"
#include "service/service_state.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "parado (SERVICE_STOPPED)";
    case SERVICE_START_PENDING: return "iniciando (SERVICE_START_PENDING)";
    case SERVICE_STOP_PENDING: return "parando (SERVICE_STOP_PENDING)";
    case SERVICE_RUNNING: return "em execução (SERVICE_RUNNING)";
    case SERVICE_CONTINUE_PENDING: return "continuando (SERVICE_CONTINUE_PENDING)";
    case SERVICE_PAUSE_PENDING: return "pausando (SERVICE_PAUSE_PENDING)";
    case SERVICE_PAUSED: return "pausado (SERVICE_PAUSED)";
    default: return "estado desconhecido";
  }
}

const char* StartTypeName(DWORD start_type) {
  switch (start_type) {
    case SERVICE_AUTO_START: return "início automático";
    case SERVICE_DEMAND_START: return "início manual";
    case SERVICE_DISABLED: return "desativado";
    default: return "outro tipo de início";
  }
}

// Seconds since the service's process was created.
std::optional<std::int64_t> ProcessAge(DWORD process_id) {
  if (process_id == 0) return std::nullopt;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return std::nullopt;
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
  CloseHandle(process);
  if (!known) return std::nullopt;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return (ticks(now) - ticks(created)) / 10000000;  // 100 ns ticks
}

class ScmServiceStateProbe final : public ServiceStateProbe {
 public:
  ServiceState Query() const override {
    ServiceState state;
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
      state.detail = "o Gerenciador de Serviços não respondeu: " + SystemErrorText(GetLastError());
      return state;
    }
    ServiceHandle service(
        OpenServiceW(manager.get(), Widen(kServiceName).c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) {
      const DWORD error = GetLastError();
      if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
        state.known = true;
        state.detail = "o serviço não está registrado";
      } else {
        state.detail = "o Gerenciador de Serviços não deixou ver o serviço: " + SystemErrorText(error);
      }
      return state;
    }
    state.known = true;
    state.installed = true;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof(status),
                              &needed)) {
      state.known = false;
      state.detail = "o estado do serviço não pôde ser lido: " + SystemErrorText(GetLastError());
      return state;
    }
    // Paused still cycles: only the worker thread is suspended.
    state.running = status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING;
    if (state.running) state.running_for_s = ProcessAge(status.dwProcessId);
    std::string start_type = "tipo de início desconhecido";
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > 0) {
      std::vector<BYTE> buffer(needed);
      auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
      if (QueryServiceConfigW(service.get(), config, needed, &needed)) start_type = StartTypeName(config->dwStartType);
    }
    state.detail = fmt::format("{}, {}", StateName(status.dwCurrentState), start_type);
    return state;
  }
};

}  // namespace

std::unique_ptr<ServiceStateProbe> NewHostServiceStateProbe() { return std::make_unique<ScmServiceStateProbe>(); }

}  // namespace zendrel
