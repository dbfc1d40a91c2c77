// fuzz-link: platforms qqconnect_core foundation os
// Bytes another application left on a QQ pasteboard, read as the QQ client reads them: only the
// QQ classes are made, and what is made archives again and reads back the same kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platforms/qq/QQApiObject.h"
#include "platforms/qq/QQPasteboard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const os::Data bytes(data, data + size);
  auto item = os::KeyedUnarchiver::unarchiveObject(bytes, QQApiArchiveClasses());
  if (!item) return 0;
  if (auto array = item->objectAs<QQDataArray>()) {
    for (const auto& element : array->objectArray()) (void)element;
  }
  if (auto message = item->objectAs<QQApiMessage>()) {
    auto again = os::KeyedArchiver::archivedData(message);
    if (!again) std::abort();
    auto back = os::KeyedUnarchiver::unarchiveObject(*again, QQApiArchiveClasses());
    auto backMessage = back ? back->objectAs<QQApiMessage>() : nullptr;
    if (!backMessage || backMessage->type != message->type) std::abort();
    const std::string kind = message->object ? message->object->className() : "";
    const std::string backKind = backMessage->object ? backMessage->object->className() : "";
    // Pay, common-content and chat objects archive as plain objects: everything else keeps its kind.
    if (kind != backKind && backKind != "QQApiObject") std::abort();
  }
  return 0;
}
