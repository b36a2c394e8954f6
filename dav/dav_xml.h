// The XML of the file-manager door: request bodies read with expat into what each method needs,
// and the escaping of what is written back.
//
// Bodies are read with entities off: a document type declaration (where entities are declared,
// and with them the expansion bombs) is refused outright, as it is of no use to any client.
// Nesting and node counts are bounded, and the caller bounds the body's size.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// The most bytes of an XML request body read; a longer body is refused unread.
inline constexpr size_t kMaxDavXmlBody = 256 * 1024;
// Elements nested deeper than this are refused: no request of the protocol needs more.
inline constexpr size_t kMaxDavXmlDepth = 32;
// Elements and text pieces in one body.
inline constexpr size_t kMaxDavXmlNodes = 10000;

struct TDavPropName {
  std::string Namespace;  // "" for none
  std::string Name;
  bool operator==(const TDavPropName&) const = default;
  auto operator<=>(const TDavPropName&) const = default;
};

inline constexpr char kDavNamespace[] = "DAV:";

// A piece of a parsed body: an element (Name not empty) or a text (Name empty).
struct TXmlNode {
  std::string Namespace;
  std::string Name;
  std::vector<std::pair<TDavPropName, std::string>> Attributes;
  std::string Text;
  std::vector<TXmlNode> Children;

  bool Is(std::string_view ns, std::string_view name) const {
    return Name == name && Namespace == ns;
  }
  // The first child element of that name in DAV:, or null.
  const TXmlNode* Child(std::string_view davName) const;
};

enum class TXmlFault {
  None,
  Malformed,     // not well-formed, or not the element the method expects
  Refused,       // a document type declaration, too deep, too many nodes
};

// The parsed body; nullopt with the fault otherwise.
std::optional<TXmlNode> ParseDavXml(std::string_view body, TXmlFault& fault);

// What a PROPFIND asks for.
struct TPropfindRequest {
  enum class TKind { AllProp, PropName, Prop } Kind = TKind::AllProp;
  std::vector<TDavPropName> Props;  // Prop: the names; AllProp: those of "include"
};
// An empty body is allprop.
std::optional<TPropfindRequest> ParsePropfind(std::string_view body, TXmlFault& fault);

struct TPropPatchOperation {
  bool Remove = false;
  TDavPropName Name;
  std::string Value;  // the property element's content as XML (Set only)
};
std::optional<std::vector<TPropPatchOperation>> ParsePropPatch(std::string_view body,
                                                               TXmlFault& fault);

struct TLockInfo {
  bool Exclusive = true;
  std::string OwnerXml;  // the content of DAV:owner as XML, "" when none
};
std::optional<TLockInfo> ParseLockInfo(std::string_view body, TXmlFault& fault);

// Text and attribute values escaped for XML.
std::string XmlEscaped(std::string_view text);
// An element's content as XML, each element with its namespace declared on itself.
std::string SerializeContent(const TXmlNode& node);
// "<p:name xmlns:p="ns">" + content + "</p:name>" (no prefix and xmlns="" for no namespace);
// an empty element when content is empty.
std::string PropertyElement(const TDavPropName& name, std::string_view content);

}  // namespace vm
