// The attachment: parameters, attach and detach, and reconnection.
#include "erp/connection.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "erp/database_error.h"
#include "erp/firebird_client.h"
#include "support/executable_folder.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

void AppendDpbString(std::string& dpb, char tag, std::string_view value) {
  // A DPB string item carries a one-byte length.
  const std::size_t length = std::min<std::size_t>(value.size(), 255);
  dpb += tag;
  dpb += static_cast<char>(length);
  dpb.append(value.substr(0, length));
}

// A text item declared UTF-8 by isc_dpb_utf8_filename: cut at a character's start
// when it is longer than an item can be.
void AppendDpbUtf8(std::string& dpb, char tag, std::string_view utf8) {
  std::string value = SanitizeUtf8(utf8);
  if (value.size() > 255) {
    std::size_t end = 255;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
    value.resize(end);
  }
  AppendDpbString(dpb, tag, value);
}

std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

std::string ProcessName() {
  try {
    return Utf8Path(ExecutablePath());
  } catch (const std::exception&) {
    return "Zendrel";
  }
}

// What the client itself would send: the working folder for an attachment on this
// machine ("localhost"), nothing for another server.
std::string WorkingFolderFor(const std::string& server) {
  if (server != "localhost") return {};
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::string() : Utf8Path(folder);
}

}  // namespace

Connection::Connection(ReconnectPolicy policy) : policy_(policy), client_library_(DefaultFirebirdClientName()) {}

Connection::~Connection() { Disconnect(); }

std::string Connection::Param(std::string_view name) const {
  const std::string wanted = AsciiUpper(name);
  for (const std::string& line : params_) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && AsciiUpper(line.substr(0, equals)) == wanted) {
      return line.substr(equals + 1);
    }
  }
  return {};
}

const FirebirdApi& Connection::api() const {
  if (!api_) throw DatabaseError("Conexão com o banco de dados não está aberta", DatabaseError::kDataLayer);
  return *api_;
}

void Connection::Connect() {
  if (Connected()) return;
  Attach();
}

void Connection::Attach() {
  if (!api_) api_ = LoadFirebirdClient(client_library_);
  std::string port = Param("Port");
  if (port.empty()) port = "3050";
  std::string charset = Param("CharacterSet");
  if (charset.empty()) charset = "ISO8859_1";
  // Firebird's TCP/IP notation: host/port:path. The path is sent as UTF-8 and the
  // server told so, so a folder with accents is found on any host.
  const std::string target = Param("Server") + "/" + port + ":" + Param("Database");

  std::string dpb;
  dpb += static_cast<char>(isc_dpb_version1);
  AppendDpbString(dpb, isc_dpb_user_name, Utf8ToLatin1(Param("User_Name")));
  AppendDpbString(dpb, isc_dpb_password, Utf8ToLatin1(Param("Password")));
  AppendDpbString(dpb, isc_dpb_lc_ctype, charset);
  dpb += static_cast<char>(isc_dpb_utf8_filename);
  dpb += '\0';
  dpb += static_cast<char>(isc_dpb_sql_dialect);
  dpb += '\4';
  dpb.append("\3\0\0\0", 4);
  // Left out, the client adds this program's path and working folder itself, read in
  // the system's character set and converted from it: a folder with an accent then
  // fails the attachment ("Cannot transliterate character between character sets"
  // from a Linux process in the C locale, where only ASCII converts). Given here in
  // UTF-8, as isc_dpb_utf8_filename declares the parameters' texts to be.
  AppendDpbUtf8(dpb, isc_dpb_process_name, ProcessName());
  AppendDpbUtf8(dpb, isc_dpb_working_directory, WorkingFolderFor(Param("Server")));

  ISC_STATUS_ARRAY status{};
  isc_db_handle handle = 0;
  api_->attach_database(status, static_cast<short>(target.size()), target.c_str(), &handle,
                        static_cast<short>(dpb.size()), dpb.data());
  CheckStatus(*api_, status);
  handle_ = handle;
  abandoned_ = false;
  ++generation_;
}

void Connection::Check(const ClientStatus* status) {
  if (status[0] != 1 || status[1] == 0) return;
  try {
    ThrowStatus(*api_, status);
  } catch (const DatabaseError& error) {
    if (error.connection_lost()) Abandon();
    throw;
  }
}

void Connection::Abandon() noexcept {
  if (handle_ == 0 || abandoned_) return;
  ISC_STATUS_ARRAY status{};
  api_->cancel_operation(status, &handle_, fb_cancel_abort);
  abandoned_ = true;
}

void Connection::ReleaseUsers(bool attachment_alive) noexcept {
  // Statements first: a transaction cannot end while a cursor of it is open.
  for (AttachmentUser* user : statements_) user->ReleaseHandles(attachment_alive);
  for (AttachmentUser* user : transactions_) user->ReleaseHandles(attachment_alive);
}

void Connection::Disconnect() noexcept {
  if (!Connected()) return;
  ReleaseUsers(!abandoned_);
  ISC_STATUS_ARRAY status{};
  api_->detach_database(status, &handle_);
  // A connection that is already gone refuses the detach; the handle is let go of
  // all the same, so the next Connect makes a new attachment.
  handle_ = 0;
}

void Connection::Reconnect() {
  Abandon();
  ReleaseUsers(false);
  if (handle_ != 0) {
    ISC_STATUS_ARRAY status{};
    api_->detach_database(status, &handle_);
    handle_ = 0;
  }
  const int attempts = std::max(1, policy_.attempts);
  for (int attempt = 1;; ++attempt) {
    if (attempt > 1) std::this_thread::sleep_for(policy_.pause);
    try {
      Attach();
      return;
    } catch (const DatabaseError&) {
      if (attempt >= attempts) throw;
    }
  }
}

void Connection::RunStatement(bool may_run_again, const std::function<void()>& work) {
  try {
    work();
    return;
  } catch (const DatabaseError& error) {
    if (!error.connection_lost()) throw;
    Reconnect();
    if (!may_run_again) throw;
  }
  work();
}

void Connection::Register(AttachmentUser* user, bool is_transaction) {
  (is_transaction ? transactions_ : statements_).push_back(user);
}

void Connection::Unregister(AttachmentUser* user) {
  std::erase(statements_, user);
  std::erase(transactions_, user);
}

}  // namespace zendrel
