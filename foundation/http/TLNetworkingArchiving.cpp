#include "foundation/http/TLNetworkingArchiving.h"

#include "foundation/http/TLHTTPClient.h"
#include "foundation/http/TLImageRequestOperation.h"
#include "foundation/http/TLJSONRequestOperation.h"
#include "foundation/http/TLPropertyListRequestOperation.h"
#include "foundation/http/TLXMLRequestOperation.h"
#include "os/net/URLArchiving.h"

namespace {

std::shared_ptr<os::Archivable> decodeOperation(os::KeyedUnarchiver& coder,
                                                const std::function<std::shared_ptr<TLURLConnectionOperation>(os::URLRequest)>& make) {
  auto request = TLURLConnectionOperation::archivedRequest(coder);
  if (!request) return nullptr;
  auto operation = make(std::move(*request));
  if (!operation) return nullptr;
  operation->restoreFromCoder(coder);
  return operation;
}

}  // namespace

os::ArchiveClassRegistry TLNetworkingArchiveClasses() {
  os::ArchiveClassRegistry registry;
  os::addURLLoadingArchiveClasses(registry);
  registry.add("TLURLConnectionOperation", [](os::KeyedUnarchiver& coder) {
    return decodeOperation(coder, [](os::URLRequest r) { return TLURLConnectionOperation::create(std::move(r)); });
  });
  // Every class of the HTTP family decodes as itself.
  for (const TLHTTPOperationClass* cls :
       {&TLHTTPRequestOperation::operationClass(), &TLJSONRequestOperation::operationClass(),
        &TLXMLRequestOperation::operationClass(), &TLPropertyListRequestOperation::operationClass(),
        &TLImageRequestOperation::operationClass()}) {
    registry.add(cls->name(), [cls](os::KeyedUnarchiver& coder) {
      return decodeOperation(coder, [cls](os::URLRequest r) { return cls->instantiate(r); });
    });
  }
  registry.add("TLHTTPClient", [](os::KeyedUnarchiver& coder) -> std::shared_ptr<os::Archivable> {
    return TLHTTPClient::clientWithCoder(coder);
  });
  return registry;
}
