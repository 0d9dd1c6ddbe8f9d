// A GoogleTest fixture for the API calls against the fake platform: one platform
// per test suite (forgotten scripts and requests before each test), the log
// redirected to a temporary file at a fixed moment, a settings row that gives the
// company's CNPJ, and short time-outs.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "api/api_settings.h"
#include "api/testing/fake_platform.h"
#include "api/testing/fake_platform_suite.h"
#include "support/clock.h"
#include "support/errors.h"
#include "support/company_cnpj.h"
#include "support/log_file.h"
#include "support/log_file_host.h"

namespace zendrel {

// A settings row holding only the column CGC.
class FakeSettingsRow final : public SettingsTextReader {
 public:
  explicit FakeSettingsRow(std::string cgc) : cgc_(std::move(cgc)) {}
  std::string ReadText(std::string_view column) const override {
    if (column == "CGC") return cgc_;
    throw std::runtime_error("FakeSettingsRow: no column " + std::string(column));
  }

 private:
  std::string cgc_;
};

class ApiCallTest : public FakePlatformSuite {
 protected:
  static constexpr char kCgc[] = "12.345.678/0001-90";
  static constexpr char kCnpj[] = "12345678000190";
  static constexpr DateTime kNow{2021, 9, 23, 14, 5, 9, 0};

  void SetUp() override {
    platform_->Reset();
    log_path_ = std::filesystem::temp_directory_path() /
                ("zendrel_api_test_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
    std::filesystem::remove(log_path_);
    log_redirect_ = std::make_unique<LogRedirect>(log_path_, clock_);
    SetCompanySettingsRow(&settings_row_);
    ApiSettings settings;
    settings.clock = &clock_;
    settings.timeouts = HttpTimeouts{5000, 5000, 5000, 5000};
    api_settings_ = std::make_unique<ScopedApiSettings>(std::move(settings));
  }

  void TearDown() override {
    api_settings_.reset();
    SetCompanySettingsRow(nullptr);
    log_redirect_.reset();
    std::filesystem::remove(log_path_);
  }

  // Puts time-outs of `ms` in force for the rest of the test.
  void UseTimeouts(int ms) {
    ApiSettings settings;
    settings.clock = &clock_;
    settings.timeouts = HttpTimeouts{ms, ms, ms, ms};
    api_settings_.reset();
    api_settings_ = std::make_unique<ScopedApiSettings>(std::move(settings));
  }

  // Puts `limits` in force for the rest of the test.
  void UseLimits(const HttpTimeouts& limits) {
    ApiSettings settings;
    settings.clock = &clock_;
    settings.timeouts = limits;
    api_settings_.reset();
    api_settings_ = std::make_unique<ScopedApiSettings>(std::move(settings));
  }

  // Makes the transport trust `trust`'s authorities for the rest of the test.
  void UseTrust(const HttpsTrust& trust) {
    ApiSettings settings;
    settings.clock = &clock_;
    settings.timeouts = HttpTimeouts{5000, 5000, 5000, 5000};
    settings.trust = trust;
    api_settings_.reset();
    api_settings_ = std::make_unique<ScopedApiSettings>(std::move(settings));
  }

  // Points the log at a file that cannot be written (its folder does not exist).
  void UseUnwritableLog() {
    log_redirect_.reset();
    log_redirect_ = std::make_unique<LogRedirect>(log_path_.parent_path() / "zendrel-no-such-folder" / "x.log", clock_);
  }

  // Makes the next log write fail (the host refuses to give the moment of its
  // entry) and the writes after it succeed again.
  void UseLogThatFailsOnce() {
    log_redirect_.reset();
    failing_once_clock_.FailNextReading();
    log_redirect_ = std::make_unique<LogRedirect>(log_path_, failing_once_clock_);
  }

  // The messages of the log's entries, in order (each entry's timestamp must be the
  // fixed moment).
  std::vector<std::string> LogMessages() const {
    std::ifstream file(log_path_, std::ios::binary);
    std::stringstream content_stream;
    content_stream << file.rdbuf();
    std::string content = content_stream.str();
    if (content.starts_with("\xEF\xBB\xBF")) {
      content.erase(0, 3);
    } else {
      content = DecodeUnmarkedLog(content);  // the ANSI code page on Windows
    }
    const std::string marker = "\r\n" + FormatLogTimestamp(kNow) + " - ";
    std::vector<std::string> messages;
    size_t at = content.find(marker);
    if (at != 0 && !content.empty()) ADD_FAILURE() << "log does not start with an entry: " << content;
    while (at != std::string::npos) {
      const size_t begin = at + marker.size();
      const size_t next = content.find(marker, begin);
      std::string message = content.substr(begin, next == std::string::npos ? std::string::npos : next - begin);
      if (message.ends_with("\r\n")) message.resize(message.size() - 2);
      messages.push_back(std::move(message));
      at = next;
    }
    return messages;
  }

  // The one request the platform received; fails the test when there is not one.
  RecordedRequest OnlyRequest() const {
    std::vector<RecordedRequest> requests = platform_->Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? RecordedRequest{} : requests.front();
  }

  std::string Base() const { return platform_->BaseUrl(); }

  // A clock whose first reading fails as a log write does; the later ones give kNow.
  class FailingOnceClock final : public Clock {
   public:
    DateTime Now() const override {
      if (!failed_) {
        failed_ = true;
        throw LogWriteError("the log's first write fails");
      }
      return kNow;
    }

    void FailNextReading() { failed_ = false; }

   private:
    mutable bool failed_ = true;
  };

  FixedClock clock_{kNow};
  FailingOnceClock failing_once_clock_;
  FakeSettingsRow settings_row_{kCgc};
  std::filesystem::path log_path_;
  std::unique_ptr<LogRedirect> log_redirect_;
  std::unique_ptr<ScopedApiSettings> api_settings_;
};

}  // namespace zendrel
