#include "dav/dav_xml.h"

#include <expat.h>

#include <memory>

namespace vm {

namespace {

// Separates a namespace from the local name in the names expat reports.
constexpr char kNameSeparator = '\n';

TDavPropName SplitName(const XML_Char* qualified) {
  const std::string_view name(qualified);
  const size_t separator = name.find(kNameSeparator);
  if (separator == std::string_view::npos) return {"", std::string(name)};
  return {std::string(name.substr(0, separator)), std::string(name.substr(separator + 1))};
}

struct TTreeBuilder {
  XML_Parser parser = nullptr;
  TXmlNode root;  // a holder: the document element is its only child element
  std::vector<TXmlNode*> open{&root};
  size_t nodes = 0;
  bool refused = false;

  void Refuse() {
    refused = true;
    XML_StopParser(parser, XML_FALSE);
  }
  bool Count() {
    if (++nodes > kMaxDavXmlNodes) Refuse();
    return !refused;
  }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto* builder = static_cast<TTreeBuilder*>(data);
  if (builder->refused || !builder->Count()) return;
  if (builder->open.size() > kMaxDavXmlDepth) return builder->Refuse();
  TXmlNode node;
  TDavPropName split = SplitName(name);
  node.Namespace = std::move(split.Namespace);
  node.Name = std::move(split.Name);
  for (size_t k = 0; attributes[k] != nullptr; k += 2) {
    node.Attributes.emplace_back(SplitName(attributes[k]), attributes[k + 1]);
  }
  TXmlNode* parent = builder->open.back();
  parent->Children.push_back(std::move(node));
  builder->open.push_back(&parent->Children.back());
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  auto* builder = static_cast<TTreeBuilder*>(data);
  if (!builder->refused && builder->open.size() > 1) builder->open.pop_back();
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  auto* builder = static_cast<TTreeBuilder*>(data);
  if (builder->refused) return;
  TXmlNode* parent = builder->open.back();
  // Expat hands text over in pieces: consecutive pieces make one text node.
  if (!parent->Children.empty() && parent->Children.back().Name.empty()) {
    parent->Children.back().Text.append(text, static_cast<size_t>(length));
    return;
  }
  if (!builder->Count()) return;
  TXmlNode piece;
  piece.Text.assign(text, static_cast<size_t>(length));
  parent->Children.push_back(std::move(piece));
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<TTreeBuilder*>(data)->Refuse();
}

void XMLCALL OnEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                      const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<TTreeBuilder*>(data)->Refuse();
}

// The document element, or null.
const TXmlNode* DocumentElement(const TXmlNode& holder) {
  for (const TXmlNode& child : holder.Children) {
    if (!child.Name.empty()) return &child;
  }
  return nullptr;
}

bool IsBlank(std::string_view body) {
  return body.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The prefix declarations a serialised element needs: its own namespace and its attributes'.
void AppendElement(const TXmlNode& node, std::string& out);

void AppendContent(const TXmlNode& node, std::string& out) {
  for (const TXmlNode& child : node.Children) {
    if (child.Name.empty()) {
      out += XmlEscaped(child.Text);
    } else {
      AppendElement(child, out);
    }
  }
}

void AppendElement(const TXmlNode& node, std::string& out) {
  const std::string tag = node.Namespace.empty() ? node.Name : "x:" + node.Name;
  out += "<" + tag;
  out += node.Namespace.empty() ? std::string(" xmlns=\"\"")
                                : " xmlns:x=\"" + XmlEscaped(node.Namespace) + "\"";
  int attributeSpace = 0;
  for (const auto& [name, value] : node.Attributes) {
    if (name.Namespace.empty()) {
      out += " " + name.Name + "=\"" + XmlEscaped(value) + "\"";
    } else {
      const std::string prefix = "a" + std::to_string(attributeSpace++);
      out += " xmlns:" + prefix + "=\"" + XmlEscaped(name.Namespace) + "\" " + prefix + ":" +
             name.Name + "=\"" + XmlEscaped(value) + "\"";
    }
  }
  if (node.Children.empty()) {
    out += "/>";
    return;
  }
  out += ">";
  AppendContent(node, out);
  out += "</" + tag + ">";
}

std::vector<TDavPropName> ChildNames(const TXmlNode& node) {
  std::vector<TDavPropName> names;
  for (const TXmlNode& child : node.Children) {
    if (!child.Name.empty()) names.push_back({child.Namespace, child.Name});
  }
  return names;
}

}  // namespace

const TXmlNode* TXmlNode::Child(std::string_view davName) const {
  for (const TXmlNode& child : Children) {
    if (child.Is(kDavNamespace, davName)) return &child;
  }
  return nullptr;
}

std::optional<TXmlNode> ParseDavXml(std::string_view body, TXmlFault& fault) {
  fault = TXmlFault::None;
  TTreeBuilder builder;
  const std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
      XML_ParserCreateNS("UTF-8", kNameSeparator), &XML_ParserFree);
  if (!parser) {
    fault = TXmlFault::Refused;
    return std::nullopt;
  }
  builder.parser = parser.get();
  XML_SetUserData(parser.get(), &builder);
  XML_SetElementHandler(parser.get(), OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser.get(), OnText);
  XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
  XML_SetEntityDeclHandler(parser.get(), OnEntity);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  const XML_Status status =
      XML_Parse(parser.get(), body.data(), static_cast<int>(body.size()), XML_TRUE);
  if (builder.refused) {
    fault = TXmlFault::Refused;
    return std::nullopt;
  }
  if (status != XML_STATUS_OK || DocumentElement(builder.root) == nullptr) {
    fault = TXmlFault::Malformed;
    return std::nullopt;
  }
  return std::move(builder.root);
}

