// Archives made at test time by Info-ZIP's zip, at every compression level,
// must extract byte for byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

// Deterministic content: text from a small vocabulary, noise, and runs with
// repeats, so every kind of deflate block and match shows up.
class Generator {
 public:
  explicit Generator(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  std::string Text(size_t size) {
    static const char* const kWords[] = {"archive", "download", "the", "of",  "mirror", "part", "speed",
                                         "server",  "resume",   "a",   "zip", "file",   "\n",   "queue"};
    std::string out;
    while (out.size() < size) out += std::string(kWords[Next() % 14]) + ' ';
    return out.substr(0, size);
  }
  std::string Noise(size_t size) {
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(Next());
    return out;
  }
  std::string Runs(size_t size) {
    std::string out;
    while (out.size() < size) {
      if (Next() % 2 == 0 || out.size() < 100) {
        out += std::string(Next() % 600, static_cast<char>(Next()));
      } else {
        const size_t from = Next() % out.size();
        out += out.substr(from, Next() % 300);
      }
    }
    return out.substr(0, size);
  }

 private:
  uint32_t state_;
};

class InfoZipCrossCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("zip -v > /dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP zip is not installed";
    Generator gen(2024);
    const std::string tree = temp_.File("tree");
    std::filesystem::create_directories(tree + "/small");
    WriteWholeFile(tree + "/big-5mb.bin", gen.Text(2 << 20) + gen.Noise(1 << 20) + gen.Runs(2 << 20));
    WriteWholeFile(tree + "/text.txt", gen.Text(300000));
    WriteWholeFile(tree + "/noise.bin", gen.Noise(70000));
    WriteWholeFile(tree + "/runs.bin", gen.Runs(200000));
    WriteWholeFile(tree + "/empty.txt", "");
    for (int i = 0; i < 300; ++i) {
      const std::string dir = tree + "/small/d" + std::to_string(i % 12);
      std::filesystem::create_directories(dir);
      const size_t size = gen.Next() % 3000;
      WriteWholeFile(dir + "/f" + std::to_string(i) + ".dat", i % 3 == 0 ? gen.Noise(size) : gen.Text(size));
    }
  }

  // Extracts `archive` into `target` and compares every file of the tree.
  void ExpectSameAsTree(const std::string& archive, const std::string& target) {
    std::vector<int> failures;
    const int count = ExtractAll(archive, target, "*.*", [&](int code, const ZipReport& report) {
      if (report.Status == kZipReportEntryFailed) failures.push_back(code);
    });
    EXPECT_GT(count, 300);
    EXPECT_EQ(failures, std::vector<int>{});
    int compared = 0;
    const std::string tree = temp_.File("tree");
    for (const auto& item : std::filesystem::recursive_directory_iterator(tree)) {
      if (!item.is_regular_file()) continue;
      const std::string relative = std::filesystem::relative(item.path(), tree).string();
      ASSERT_TRUE(ReadWholeFile(item.path().string()) == ReadWholeFile(target + "/" + relative)) << relative;
      ++compared;
    }
    EXPECT_EQ(compared, 305);
  }

  test::TempDir temp_;
};

TEST_F(InfoZipCrossCheckTest, EveryLevelExtractsByteIdentical) {
  for (const char* level : {"-0", "-1", "-6", "-9"}) {
    SCOPED_TRACE(level);
    const std::string archive = temp_.File(std::string("level") + level + ".zip");
    ASSERT_EQ(std::system(("cd " + temp_.File("tree") + " && zip -q -r " + level + " " + archive + " .").c_str()), 0);
    ExpectSameAsTree(archive, temp_.File(std::string("out") + level));
  }
}

TEST_F(InfoZipCrossCheckTest, StreamedEntryWithDataDescriptor) {
  const std::string archive = temp_.File("stream.zip");
  ASSERT_EQ(std::system(("zip -q " + archive + " - < " + temp_.File("tree/big-5mb.bin")).c_str()), 0);
  ASSERT_EQ(ExtractAll(archive, temp_.File("out"), "*.*"), 1);
  EXPECT_TRUE(ReadWholeFile(temp_.File("out/-")) == ReadWholeFile(temp_.File("tree/big-5mb.bin")));
}

}  // namespace
}  // namespace brindle
