#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/download_status.h"
#include "engine/download_record.h"
#include "engine/downloader.h"
#include "engine/file_mirror.h"
#include "engine/http_part_downloader.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"
#include "engine/speed_limiter.h"
#include "support/fault_http_server.h"
#include "support/part_downloader_test.h"
#include "support/test_certificates.h"

namespace brindle {
namespace {

using test::FaultHttpServer;
using test::HttpReply;
using test::HttpRequest;

class TestRecord : public TDownloadRecord {
 public:
  using TDownloadRecord::TDownloadRecord;
  bool Save() const override { return true; }
};

class HttpsITest : public test::PartDownloaderTest {
 protected:
  HttpsITest() {
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    good_.EnableTls(certs_.Good, certs_.Key);
    expired_.EnableTls(certs_.Expired, certs_.Key);
    for (FaultHttpServer* server : {&good_, &expired_, &plain_}) server->AddFile("/f.bin", content_);
  }
  void MakeDownloader(const std::string& url, std::vector<std::string> mirrors) {
    record_ = std::make_unique<TestRecord>(std::make_unique<TUrl>(url), dir_.File("rec"));
    record_->LocalFileName = dir_.File("out.bin");
    TDownloaderOptions options;
    options.SplitParts = 4;
    options.Loop = &loop_;
    options.LocalMirrors = [mirrors](const TUrl&, TMirrorList& list) {
      for (const std::string& m : mirrors) list.Add(new TFileMirror(m));
    };
    options.Ping = [](const std::string&, int, int) { return TPingOutcome{1, 100}; };
    downloader_ = std::make_unique<TDownloader>(*record_, std::move(options));
    downloader_->OnAllPartsDone = [this](TDownloader&) { ++done_; };
    downloader_->OnDownloadError = [this](TDownloader&) { ++errors_; };
    downloader_->StartDownload();
  }
  std::string Joined() const {
    std::string all;
    for (;;) {
      const std::string name = record_->TempFileName + "." + std::to_string(all.size());
      const std::string part = test::FileExists(name) ? test::ReadWholeFile(name) : "";
      if (part.empty()) return all;
      all += part;
    }
  }
  std::string Local(const FaultHttpServer& server) const {
    return "https://localhost:" + std::to_string(server.Port()) + "/f.bin";
  }

  const test::TestCertificates& certs_ = test::SharedTestCertificates();
  test::TrustTestAuthority trust_{certs_};
  FaultHttpServer good_{loop_};
  FaultHttpServer expired_{loop_};
  FaultHttpServer plain_{loop_};
  std::unique_ptr<TestRecord> record_;
  std::unique_ptr<TDownloader> downloader_;
  int done_ = 0, errors_ = 0;
};

// An https download never takes an http mirror, and a mirror whose
// certificate does not verify is never asked again.
TEST_F(HttpsITest, HttpsDownloadUsesHttpsMirrorsOnly) {
  // The main server holds its answers until the https mirror has failed,
  // so that the parts do not finish before.
  bool held = true;
  good_.SetHandler([&](const HttpRequest& r) {
    HttpReply reply = good_.Serve(r);
    if (held) reply.StallAt = {1};
    return reply;
  });
  MakeDownloader(good_.Url("/f.bin"), {"http://localhost:" + std::to_string(plain_.Port()) + "/f.bin", Local(expired_)});
  ASSERT_EQ(downloader_->Mirrors().Count(), 2);
  const TFileMirror* mirror = downloader_->Mirrors().GetMirror(Local(expired_));
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return mirror->ErrorCode != 0; }));
  held = false;
  good_.Release();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return done_ + errors_ > 0; }));
  EXPECT_EQ(done_, 1);
  EXPECT_TRUE(Joined() == content_);
  EXPECT_EQ(mirror->ErrorCode, kPartErrCertificate);
  EXPECT_TRUE(expired_.Requests().empty());
  EXPECT_EQ(plain_.Accepted(), 0);
}

// Waiting cannot fix a certificate: without another mirror the download
// cannot be retried; with one, the retry moves there.
TEST_F(HttpsITest, UntrustedCertificateFailsItsMirrorForGood) {
  MakeDownloader(expired_.Url("/f.bin"), {});
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return errors_ > 0; }));
  EXPECT_EQ(record_->Status(), TDownloadState::CertificateNotTrusted);
  EXPECT_EQ(record_->ErrorDetail, "certificate has expired");
  EXPECT_FALSE(downloader_->CanRetry());

  errors_ = 0;
  MakeDownloader(expired_.Url("/f.bin"), {Local(good_)});
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return errors_ > 0; }));
  EXPECT_EQ(record_->Status(), TDownloadState::CertificateNotTrusted);
  ASSERT_TRUE(downloader_->CanRetry());
  const int tried = expired_.Accepted();
  downloader_->RestartDownload();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return done_ > 0; }));
  EXPECT_TRUE(Joined() == content_);
  EXPECT_EQ(expired_.Accepted(), tried);
}

// Under a speed limit a part reads TLS records piece by piece. The server
// stops sending (without closing) after 100000 bytes: every one of them
// still arrives, and no faster than the rate.
TEST_F(HttpsITest, LimitedPartOverTlsGetsEveryByteSentAtTheRate) {
  TSpeedLimiter limiter(&loop_);
  TSpeedLimitGroup group(limiter);
  group.SetRate(20 * 1024);
  good_.Script([&](const HttpRequest& r) {
    HttpReply reply = good_.Serve(r);
    reply.StallAt = {100000};
    return reply;
  });
  THTTPPartDownloader part(good_.Url("/f.bin"), dir_.File("l"), 0, 0, &loop_);
  part.SetSpeedLimitGroup(&group);
  part.Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return good_.StalledConnections() == 1; }));
  for (int step = 0; step < 80 && part.TransferCount() < 100000; ++step) {
    clock_.Advance(TSpeedLimiter::kRefillIntervalMs);
    for (int i = 0; i < 20; ++i) loop_.RunOnce(0);
  }
  EXPECT_EQ(part.TransferCount(), 100000);
  EXPECT_LE(part.Lane()->LimitedBytes(), 20 * 1024 * 8 + 20 * 1024 / 4);  // never above the rate
  part.Abort();
}

}  // namespace
}  // namespace brindle
