// Writing and reading the state file.
#include "service/cycle_state_file.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "support/log_file.h"
#include "support/service_account.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

// Between two writes while movements are being accepted: often enough for "at least
// once a minute", rarely enough that a backlog of thousands costs nothing.
constexpr auto kProgressWriteSpacing = std::chrono::seconds(10);

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

// The one place a state file comes into being, so that whatever a host needs for a
// new file (its owner) is done here.
// The temporary file is new, under a random name: one that exists already (a link
// planted in the folder the service's user may write, for a run as root to write
// through) is refused, never opened.
std::ofstream CreateStateFile(const fs::path& path) {
  std::error_code error;
  if (fs::symlink_status(path, error).type() != fs::file_type::not_found) {
    throw std::runtime_error("já existe " + PathText(path));
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("não foi possível criar " + PathText(path));
  // A file a run as root makes must stay one the service's user can replace.
  if (const std::string refused = GiveToServiceUser(path); !refused.empty()) {
    throw std::runtime_error(fmt::format("não foi possível dar {} ao usuário do serviço: {}", PathText(path), refused));
  }
  return out;
}

}  // namespace

fs::path CycleStateFilePath(const fs::path& folder) { return folder / "Zendrel.state"; }

void ReplaceStateFile(const fs::path& path, const std::string& text) {
  // A name of its own per writer, in the same folder, so that the rename replaces the
  // old file in one step and two writers never share a half-written file.
  std::random_device random;
  const fs::path temporary = path.parent_path() / fmt::format("{}.{:08x}.tmp", path.filename().string(), random());
  {
    std::ofstream out = CreateStateFile(temporary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw std::runtime_error("não foi possível escrever " + PathText(temporary));
    }
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw std::runtime_error(fmt::format("não foi possível substituir {}: {}", PathText(path), error.message()));
  }
}

CycleStateRead ReadCycleStateFile(const fs::path& path) {
  CycleStateRead read;
  std::error_code error;
  if (!fs::exists(path, error)) {
    if (error) read.error = error.message();
    return read;
  }
  read.found = true;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in) {
    read.error = "não foi possível ler o arquivo";
    return read;
  }
  read.state = ParseCycleState(text.str());
  if (!read.state) read.error = "o conteúdo não é um registro de ciclo";
  return read;
}

CycleStateRecorder::CycleStateRecorder(fs::path path, const Clock& clock, std::chrono::milliseconds interval)
    : path_(std::move(path)), clock_(clock) {
  state_.interval_ms = interval.count();
}

void CycleStateRecorder::CycleStarted() {
  const std::int64_t interval_ms = state_.interval_ms;
  state_ = CycleState{};
  state_.interval_ms = interval_ms;
  state_.started = clock_.Now();
  current_.reset();
  last_exchange_failure_.clear();
  Write();
}

void CycleStateRecorder::CycleEnded(CycleEnd end, const std::string& error) {
  state_.end = end;
  state_.error = error;
  state_.ended = clock_.Now();
  Write();
}

void CycleStateRecorder::ExchangeFailed(const std::string& reason) { last_exchange_failure_ = reason; }

void CycleStateRecorder::CertificateWaived(const std::string& reason) {
  if (!current_) return;
  CampaignRun& run = Run(*current_);
  if (run.certificate_waived.empty()) {
    run.certificate_waived = reason;
    Write();
  }
}

CampaignRun& CycleStateRecorder::Run(TTipoCampanha campaign) {
  return campaign == TTipoCampanha::tcPontos ? state_.pontos : state_.top_vendas;
}

void CycleStateRecorder::CampaignStarted(TTipoCampanha campaign, std::optional<std::int64_t> stored_index) {
  current_ = campaign;
  last_exchange_failure_.clear();
  CampaignRun& run = Run(campaign);
  run = CampaignRun{};
  run.ran = true;
  run.index_before = stored_index;
  run.index_after = stored_index;
  Write(true);
}

void CycleStateRecorder::IndexWritten(TTipoCampanha campaign, std::int64_t index) { Run(campaign).index_after = index; }

void CycleStateRecorder::MovementAccepted(TTipoCampanha campaign, std::int64_t /*number*/) {
  ++Run(campaign).accepted;
  last_exchange_failure_.clear();
  Write(true);
}

void CycleStateRecorder::MovementRefused(TTipoCampanha campaign, std::int64_t number, int status,
                                         const std::string& message) {
  CampaignStop& stop = Run(campaign).stop;
  // No reply, or a server error: the call's failure branch, whose reason only the
  // transport knows.
  const bool transport = status == 0 || (status >= 500 && status <= 599);
  stop.kind = transport ? CampaignStopKind::kTransport : CampaignStopKind::kRefused;
  stop.movement = number;
  stop.status = status;
  stop.message = message;
  stop.transport = transport ? last_exchange_failure_ : std::string();
  Write();
}

void CycleStateRecorder::MovementUnreadable(TTipoCampanha campaign, std::int64_t number, const std::string& error) {
  CampaignStop& stop = Run(campaign).stop;
  stop.kind = CampaignStopKind::kUnreadable;
  stop.movement = number;
  stop.message = error;
  Write();
}

void CycleStateRecorder::IndexWriteFailed(TTipoCampanha campaign, std::int64_t number, const std::string& error) {
  CampaignStop& stop = Run(campaign).stop;
  stop.kind = CampaignStopKind::kIndexNotWritten;
  stop.movement = number;
  stop.status = 200;
  stop.message = error;
  Write();
}

void CycleStateRecorder::HeldByTill(TTipoCampanha campaign, const std::string& holders) {
  CampaignStop& stop = Run(campaign).stop;
  stop.kind = CampaignStopKind::kHeldByTill;
  stop.message = holders;
  Write();
}

void CycleStateRecorder::CampaignEnded(TTipoCampanha campaign) {
  Run(campaign).ended = true;
  current_.reset();
  Write();
}

void CycleStateRecorder::Write(bool when_due) {
  const auto now = std::chrono::steady_clock::now();
  if (when_due && now - last_write_ < kProgressWriteSpacing) return;
  last_write_ = now;
  state_.updated = clock_.Now();
  try {
    ReplaceStateFile(path_, CycleStateJson(state_));
  } catch (const std::exception& e) {
    if (failure_logged_) return;
    failure_logged_ = true;
    try {
      DoSaveLog("Não foi possível gravar o registro do ciclo para -status: " + std::string(e.what()));
    } catch (const std::exception&) {
      // The log's own failure reaches the operator through the cycle's next entry.
    }
  }
}

}  // namespace zendrel
