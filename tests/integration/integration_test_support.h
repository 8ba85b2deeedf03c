#pragma once

#include "support/download_system_test.h"

namespace brindle::test {

// The integration tests start with the download system running.
class IntegrationTest : public DownloadSystemTest {
 protected:
  void SetUp() override {
    DownloadSystemTest::SetUp();
    MakeSystem();
  }
};

}  // namespace brindle::test
