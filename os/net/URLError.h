#pragma once
// The URL-loading error domain and its codes. Upper layers compare errors against these.
#include <string>

#include "os/core/Error.h"

namespace os {

inline constexpr const char* kURLErrorDomain = "URLErrorDomain";

enum URLErrorCode : long {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorDNSLookupFailed = -1006,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorBadServerResponse = -1011,
  kURLErrorUserCancelledAuthentication = -1012,
  kURLErrorUserAuthenticationRequired = -1013,
  kURLErrorCannotDecodeRawData = -1015,
  kURLErrorCannotDecodeContentData = -1016,
  kURLErrorCannotParseResponse = -1017,
  kURLErrorRequestBodyStreamExhausted = -1021,
  kURLErrorDataLengthExceedsMaximum = -1103,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateHasBadDate = -1201,
  kURLErrorServerCertificateUntrusted = -1202,
  kURLErrorServerCertificateHasUnknownRoot = -1203,
  kURLErrorClientCertificateRejected = -1205,
  kURLErrorClientCertificateRequired = -1206,
};

// An error of kURLErrorDomain carrying the failing URL (kErrorFailingURLStringKey and
// kErrorFailingURLKey) and a description.
Error makeURLError(long code, const std::string& failingURL, const std::string& description = {});

}  // namespace os
