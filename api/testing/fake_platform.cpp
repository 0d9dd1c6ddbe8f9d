// FakePlatform: the fake loyalty platform as a child process, controlled over its
// HTTP control endpoint with the host's own transport.
#include "api/testing/fake_platform.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

#include <fmt/format.h>

#include "api/testing/child_process.h"

#ifndef ZENDREL_PYTHON
#define ZENDREL_PYTHON "python3"
#endif

namespace zendrel {
namespace {

constexpr int kTenMinutesMs = 600000;

std::string ToHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::runtime_error("fake platform: bad hex digit");
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
  }
  return bytes;
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteString(JsonWriter& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string Text(const rapidjson::Value& object, const char* member) {
  if (!object.HasMember(member) || !object[member].IsString()) {
    throw std::runtime_error(fmt::format("fake platform: request record without {}", member));
  }
  return std::string(object[member].GetString(), object[member].GetStringLength());
}

}  // namespace

ScriptedReply ScriptedReply::Json(int status, std::string body) {
  return Text(status, std::move(body), "application/json; charset=utf-8");
}

ScriptedReply ScriptedReply::Text(int status, std::string body, std::string content_type) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  if (!content_type.empty()) reply.headers.emplace_back("Content-Type", std::move(content_type));
  return reply;
}

ScriptedReply ScriptedReply::Redirect(int status, std::string location) {
  ScriptedReply reply;
  reply.status = status;
  reply.headers.emplace_back("Location", std::move(location));
  return reply;
}

ScriptedReply ScriptedReply::CloseWithoutReply() {
  ScriptedReply reply;
  reply.close_without_reply = true;
  return reply;
}

ScriptedReply ScriptedReply::BreakTlsChannel() {
  ScriptedReply reply;
  reply.break_tls = true;
  return reply;
}

ScriptedReply ScriptedReply::NeverAnswer() {
  ScriptedReply reply;
  reply.delay_ms = kTenMinutesMs;
  return reply;
}

ScriptedReply& ScriptedReply::With(std::string name, std::string value) {
  headers.emplace_back(std::move(name), std::move(value));
  return *this;
}

FakePlatform::FakePlatform() = default;

FakePlatform::~FakePlatform() {
  try {
    Stop();
  } catch (...) {
    // A destructor must not throw; the child is killed by its own destructor.
  }
}

void FakePlatform::Start() {
  if (process_) return;
  process_ = ChildProcess::Start({ZENDREL_PYTHON, ZENDREL_FAKE_PLATFORM_SCRIPT});
  const std::string announcement = process_->ReadLine(60000);
  rapidjson::Document ports;
  ports.Parse(announcement.c_str());
  if (ports.HasParseError() || !ports.IsObject() || !ports.HasMember("http_port") || !ports.HasMember("https_port") ||
      !ports.HasMember("trusted_https_port") || !ports.HasMember("ca_file")) {
    process_.reset();
    throw std::runtime_error("fake platform: unexpected announcement: " + announcement);
  }
  http_port_ = ports["http_port"].GetInt();
  https_port_ = ports["https_port"].GetInt();
  trusted_https_port_ = ports["trusted_https_port"].GetInt();
  trusted_wrong_name_https_port_ =
      ports.HasMember("trusted_wrong_name_https_port") ? ports["trusted_wrong_name_https_port"].GetInt() : 0;
  ca_file_ = Text(ports, "ca_file");
  // Generous: a loaded machine may be slow to answer, and a control call never waits on purpose.
  control_ = NewHostHttpTransport(HttpTimeouts{30000, 30000, 30000, 30000});
}

void FakePlatform::Stop() {
  if (!process_) return;
  try {
    Control("POST", "shutdown");
  } catch (const std::exception&) {
    // Already gone or not answering: Terminate below ends it.
  }
  if (!process_->WaitForExit(5000)) process_->Terminate(2000);
  process_.reset();
  control_.reset();
}

std::string FakePlatform::BaseUrl() const { return fmt::format("http://127.0.0.1:{}", http_port_); }

std::string FakePlatform::HttpsBaseUrl() const { return fmt::format("https://127.0.0.1:{}", https_port_); }

std::string FakePlatform::TrustedHttpsBaseUrl() const {
  return fmt::format("https://127.0.0.1:{}", trusted_https_port_);
}