std::optional<TPropfindRequest> ParsePropfind(std::string_view body, TXmlFault& fault) {
  fault = TXmlFault::None;
  TPropfindRequest request;
  if (IsBlank(body)) return request;
  const std::optional<TXmlNode> tree = ParseDavXml(body, fault);
  if (!tree) return std::nullopt;
  const TXmlNode* root = DocumentElement(*tree);
  fault = TXmlFault::Malformed;
  if (!root->Is(kDavNamespace, "propfind")) return std::nullopt;
  if (const TXmlNode* prop = root->Child("prop")) {
    request.Kind = TPropfindRequest::TKind::Prop;
    request.Props = ChildNames(*prop);
  } else if (root->Child("propname")) {
    request.Kind = TPropfindRequest::TKind::PropName;
  } else if (root->Child("allprop")) {
    if (const TXmlNode* include = root->Child("include")) request.Props = ChildNames(*include);
  } else {
    return std::nullopt;
  }
  fault = TXmlFault::None;
  return request;
}

std::optional<std::vector<TPropPatchOperation>> ParsePropPatch(std::string_view body,
                                                               TXmlFault& fault) {
  const std::optional<TXmlNode> tree = ParseDavXml(body, fault);
  if (!tree) return std::nullopt;
  const TXmlNode* root = DocumentElement(*tree);
  fault = TXmlFault::Malformed;
  if (!root->Is(kDavNamespace, "propertyupdate")) return std::nullopt;
  std::vector<TPropPatchOperation> operations;
  for (const TXmlNode& action : root->Children) {
    const bool set = action.Is(kDavNamespace, "set");
    if (!set && !action.Is(kDavNamespace, "remove")) continue;
    const TXmlNode* prop = action.Child("prop");
    if (prop == nullptr) return std::nullopt;
    for (const TXmlNode& property : prop->Children) {
      if (property.Name.empty()) continue;
      operations.push_back({!set, {property.Namespace, property.Name},
                            set ? SerializeContent(property) : std::string()});
    }
  }
  if (operations.empty()) return std::nullopt;
  fault = TXmlFault::None;
  return operations;
}

std::optional<TLockInfo> ParseLockInfo(std::string_view body, TXmlFault& fault) {
  const std::optional<TXmlNode> tree = ParseDavXml(body, fault);
  if (!tree) return std::nullopt;
  const TXmlNode* root = DocumentElement(*tree);
  fault = TXmlFault::Malformed;
  if (!root->Is(kDavNamespace, "lockinfo")) return std::nullopt;
  const TXmlNode* scope = root->Child("lockscope");
  const TXmlNode* type = root->Child("locktype");
  if (scope == nullptr || type == nullptr || type->Child("write") == nullptr) return std::nullopt;
  TLockInfo info;
  if (scope->Child("shared")) {
    info.Exclusive = false;
  } else if (!scope->Child("exclusive")) {
    return std::nullopt;
  }
  if (const TXmlNode* owner = root->Child("owner")) info.OwnerXml = SerializeContent(*owner);
  fault = TXmlFault::None;
  return info;
}

std::string XmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    // A CR would come back as LF from any parser: kept as a reference, it survives.
    const char* entity = c == '<'    ? "&lt;"
                         : c == '>'  ? "&gt;"
                         : c == '&'  ? "&amp;"
                         : c == '"'  ? "&quot;"
                         : c == '\r' ? "&#13;"
                                     : nullptr;
    if (entity != nullptr) {
      out += entity;
    } else {
      out += c;
    }
  }
  return out;
}

std::string SerializeContent(const TXmlNode& node) {
  std::string out;
  AppendContent(node, out);
  return out;
}

std::string PropertyElement(const TDavPropName& name, std::string_view content) {
  std::string tag;
  std::string declaration;
  if (name.Namespace == kDavNamespace) {
    tag = "D:" + name.Name;
  } else if (name.Namespace.empty()) {
    tag = name.Name;
    declaration = " xmlns=\"\"";
  } else {
    tag = "P:" + name.Name;
    declaration = " xmlns:P=\"" + XmlEscaped(name.Namespace) + "\"";
  }
  if (content.empty()) return "<" + tag + declaration + "/>";
  return "<" + tag + declaration + ">" + std::string(content) + "</" + tag + ">";
}

}  // namespace vm
