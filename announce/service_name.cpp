#include "announce/service_announcer.h"

namespace vm {

std::string CutServiceName(const std::string& name) {
  if (name.size() <= kMaxServiceNameBytes) return name;
  size_t length = kMaxServiceNameBytes;
  // A UTF-8 continuation byte (10xxxxxx) at the cut means a character would be split.
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return name.substr(0, length);
}

}  // namespace vm
