// The decoders driven from memory, as the fuzz targets drive them: odd
// input block sizes and malformed streams.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/exploder.h"
#include "archive/inflater.h"
#include "archive/input_source.h"
#include "archive/output_sink.h"
#include "archive/unshrinker.h"
#include "archive/unzip.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

// Hands out `data` in blocks of the given sizes, in turn.
class ChunkedInput : public InputSource {
 public:
  ChunkedInput(std::string data, std::vector<size_t> sizes) : data_(std::move(data)), sizes_(std::move(sizes)) {}
  int Read(uint8_t* buffer, size_t capacity, size_t* got) override {
    const size_t n = std::min({capacity, data_.size() - pos_, sizes_[turn_++ % sizes_.size()]});
    std::copy_n(data_.data() + pos_, n, buffer);
    pos_ += n;
    *got = n;
    return kZipOk;
  }

 private:
  std::string data_;
  std::vector<size_t> sizes_;
  size_t pos_ = 0;
  size_t turn_ = 0;
};

class StringSink : public OutputSink {
 public:
  int Write(const uint8_t* data, size_t size) override {
    out.append(reinterpret_cast<const char*>(data), size);
    return kZipOk;
  }
  std::string out;
};

// The raw data of the first entry of a test archive.
std::string FirstEntryData(const std::string& archive) {
  const std::string bytes = test::ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/" + archive);
  const auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    return v;
  };
  return bytes.substr(30 + le(26, 2) + le(28, 2), le(18, 4));
}

TEST(DecodersTest, InputBlockBoundariesDoNotMatter) {
  const std::string text = test::ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/inputs/text-60k.txt");
  const std::string deflated = FirstEntryData("infozip-stored-and-deflated.zip");
  for (const std::vector<size_t>& sizes : std::vector<std::vector<size_t>>{{1}, {3, 7, 4096}, {65536}}) {
    {
      ChunkedInput input(FirstEntryData("shrink-text.zip"), sizes);
      StringSink sink;
      EXPECT_EQ(Unshrinker(input, sink, text.size()).Run(), kZipOk);
      EXPECT_TRUE(sink.out == text);
    }
    {
      ChunkedInput input(FirstEntryData("implode-8k-littree-text.zip"), sizes);
      StringSink sink;
      EXPECT_EQ(Exploder(input, sink, text.size(), true, true).Run(), kZipOk);
      EXPECT_TRUE(sink.out == text);
    }
    {
      ChunkedInput input(FirstEntryData("infozip-deflate-2mib.zip"), sizes);
      StringSink sink;
      EXPECT_EQ(Inflater(input, sink).Run(), kZipOk);
      EXPECT_EQ(sink.out.size(), 2097152u);
    }
  }
}

TEST(DecodersTest, MalformedStreamsAreArchiveErrors) {
  enum Kind { kInflate, kUnshrink, kExplode };
  struct Case {
    const char* what;
    Kind kind;
    std::string data;
  };
  const std::vector<Case> cases = {
      {"empty deflate stream", kInflate, ""},
      {"block type 3", kInflate, "\x07"},
      {"stored length without its complement", kInflate, std::string("\x01\x05\x00\x00\x00", 5)},
      {"stored block cut short", kInflate,
       std::string("\x01\x05\x00\xfa\xff"
                   "ab",
                   7)},
      {"non-final block, then nothing", kInflate, "\x02"},
      // Fixed block: a match (length 3, distance 1) before any output.
      {"distance before the start", kInflate, std::string("\x03\x02\x00", 3)},
      // Dynamic block whose code-length code is empty.
      {"dynamic block without codes", kInflate, std::string("\x05\x00\x00\x00\x00\x00", 6)},
      // 9-bit codes: 300 first (the first code must be a literal).
      {"unshrink starting with a table code", kUnshrink, std::string("\x2c\x01", 2)},
      // 'A', then control code 256 followed by 3.
      {"unknown control code", kUnshrink, std::string("\x41\x00\x0e\x00", 4)},
      // 'A', then 300: neither assigned nor the next code to be assigned.
      {"code never assigned", kUnshrink, std::string("\x41\x58\x02", 3)},
      {"unshrink cut short", kUnshrink, "\x41"},
      // 64 symbols of length 1: no prefix code.
      {"over-subscribed tree", kExplode, std::string("\x03\xf0\xf0\xf0\xf0", 5)},
      {"tree with too few symbols", kExplode, std::string("\x00\x05", 2)},
      {"explode without data", kExplode, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ChunkedInput input(c.data, {4096});
    StringSink sink;
    int rc = kZipOk;
    switch (c.kind) {
      case kInflate:
        rc = Inflater(input, sink).Run();
        break;
      case kUnshrink:
        rc = Unshrinker(input, sink, 100).Run();
        break;
      case kExplode:
        rc = Exploder(input, sink, 100, false, false).Run();
        break;
    }
    EXPECT_EQ(rc, kZipArchiveError);
  }
}

}  // namespace
}  // namespace brindle
