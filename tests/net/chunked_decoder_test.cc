#include "net/chunked_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace brindle {
namespace {

struct Decoded {
  std::string Body;
  TChunkedState State = TChunkedState::NeedMore;
  std::string Error;
  size_t Used = 0;  // input bytes the decoder took
};

// Feeds input in pieces of at most step bytes, each until the decoder has
// taken it all or stopped.
Decoded Feed(const std::string& input, size_t step) {
  TChunkedDecoder decoder;
  Decoded out;
  while (out.Used < input.size() && decoder.State() == TChunkedState::NeedMore) {
    const size_t pieceEnd = std::min(input.size(), out.Used + step);
    while (out.Used < pieceEnd && decoder.State() == TChunkedState::NeedMore) {
      std::string_view body;
      const size_t used = decoder.Decode(input.data() + out.Used, pieceEnd - out.Used, body);
      if (used == 0) {
        ADD_FAILURE() << "no progress at " << out.Used;
        return out;
      }
      out.Body += body;
      out.Used += used;
    }
  }
  out.State = decoder.State();
  out.Error = decoder.Error();
  return out;
}

struct Case {
  const char* Name;
  std::string Input;
  std::string Body;
  TChunkedState State;
  std::string Error = "";
  size_t Unused = 0;  // bytes after the body
};

constexpr auto kMore = TChunkedState::NeedMore;
constexpr auto kComplete = TChunkedState::Complete;
constexpr auto kMalformed = TChunkedState::Malformed;

TEST(ChunkedDecoderTest, DecodesWholeAndByteByByte) {
  const std::string thirtyOne(31, 'x');
  const Case cases[] = {
      {"OneChunk", "5\r\nhello\r\n0\r\n\r\n", "hello", kComplete},
      {"HexSizesInBothCases", "a\r\n0123456789\r\n1F\r\n" + thirtyOne + "\r\n0\r\n\r\n", "0123456789" + thirtyOne,
       kComplete},
      {"LeadingZeros", "0005\r\nhello\r\n000\r\n\r\n", "hello", kComplete},
      {"EmptyBody", "0\r\n\r\n", "", kComplete},
      {"LineEndsInsideData", "4\r\n\r\n\r\n\r\n0\r\n\r\n", "\r\n\r\n", kComplete},
      {"Extensions", "5;name=value;q=\"a;b\"\r\nhello\r\n3 ; x\r\n, w\r\n0;last\r\n\r\n", "hello, w", kComplete},
      {"TrailersAreDropped", "5\r\nhello\r\n0\r\nExpires: never\r\nX-Sum: 1\r\n\r\n", "hello", kComplete},
      {"BareLineFeeds", "5\nhello\n0\nX: y\n\n", "hello", kComplete},
      {"BytesAfterTheEndAreNotTaken", "0\r\n\r\nHTTP/1.1 200 OK", "", kComplete, "", 15},
      {"LargestSizeAccepted", "7fffffffffffffff\r\nab", "ab", kMore},
      {"CutInData", "5\r\nhel", "hel", kMore},
      {"CutBeforeTheLastChunk", "5\r\nhello\r\n", "hello", kMore},
      {"CutInTrailers", "5\r\nhello\r\n0\r\nX: y\r\n", "hello", kMore},
      {"BadHex", "5\r\nhello\r\nzz\r\n", "hello", kMalformed, "bad chunk size"},
      {"NoSize", "\r\nhello", "", kMalformed, "bad chunk size"},
      {"SignedSize", "+5\r\nhello", "", kMalformed, "bad chunk size"},
      {"TextAfterSize", "5 x\r\nhello", "", kMalformed, "bad chunk size"},
      {"SizeOverflowing64Bits", "10000000000000000\r\n", "", kMalformed, "chunk size too large"},
      {"SizeBeyondSignedRange", "8000000000000000\r\n", "", kMalformed, "chunk size too large"},
      {"DataLongerThanItsSize", "5\r\nhelloX\r\n0\r\n\r\n", "hello", kMalformed, "missing CRLF after chunk data"},
      {"CrWithoutLfAfterData", "5\r\nhello\rX", "hello", kMalformed, "missing CRLF after chunk data"},
      {"CrWithoutLfInSizeLine", "5\rhello", "", kMalformed, "CR without LF"},
  };
  for (const Case& c : cases) {
    for (const size_t step : {c.Input.size(), size_t{1}}) {
      SCOPED_TRACE(std::string(c.Name) + (step == 1 ? " byte by byte" : " whole"));
      const Decoded got = Feed(c.Input, step);
      EXPECT_EQ(got.Body, c.Body);
      EXPECT_EQ(got.State, c.State);
      EXPECT_EQ(got.Error, c.Error);
      if (c.State != kMalformed) {
        EXPECT_EQ(got.Used, c.Input.size() - c.Unused);
      }
    }
  }
}

}  // namespace
}  // namespace brindle
