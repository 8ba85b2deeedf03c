#include "manager/local_download_info.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "core/download_status.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using test::WriteWholeFile;

class LocalDownloadinfoTest : public test::ManagerTest {
 protected:
  std::string Base() const { return temp_.File("ABCD1234"); }
  std::unique_ptr<TLocalDownloadinfo> Read(const TCategoryList* categories = nullptr) const {
    return std::make_unique<TLocalDownloadinfo>(nullptr, Base(), categories);
  }
  void WriteRecord(const std::string& lines) const { WriteWholeFile(Base() + ".dat", "[Options]\r\n" + lines); }
};

TEST_F(LocalDownloadinfoTest, NewRecordGetsUnusedBaseInCreatedDirectoryAndDefaults) {
  const std::string partial = temp_.File("deep/er/Partial");
  WriteString("Options", "PartialDownloadsDirectory", partial);
  TLocalDownloadinfo record(std::make_unique<TUrl>("http://h/f.zip"), "", nullptr);
  EXPECT_EQ(record.TempFileName.rfind(partial + "/", 0), 0u);
  EXPECT_EQ(record.TempFileName.size(), partial.size() + 9);
  EXPECT_TRUE(record.Created == Now() && record.LastActivity == Now());
  ASSERT_TRUE(record.Save());  // the saved text shows the other defaults
  EXPECT_EQ(ReadWholeFile(record.TempFileName + ".dat").rfind("[Options]\r\nURL=http://h/f.zip\r\nLocalFileName=\r\nStatus=\r\nFileSize=0\r\n"
                       "NumOfParts=-1\r\nCategory=\r\nLastActivity=",
                       0),
            0u);
}

// The record file keeps what the status says for later (the mapping of
// every text is the status type's own test); memory keeps the status.
TEST_F(LocalDownloadinfoTest, StatusSaveMapping) {
  const std::pair<TDownloadStatus, const char*> cases[] = {{TDownloadState::ContactingHost, "Downloading"},
                                                           {TDownloadState::Timeout, "Paused"},
                                                           {TDownloadStatus::Failure("Forbidden"), "Forbidden"}};
  for (const auto& [status, saved] : cases) {
    TLocalDownloadinfo record(nullptr, Base(), nullptr);
    record.SetStatus(status);
    ASSERT_TRUE(record.Save());
    EXPECT_TRUE(record.Status() == status);
    EXPECT_EQ(Read()->Status().Text(), saved);
  }
}

