#include "foundation/http/TLNetworkingEdition.h"

const TLNetworkingEdition& TLNetworkingEdition::standard() {
  static const TLNetworkingEdition kStandard{kTLNetworkingErrorDomain, kTLNetworkingOperationFailingURLRequestErrorKey,
                                             kTLNetworkingOperationFailingURLResponseErrorKey, "TLNetworking",
                                             "TLNetworking", true, true};
  return kStandard;
}
