// A GoogleTest fixture base that starts one fake platform for each test suite and
// stops it after the suite's last test. Starting the platform (a child process with
// its listeners) for every test would make the suites slow; each fixture still
// forgets the platform's scripts and requests before each of its tests.
#pragma once

#include <gtest/gtest.h>

#include "api/testing/fake_platform.h"

namespace zendrel {

class FakePlatformSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform_ = new FakePlatform();
    platform_->Start();
  }
  static void TearDownTestSuite() {
    delete platform_;
    platform_ = nullptr;
  }

  // The running platform while a suite of a derived fixture runs.
  static inline FakePlatform* platform_ = nullptr;
};

}  // namespace zendrel
