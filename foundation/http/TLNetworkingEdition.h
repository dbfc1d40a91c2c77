#pragma once
// The names that tell one edition of the HTTP client family from another: its error domain and
// error keys, its strings table and the name of its network thread. Every class of the family
// takes an edition, so a component that carries its own copy of the client (with its own prefix
// and domain) is this code with another edition, not another implementation.
#include <string>

// Broadcast by every edition with the operation as object (the same names across editions, so an
// observer of one edition's operations sees the others' too).
inline constexpr const char* kTLNetworkingOperationDidStartNotification = "com.tessaline.networking.operation.start";
inline constexpr const char* kTLNetworkingOperationDidFinishNotification = "com.tessaline.networking.operation.finish";

struct TLNetworkingEdition {
  std::string errorDomain;
  // Error user-info keys under which an acceptance error describes the request and the response.
  std::string failingURLRequestKey;
  std::string failingURLResponseKey;
  // Strings table of the main bundle in which error texts are looked up.
  std::string stringsTable;
  // Name of the edition's one network thread.
  std::string networkThreadName;
  // Bodies of a "text" type that name no charset read as ISO Latin-1 (else UTF-8).
  bool textTypesDefaultToLatin1 = true;
  // A cancelled operation reports its cancellation to the failure closure (else to neither).
  bool cancellationCallsFailure = true;
  // Operations announce their start and finish on the main queue (else at once, on the thread
  // whose change of state they announce: the network thread, or the caller's for a cancel or pause).
  bool broadcastsOnMainQueue = true;
  // Clients and operations can be copied and archived (else asking for either raises, as for an
  // object that offers neither).
  bool copiesAndArchives = true;

  static const TLNetworkingEdition& standard();
};

// What an edition without copying or archiving does when asked for either: raises
// NSInvalidArgumentException, naming the class and the operation.
[[noreturn]] void TLNetworkingRefuse(const std::string& className, const std::string& operation);

// The standard edition's names.
inline constexpr const char* kTLNetworkingErrorDomain = "TLNetworkingErrorDomain";
inline constexpr const char* kTLNetworkingOperationFailingURLRequestErrorKey = "TLNetworkingOperationFailingURLRequestErrorKey";
inline constexpr const char* kTLNetworkingOperationFailingURLResponseErrorKey = "TLNetworkingOperationFailingURLResponseErrorKey";