std::string FakePlatform::TrustedWrongNameHttpsBaseUrl() const {
  return fmt::format("https://127.0.0.1:{}", trusted_wrong_name_https_port_);
}

std::string FakePlatform::Control(std::string_view method, std::string_view action, std::string body) const {
  if (!control_) throw std::runtime_error("fake platform: not started");
  HttpRequest request;
  request.method = std::string(method);
  request.url = fmt::format("{}/__control/{}", BaseUrl(), action);
  if (method == "POST") {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = std::move(body);
  }
  HttpExchange exchange = control_->Exchange(request);
  if (!exchange.replied()) {
    throw std::runtime_error(fmt::format("fake platform: control {} failed: {}", action, exchange.failure));
  }
  if (exchange.reply->status >= 300) {
    throw std::runtime_error(
        fmt::format("fake platform: control {} answered {}: {}", action, exchange.reply->status, exchange.reply->body));
  }
  return exchange.reply->body;
}

void FakePlatform::Script(std::string_view method, std::string_view path, std::vector<ScriptedReply> replies) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  writer.Key("path");
  WriteString(writer, path);
  if (!method.empty()) {
    writer.Key("method");
    WriteString(writer, method);
  }
  writer.Key("replies");
  writer.StartArray();
  for (const ScriptedReply& reply : replies) {
    writer.StartObject();
    writer.Key("status");
    writer.Int(reply.status);
    writer.Key("headers");
    writer.StartArray();
    for (const auto& [name, value] : reply.headers) {
      writer.StartArray();
      WriteString(writer, name);
      WriteString(writer, value);
      writer.EndArray();
    }
    writer.EndArray();
    writer.Key("body_hex");
    WriteString(writer, ToHex(reply.body));
    writer.Key("delay_ms");
    writer.Int(reply.delay_ms);
    writer.Key("close");
    writer.Bool(reply.close_without_reply);
    writer.Key("break_tls");
    writer.Bool(reply.break_tls);
    writer.Key("content_length");
    writer.Bool(reply.content_length);
    writer.Key("trickle_ms");
    writer.Int(reply.trickle_ms);
    writer.Key("repeat");
    writer.Int(reply.repeat);
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  Control("POST", "script", std::string(buffer.GetString(), buffer.GetSize()));
}

void FakePlatform::ScriptRedirectChain(std::string_view first_path, int count, int status,
                                       std::string_view final_path) {
  std::string from(first_path);
  for (int step = 1; step <= count; ++step) {
    const std::string to = step == count ? std::string(final_path) : fmt::format("/__redirect/{}", step);
    Script(from, {ScriptedReply::Redirect(status, to)});
    from = to;
  }
}

std::vector<RecordedRequest> FakePlatform::Requests() const {
  const std::string listing = Control("GET", "requests");
  rapidjson::Document document;
  document.Parse(listing.c_str(), listing.size());
  if (document.HasParseError() || !document.IsArray()) {
    throw std::runtime_error("fake platform: unreadable request list");
  }
  std::vector<RecordedRequest> requests;
  for (const rapidjson::Value& entry : document.GetArray()) {
    RecordedRequest request;
    request.scheme = Text(entry, "scheme");
    request.method = Text(entry, "method");
    request.path = Text(entry, "path");
    request.query = Text(entry, "query");
    request.body = FromHex(Text(entry, "body_hex"));
    for (const rapidjson::Value& header : entry["headers"].GetArray()) {
      request.headers.emplace_back(std::string(header[0].GetString(), header[0].GetStringLength()),
                                   std::string(header[1].GetString(), header[1].GetStringLength()));
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

void FakePlatform::StallHandshakes(bool stall) { Control("POST", "stall_handshakes", stall ? "true" : "false"); }

AcceptedConnections FakePlatform::Connections() const {
  const std::string counts = Control("GET", "connections");
  rapidjson::Document document;
  document.Parse(counts.c_str(), counts.size());
  const auto count = [&document](const char* listener) {
    if (!document.IsObject() || !document.HasMember(listener) || !document[listener].IsInt()) {
      throw std::runtime_error("fake platform: unreadable connection counts");
    }
    return document[listener].GetInt();
  };
  if (document.HasParseError()) throw std::runtime_error("fake platform: unreadable connection counts");
  return AcceptedConnections{count("http"), count("https"), count("https_trusted"), count("https_trusted_wrong_name")};
}

void FakePlatform::Reset() { Control("POST", "reset"); }

}  // namespace zendrel
