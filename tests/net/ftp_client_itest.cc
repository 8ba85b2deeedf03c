#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "core/event_loop.h"
#include "net/ftp_client.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::FaultFtpServer;

class FtpClientTest : public ::testing::Test {
 protected:
  FtpClientTest() {
    server_.AddFile("/pub/f.bin", content_);
    SetUpClient();
  }
  void SetUpClient() {
    client_->HostName = "127.0.0.1";
    client_->Port = std::to_string(server_.Port());
    client_->UserName = "u";
    client_->PassWord = "p";
    client_->HostDirName = "/pub";
    client_->HostFileName = "f.bin";
    client_->LocalFileName = dir_.File("local");
    client_->Passive = true;
    client_->OnRequestDone = [this](TFtpRequest, int error) { done_.push_back(error); };
    client_->OnDisplay = [this](const std::string& text) { display_ += text + "\n"; };
  }

  // Starts a request and runs until it has ended; returns its error.
  int Run(const std::function<void(TFtpClient&)>& start) {
    const size_t before = done_.size();
    start(*client_);
    EXPECT_TRUE(test::RunUntil(loop_, [&] { return done_.size() > before; }));
    return done_.size() > before ? done_.back() : -1;
  }
  void Connect() {
    ASSERT_EQ(Run([](TFtpClient& c) { c.ConnectAsync(); }), 0);
    ASSERT_EQ(Run([](TFtpClient& c) { c.CwdAsync(); }), 0);
  }
  std::vector<std::string> CommandsFrom(size_t first) const {
    return {server_.Commands().begin() + static_cast<ptrdiff_t>(first), server_.Commands().end()};
  }

  EventLoop loop_;
  test::TempDir dir_;
  FaultFtpServer server_{loop_};
  std::unique_ptr<TFtpClient> client_ = std::make_unique<TFtpClient>(&loop_);
  const std::string content_ = test::MakeContent(300000);
  std::vector<int> done_;
  std::string display_;
};

// ---- Refusals: raised at once, nothing sent ----

TEST_F(FtpClientTest, RefusalsThrowBeforeSendingAnything) {
  struct Case {
    bool connected;
    std::function<void(TFtpClient&)> call;
    const char* message;
  };
  const Case cases[] = {
      {false, [](TFtpClient& c) { c.ConnectAsync(), c.ConnectAsync(); }, "FTP component not ready"},
      {false, [](TFtpClient& c) { c.TypeSetAsync(); }, "FTP component not connected"},
      {true, [](TFtpClient& c) { c.ConnectAsync(); }, "FTP component already connected"},
      {false, [](TFtpClient& c) { c.UserName.clear(), c.ConnectAsync(); }, "UserName emtpy"},
      {true, [](TFtpClient& c) { c.LocalFileName.clear(), c.GetAsync(); }, "LocalFileName empty"},
      {true, [](TFtpClient& c) { c.HostFileName = "f\rDELE f", c.SizeAsync(); }, "HostFileName holds a line break or NUL"},
      {false, [](TFtpClient& c) { c.UserName = "u\nSITE x", c.ConnectAsync(); }, "UserName holds a line break or NUL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    client_ = std::make_unique<TFtpClient>(&loop_);
    SetUpClient();
    server_.Greeting = "220 Ready";
    if (c.connected) Connect();
    server_.Greeting = "";  // a connect that does start sends nothing either
    const size_t sent = server_.Commands().size();
    try {
      c.call(*client_);
      ADD_FAILURE() << "no refusal";
    } catch (const FtpException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    for (int i = 0; i < 5; ++i) loop_.RunOnce(5);
    EXPECT_EQ(server_.Commands().size(), sent);
  }
}

// ---- Login and reply parsing ----

struct LoginCase {
  const char* name;
  std::function<void(FaultFtpServer&, TFtpClient&)> script;
  int error;
  std::vector<std::string> commands;
  const char* response = "";  // the last response when not ""
};

class FtpLoginTest : public FtpClientTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(FtpLoginTest, SendsWhatTheRepliesAskFor) {
  const LoginCase& c = GetParam();
  c.script(server_, *client_);
  EXPECT_EQ(Run([](TFtpClient& c) { c.ConnectAsync(); }), c.error);
  EXPECT_EQ(server_.Commands(), c.commands);
  EXPECT_TRUE(c.error != ECONNREFUSED || !client_->Connected());
  if (*c.response) { EXPECT_EQ(client_->LastResponse(), c.response); }
}

using Ftp = FaultFtpServer;
using Cli = TFtpClient;
INSTANTIATE_TEST_SUITE_P(
    All, FtpLoginTest,
    ::testing::Values(
        LoginCase{"UserAndPass", [](Ftp&, Cli&) {}, 0, {"USER u", "PASS p"}},
        LoginCase{"UserAnswered230GetsNoPass", [](Ftp& s, Cli&) { s.SetReply("USER", "230 Hi"); }, 0, {"USER u"}},
        LoginCase{"MultiLineRepliesActOnTheirLastLine",
                  [](Ftp& s, Cli&) {
                    s.BareLf = true;
                    s.Greeting = "220-Welcome\n220-230 is not a reply here\n 220 nor this\n220 Ready";
                    s.SetReply("PASS", "230-Hello\n530 inside the text\n230 Logged in");
                  },
                  0, {"USER u", "PASS p"}},
        LoginCase{"RefusedLogin", [](Ftp& s, Cli&) { s.SetReply("PASS", "530 No"); }, 530, {"USER u", "PASS p"}},
        LoginCase{"GreetingOf500OrMoreFails", [](Ftp& s, Cli&) { s.Greeting = "554 Not for you"; }, 554, {}},
        LoginCase{"RefusedConnectionReportsA500Text", [](Ftp&, Cli& c) { c.Port = "1"; }, ECONNREFUSED, {},
                  "500 Connection refused (Winsock error #111)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, SizeRepliesBeyond4GiBAndJunk) {
  Connect();
  for (const auto& [reply, error, size] : std::vector<std::tuple<const char*, int, int64_t>>{
           {"213 5000000000", 0, 5000000000}, {"213 lots", 0, -1}, {"550 No such file", 550, -1}}) {
    server_.SetReply("SIZE", reply);
    EXPECT_EQ(Run([](TFtpClient& c) { c.SizeAsync(); }), error) << reply;
    if (error == 0) { EXPECT_EQ(client_->SizeResult(), size) << reply; }
  }
}

// ---- Transfers ----

struct TransferCase {
  const char* name;
  bool passive;
  bool replyBeforeClose;
};

class FtpTransferTest : public FtpClientTest, public ::testing::WithParamInterface<TransferCase> {};

// The request ends only once both the data connection has closed and the
// final reply has come, whichever comes first. A link at the local file's
// name is replaced by the file, never written through.
TEST_P(FtpTransferTest, EndsWhenBothDataAndFinalReplyAreIn) {
  test::TempDir elsewhere;
  test::WriteWholeFile(elsewhere.File("outside"), "the user's own bytes");
  std::filesystem::create_symlink(elsewhere.File("outside"), client_->LocalFileName);
  client_->Passive = GetParam().passive;
  server_.PasvAddress = "192,0,2,7";  // a foreign address: the data goes to the server's own
  server_.ReplyBeforeClose = GetParam().replyBeforeClose;
  server_.HoldEnd = true;
  Connect();
  const size_t first = server_.Commands().size();
  client_->GetAsync();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return server_.Waiting(); }));
  for (int i = 0; i < 20; ++i) loop_.RunOnce(5);
  EXPECT_EQ(done_.size(), 2u);
  server_.Release();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return done_.size() == 3; }));
  EXPECT_EQ(done_.back(), 0);
  EXPECT_EQ(test::ReadWholeFile(client_->LocalFileName), content_);
  EXPECT_EQ(client_->ByteCount(), static_cast<int64_t>(content_.size()));
  const std::vector<std::string> sent = CommandsFrom(first);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(std::regex_match(sent[0], std::regex(GetParam().passive ? "PASV" : "PORT 127,0,0,1,[0-9]+,[0-9]+")));
  EXPECT_EQ(sent[1], "RETR f.bin");
  EXPECT_EQ(client_->State(), TFtpState::ftpReady);
  EXPECT_EQ(test::ReadWholeFile(elsewhere.File("outside")), "the user's own bytes");
}

