// The file-manager door's request bodies and headers on arbitrary bytes: the XML readers (with
// their bounds and refusals), the If header and the address parser must never crash, and a
// property value read from a body must read back the same once written into an answer.
//
// Input: one byte choosing the reader, then the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dav/dav_href.h"
#include "dav/dav_locks.h"
#include "dav/dav_xml.h"

namespace {

void CheckRoundTrip(const vm::TPropPatchOperation& operation) {
  const std::string body = "<D:propertyupdate xmlns:D=\"DAV:\"><D:set><D:prop>" +
                           vm::PropertyElement(operation.Name, operation.Value) +
                           "</D:prop></D:set></D:propertyupdate>";
  vm::TXmlFault fault = vm::TXmlFault::None;
  const auto again = vm::ParsePropPatch(body, fault);
  if (!again || again->size() != 1 || (*again)[0].Name != operation.Name ||
      (*again)[0].Value != operation.Value) {
    std::fprintf(stderr, "broken invariant: a stored property value does not read back\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > vm::kMaxDavXmlBody) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  vm::TXmlFault fault = vm::TXmlFault::None;
  switch (data[0] % 5) {
    case 0:
      vm::ParsePropfind(text, fault);
      break;
    case 1:
      if (const auto operations = vm::ParsePropPatch(text, fault)) {
        for (const vm::TPropPatchOperation& operation : *operations) {
          if (!operation.Remove) CheckRoundTrip(operation);
        }
      }
      break;
    case 2:
      vm::ParseLockInfo(text, fault);
      break;
    case 3:
      if (const auto lists = vm::ParseIfHeader(text)) vm::SubmittedTokens(*lists);
      break;
    case 4:
      if (const auto path = vm::ParseDavTarget(text)) {
        // An href written for a parsed path names the same path.
        const auto again = vm::ParseDavTarget(vm::DavHref(*path, path->TrailingSlash));
        if (!again || again->Segments != path->Segments) {
          std::fprintf(stderr, "broken invariant: an href does not parse back to its path\n");
          std::abort();
        }
      }
      break;
  }
  return 0;
}
