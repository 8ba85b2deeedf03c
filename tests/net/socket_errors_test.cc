#include <gtest/gtest.h>

#include <cerrno>

#include "net/socket_errors.h"

namespace brindle {
namespace {

TEST(SocketErrorDesc, ConventionalTexts) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {0, "No Error"},
      {ECONNREFUSED, "Connection refused"},
      {ETIMEDOUT, "Connection timed out"},
      {ECONNRESET, "Connection reset by peer"},
      {ENETUNREACH, "Network is unreachable"},
      {EHOSTUNREACH, "No route to host"},
      {kSocketErrHostNotFound, "Host not found"},
      {-1, "Not a socket error"},
      {99999, "Not a socket error"},
  };
  for (const Case& c : cases) EXPECT_EQ(SocketErrorDesc(c.code), c.text) << c.code;
}

}  // namespace
}  // namespace brindle
