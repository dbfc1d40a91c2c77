#include "foundation/http/TLNetworkingEdition.h"

#include "os/core/Error.h"

const TLNetworkingEdition& TLNetworkingEdition::standard() {
  static const TLNetworkingEdition kStandard{kTLNetworkingErrorDomain, kTLNetworkingOperationFailingURLRequestErrorKey,
                                             kTLNetworkingOperationFailingURLResponseErrorKey, "TLNetworking",
                                             "TLNetworking", true, true};
  return kStandard;
}

void TLNetworkingRefuse(const std::string& className, const std::string& operation) {
  throw os::Exception(os::kInvalidArgumentException, "-[" + className + " " + operation + "]: unrecognized selector sent to instance");
}
