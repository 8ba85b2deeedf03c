#include "net/socket_errors.h"

#include <cerrno>

namespace brindle {

std::string SocketErrorDesc(int code) {
  // Fixed texts rather than strerror: they are shown to the user in reason
  // phrases and must not depend on the C library's locale or version.
  switch (code) {
    case 0: return "No Error";
    case EINTR: return "Interrupted system call";
    case EBADF: return "Bad file number";
    case EACCES: return "Permission denied";
    case EFAULT: return "Bad address";
    case EINVAL: return "Invalid argument";
    case EMFILE: return "Too many open files";
    case EPIPE: return "Broken pipe";
    case EAGAIN: return "Operation would block";
    case EINPROGRESS: return "Operation now in progress";
    case EALREADY: return "Operation already in progress";
    case ENOTSOCK: return "Socket operation on non-socket";
    case EDESTADDRREQ: return "Destination address required";
    case EMSGSIZE: return "Message too long";
    case EPROTOTYPE: return "Protocol wrong type for socket";
    case ENOPROTOOPT: return "Protocol not available";
    case EPROTONOSUPPORT: return "Protocol not supported";
    case ESOCKTNOSUPPORT: return "Socket type not supported";
    case EOPNOTSUPP: return "Operation not supported on socket";
    case EPFNOSUPPORT: return "Protocol family not supported";
    case EAFNOSUPPORT: return "Address family not supported by protocol family";
    case EADDRINUSE: return "Address already in use";
    case EADDRNOTAVAIL: return "Address not available";
    case ENETDOWN: return "Network is down";
    case ENETUNREACH: return "Network is unreachable";
    case ENETRESET: return "Network dropped connection on reset";
    case ECONNABORTED: return "Connection aborted";
    case ECONNRESET: return "Connection reset by peer";
    case ENOBUFS: return "No buffer space available";
    case EISCONN: return "Socket is already connected";
    case ENOTCONN: return "Socket is not connected";
    case ESHUTDOWN: return "Can't send after socket shutdown";
    case ETOOMANYREFS: return "Too many references: can't splice";
    case ETIMEDOUT: return "Connection timed out";
    case ECONNREFUSED: return "Connection refused";
    case ELOOP: return "Too many levels of symbolic links";
    case ENAMETOOLONG: return "File name too long";
    case EHOSTDOWN: return "Host is down";
    case EHOSTUNREACH: return "No route to host";
    case kSocketErrHostNotFound: return "Host not found";
    case kSocketErrTryAgain: return "Non-authoritative host not found";
    case kSocketErrNoRecovery: return "Non-recoverable error";
    case kSocketErrNoData: return "Valid name, no data record of requested type";
    case kSocketErrTls: return "TLS failure";
    case kSocketErrCertificate: return "Certificate not trusted";
    default: return "Not a socket error";
  }
}

}  // namespace brindle
