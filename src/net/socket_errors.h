#pragma once

#include <string>

namespace brindle {

// Socket error codes are errno values. Name lookups have no errno of their
// own, so their failures use codes above the errno range (the numbering the
// conventional socket error tables use for them).
inline constexpr int kSocketErrHostNotFound = 11001;   // no such name
inline constexpr int kSocketErrTryAgain = 11002;       // temporary lookup failure
inline constexpr int kSocketErrNoRecovery = 11003;     // the resolver failed for good
inline constexpr int kSocketErrNoData = 11004;         // the name has no address of the family
// TLS failures, with OpenSSL's own text in TWSocket::TlsErrorText.
inline constexpr int kSocketErrTls = 12001;            // handshake or record failure
inline constexpr int kSocketErrCertificate = 12002;    // the peer's certificate did not verify

// True for the codes of a failed name lookup.
inline bool IsNameLookupError(int code) { return code >= kSocketErrHostNotFound && code <= kSocketErrNoData; }

// The conventional description of a socket error code: "No Error" for 0,
// "Connection refused", "Connection timed out", "Host not found", ...;
// "Not a socket error" for a code that is not one.
std::string SocketErrorDesc(int code);

}  // namespace brindle