INSTANTIATE_TEST_SUITE_P(All, FtpTransferTest,
                         ::testing::Values(TransferCase{"PassiveDataClosesFirst", true, false},
                                           TransferCase{"PassiveReplyFirst", true, true},
                                           TransferCase{"ActiveDataClosesFirst", false, false},
                                           TransferCase{"ActiveReplyFirst", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, RestartGetAppendsAtTheRestartPosition) {
  Connect();
  test::WriteWholeFile(client_->LocalFileName, content_.substr(0, 1000));
  // Without ftpNoAutoStartDownloadAt the position comes from the local file.
  EXPECT_EQ(Run([](TFtpClient& c) { c.RestartGetAsync(); }), 0);
  EXPECT_EQ(server_.Commands().end()[-2], "REST 1000");
  EXPECT_EQ(test::ReadWholeFile(client_->LocalFileName), content_);
  EXPECT_EQ(client_->StartDownloadAt, 0);

  const size_t first = server_.Commands().size();
  server_.SetReply("REST", "502 No restarts");
  EXPECT_EQ(Run([](TFtpClient& c) { c.RestartGetAsync(); }), 502);
  EXPECT_EQ(CommandsFrom(first), (std::vector<std::string>{"PASV", "REST 300000"}));  // no RETR
  EXPECT_EQ(test::ReadWholeFile(client_->LocalFileName), content_);
}

// ---- Failures ----

struct FailureCase {
  const char* name;
  std::function<void(FaultFtpServer&, TFtpClient&)> script;
  int error;
  const char* message;  // expected in ErrorMessage (or the display)
};

class FtpFailureTest : public FtpClientTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FtpFailureTest, EndsTheTransferWithTheCode) {
  Connect();
  GetParam().script(server_, *client_);
  EXPECT_EQ(Run([](TFtpClient& c) { c.GetAsync(); }), GetParam().error);
  EXPECT_NE((client_->ErrorMessage() + display_).find(GetParam().message), std::string::npos)
      << client_->ErrorMessage() << display_;
}

INSTANTIATE_TEST_SUITE_P(
    All, FtpFailureTest,
    ::testing::Values(
        FailureCase{"DroppedWith426", [](FaultFtpServer& s, TFtpClient&) { s.DropAfter = 5000; s.TransferEnd = "426 Broken"; },
                    426, "! RETR/LIST/NLST Failed"},
        FailureCase{"NoFinalReply", [](FaultFtpServer& s, TFtpClient&) { s.DropAfter = 5000; s.TransferEnd = ""; },
                    kFtpErrConnectionClosed, "Control connection closed"},
        FailureCase{"DataPortRefuses",
                    [](FaultFtpServer& s, TFtpClient&) { s.SetReply("PASV", "227 Entering Passive Mode (127,0,0,1,0,1)"); },
                    550, "Unable to establish data connection, error #111"},
        FailureCase{"LocalFileCannotOpen", [](FaultFtpServer&, TFtpClient& c) { c.LocalFileName = "/nonexistent/x"; },
                    ENOENT, "Unable to open local file /nonexistent/x"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brindle