TEST_F(LocalDownloadinfoTest, RoundTripKeepsEveryFieldAndTextsWithLineBreaks) {
  TCategoryList categories(temp_.File("cat.dat"));
  TCategory* category = categories.Add(std::make_unique<TCategory>());
  category->SetName("Tab\tName");
  // Signed addresses get long; a cut one would resume another file.
  const std::string url = "http://h/a\\b.zip?x=" + std::string(5000, 'q') + "\r\nStatus=Done";
  TLocalDownloadinfo record(std::make_unique<TUrl>(url), Base(), nullptr);
  record.LocalFileName = "/home/u/a b\\c.zip";
  record.SetStatus(TDownloadState::Paused);
  record.FileSize = 5'000'000'000;  // above 4 GiB
  record.NumOfParts = 4;
  record.Category = category;
  record.Created = 45000.25;
  record.LastActivity = 45001.5;
  record.Description = " quoted \"text\"\r\n[Options]\r\nFileSize=1\t\\n";
  record.SetValidators("http://h:80", {"\"abc\"", "Wed, 21 Oct 2015 07:28:00 GMT"});
  record.SetValidators("ftp://m:21", {"", "x\ny"});
  record.SpeedLimit = 250;
  record.ReplaceFile = true;
  record.Checksum = TChecksum{TDigestAlgorithm::Md5, std::string(32, 'f')};
  record.ServerDigest = TChecksum{TDigestAlgorithm::Sha256, std::string(64, 'e')};
  ASSERT_TRUE(record.Save());
  // The newest keys come last, so an older program reads the rest as before.
  const std::string text = ReadWholeFile(Base() + ".dat");
  EXPECT_GT(text.find("SpeedLimit=250"), text.find("LastModified2="));
  EXPECT_GT(text.find("ReplaceFile=1"), text.find("SpeedLimit=250"));
  EXPECT_GT(text.find("\r\nChecksum=md5=ff"), text.find("ReplaceFile=1"));
  EXPECT_GT(text.find("\r\nServerDigest=sha256=ee"), text.find("\r\nChecksum="));

  category->SetName("TAB\tNAME");  // matched ignoring case
  const auto read = Read(&categories);
  EXPECT_EQ(std::tie(read->Url->Url, read->LocalFileName, read->Description),
            std::tie(url, record.LocalFileName, record.Description));
  EXPECT_EQ(std::make_tuple(read->Status(), read->FileSize, read->NumOfParts, read->Category),
            std::make_tuple(TDownloadStatus(TDownloadState::Paused), int64_t{5'000'000'000}, 4, category));
  EXPECT_TRUE(read->Created == 45000.25 && read->LastActivity == 45001.5);
  EXPECT_EQ(read->AllValidators().size(), 2u);
  ASSERT_NE(read->Validators("ftp://m:21"), nullptr);
  EXPECT_EQ(read->Validators("ftp://m:21")->LastModified, "x\ny");
  EXPECT_EQ(read->Validators("http://h:80")->ETag, "\"abc\"");
  EXPECT_EQ(read->SpeedLimit, 250);
  EXPECT_TRUE(read->ReplaceFile);
  EXPECT_EQ(std::tie(read->Checksum, read->ServerDigest), std::tie(record.Checksum, record.ServerDigest));
}

// The browser's cookies and referrer serve only the transfer: a record
// that is done keeps neither, nor does one an older version saved done.
TEST_F(LocalDownloadinfoTest, DoneRecordsKeepNoCookieAndNoReferrer) {
  TLocalDownloadinfo record(std::make_unique<TUrl>("http://h/f.zip"), Base(), nullptr);
  record.Referer = "http://h/page";
  record.Cookie = "sid=secret";
  record.SetStatus(TDownloadState::Downloading);
  ASSERT_TRUE(record.Save());
  EXPECT_EQ(std::make_pair(Read()->Referer, Read()->Cookie), std::make_pair(record.Referer, record.Cookie));
  record.SetStatus(TDownloadState::Done);
  ASSERT_TRUE(record.Save());
  const std::string text = ReadWholeFile(Base() + ".dat");
  EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  EXPECT_EQ(text.find("h/page"), std::string::npos) << text;
  WriteRecord("URL=http://h/f.zip\r\nStatus=Done\r\nReferer=http://h/page\r\nCookie=sid=secret\r\n");
  EXPECT_EQ(std::make_pair(Read()->Referer, Read()->Cookie), std::make_pair(std::string(), std::string()));
}

TEST_F(LocalDownloadinfoTest, MissingAndMalformedValuesReadAsDefaults) {
  const std::pair<const char*, int64_t> sizes[] = {
      {"0x1F", 31}, {"0X10", 16}, {"-1", -1},   {"", 0},      {"12abc", 0}, {"-5", 0}, {"0x", 0},
      {"0xG1", 0},  {"+-7", 0},   {"+7", 7},    {"99999999999999999999", 0}, {"0xFFFFFFFFFFFFFFFF", -1}};
  for (const auto& [text, expected] : sizes) {
    WriteRecord(std::string("FileSize=") + text + "\r\n");
    EXPECT_EQ(Read()->FileSize, expected) << text;
  }
  WriteRecord("URL=\r\nNumOfParts=x\r\nLastActivity=yesterday\r\nCreated=2026-13-01 00:00\r\nCategory=None\r\n");
  TCategoryList categories(temp_.File("cat.dat"));
  TLocalDownloadinfo record(std::make_unique<TUrl>("http://given/"), Base(), &categories);
  EXPECT_EQ(std::make_tuple(record.Url->Url, record.NumOfParts, record.Category),
            std::make_tuple(std::string("http://given/"), -1, static_cast<TCategory*>(nullptr)));
  EXPECT_TRUE(record.LastActivity == Now() && record.Created == Now());
  WriteRecord("");
  EXPECT_EQ(Read()->Url->Url, "");  // an object to read even without any URL
  // A record from before speed limits, or a limit that makes no sense: none.
  for (const char* text : {"", "SpeedLimit=\r\n", "SpeedLimit=-5\r\n", "SpeedLimit=9x\r\n",
                           "SpeedLimit=99999999999999\r\n"}) {
    WriteRecord(std::string("URL=http://h/f\r\n") + text);
    EXPECT_EQ(Read()->SpeedLimit, 0) << text;
  }
  WriteRecord("Checksum=sha256=12\r\nServerDigest=crc32=00\r\n");
  EXPECT_FALSE(Read()->Checksum || Read()->ServerDigest);
}

TEST_F(LocalDownloadinfoTest, SetStatusStampsLastActivityOnlyWhenLeavingAnActiveState) {
  const struct {
    TDownloadState from, to;
    bool stamped;
  } cases[] = {{TDownloadState::Downloading, TDownloadState::Downloading, false}, {TDownloadState::Downloading, TDownloadState::Paused, true},
               {TDownloadState::ContactingHost, TDownloadState::GettingFileInfo, true}, {TDownloadState::GettingFileInfo, TDownloadState::Timeout, true},
               {TDownloadState::Paused, TDownloadState::Done, false}, {TDownloadState::Queued, TDownloadState::Downloading, false}};
  for (const auto& c : cases) {
    TLocalDownloadinfo record(nullptr, Base(), nullptr);
    record.SetStatus(c.from);
    record.LastActivity = 1.0;
    record.SetStatus(c.to);
    EXPECT_EQ(record.LastActivity, c.stamped ? Now() : 1.0) << StatusText(c.from) << " -> " << StatusText(c.to);
  }
}

TEST_F(LocalDownloadinfoTest, SaveRewritesInPlaceKeepsForeignKeysAndForgetsClearedValidators) {
  WriteRecord("Comment=kept\r\nStatus=Queued\r\n");
  auto record = Read();
  record->SetValidators("http://a:80", {"\"1\"", ""});
  record->SetValidators("http://b:80", {"\"2\"", ""});
  ASSERT_TRUE(record->Save());
  EXPECT_EQ(ReadWholeFile(Base() + ".dat").rfind("[Options]\r\nComment=kept\r\nStatus=Queued\r\nURL=", 0), 0u);
  record->ClearValidators();
  record->SetValidators("http://c:80", {"\"3\"", ""});
  ASSERT_TRUE(record->Save());
  EXPECT_EQ(Read()->AllValidators().size(), 1u);
}

TEST_F(LocalDownloadinfoTest, FailedSaveKeepsOldFile) {
  WriteRecord("Status=Queued\r\n");
  auto record = Read();
  record->SetStatus(TDownloadState::Done);
  FailWritesOf(Base() + ".dat");
  EXPECT_FALSE(record->Save());
  EXPECT_EQ(ReadWholeFile(Base() + ".dat"), "[Options]\r\nStatus=Queued\r\n");
  EXPECT_FALSE(FileExists(Base() + ".dat.tmp"));
}

TEST_F(LocalDownloadinfoTest, DeleteDatFileAndServerKey) {
  WriteRecord("Status=Queued\r\n");
  TLocalDownloadinfo record(nullptr, Base(), nullptr);
  EXPECT_TRUE(record.DeleteDatFile());
  EXPECT_FALSE(FileExists(Base() + ".dat"));
  EXPECT_EQ(TLocalDownloadinfo::ServerKey(TUrl("HTTP://Example.ORG/f")), "http://example.org:80");
  EXPECT_EQ(TLocalDownloadinfo::ServerKey(TUrl("ftp://u:p@M.net:2121/f")), "ftp://m.net:2121");
}

}  // namespace
}  // namespace brindle
