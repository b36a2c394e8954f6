#include "dav/dav_xml.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

constexpr char kOpen[] = "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\">";

TEST(DavXml, HostileBodiesAreRefusedOrMalformed) {
  const std::string deep = std::string(kOpen) + [] {
    std::string nest;
    for (int k = 0; k < 40; ++k) nest += "<D:x>";
    for (int k = 0; k < 40; ++k) nest += "</D:x>";
    return nest;
  }() + "</D:propfind>";
  std::string many = kOpen;
  many += "<D:prop>";
  for (int k = 0; k < 11000; ++k) many += "<D:x/>";
  many += "</D:prop></D:propfind>";
  const struct {
    const char* label;
    std::string body;
    TXmlFault fault;
  } rows[] = {
      {"entity bomb",
       "<!DOCTYPE d [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><D:propfind "
       "xmlns:D=\"DAV:\">&b;</D:propfind>",
       TXmlFault::Refused},
      {"external entity",
       "<!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><D:propfind xmlns:D=\"DAV:\">&e;"
       "</D:propfind>",
       TXmlFault::Refused},
      {"any document type", "<!DOCTYPE d><D:propfind xmlns:D=\"DAV:\"/>", TXmlFault::Refused},
      {"too deep", deep, TXmlFault::Refused},
      {"too many nodes", many, TXmlFault::Refused},
      {"undefined entity", std::string(kOpen) + "&x;</D:propfind>", TXmlFault::Malformed},
      {"undeclared prefix", "<D:propfind/>", TXmlFault::Malformed},
      {"prefix undeclared again",
       std::string(kOpen) + "<D:prop><b:x xmlns:b=\"\"/></D:prop></D:propfind>", TXmlFault::Malformed},
      {"not closed", kOpen, TXmlFault::Malformed},
      {"another element", "<D:lockinfo xmlns:D=\"DAV:\"/>", TXmlFault::Malformed},
  };
  for (const auto& row : rows) {
    TXmlFault fault = TXmlFault::None;
    EXPECT_FALSE(ParsePropfind(row.body, fault)) << row.label;
    EXPECT_EQ(fault, row.fault) << row.label;
  }
}

TEST(DavXml, PropfindKinds) {
  TXmlFault fault = TXmlFault::None;
  EXPECT_EQ(ParsePropfind(" \r\n", fault)->Kind, TPropfindRequest::TKind::AllProp);
  EXPECT_EQ(ParsePropfind(std::string(kOpen) + "<D:propname/></D:propfind>", fault)->Kind,
            TPropfindRequest::TKind::PropName);
  const auto prop = ParsePropfind(
      std::string(kOpen) + "<D:prop><D:getetag/><z:a xmlns:z=\"urn:z\"/><b xmlns=\"\"/></D:prop>"
                           "</D:propfind>",
      fault);
  ASSERT_TRUE(prop);
  const std::vector<TDavPropName> expected = {{"DAV:", "getetag"}, {"urn:z", "a"}, {"", "b"}};
  EXPECT_EQ(prop->Props, expected);
}

TEST(DavXml, PropertyValuesKeepTheirNamespacesAndEscapes) {
  TXmlFault fault = TXmlFault::None;
  const auto operations = ParsePropPatch(
      "<D:propertyupdate xmlns:D=\"DAV:\" xmlns:z=\"urn:z\"><D:set><D:prop><z:p>a&amp;&lt;"
      "<y:in xmlns:y=\"urn:y\" y:at=\"&quot;\" plain=\"1\">t</y:in></z:p></D:prop></D:set>"
      "<D:remove><D:prop><z:q/></D:prop></D:remove></D:propertyupdate>",
      fault);
  ASSERT_TRUE(operations);
  ASSERT_EQ(operations->size(), 2u);
  EXPECT_EQ((*operations)[0].Value,
            "a&amp;&lt;<x:in xmlns:x=\"urn:y\" xmlns:a0=\"urn:y\" a0:at=\"&quot;\" "
            "plain=\"1\">t</x:in>");
  EXPECT_TRUE((*operations)[1].Remove);
  // What is written back parses to the same value.
  const std::string element = PropertyElement((*operations)[0].Name, (*operations)[0].Value);
  const auto again = ParsePropPatch(
      "<D:propertyupdate xmlns:D=\"DAV:\"><D:set><D:prop>" + element +
          "</D:prop></D:set></D:propertyupdate>",
      fault);
  ASSERT_TRUE(again);
  EXPECT_EQ((*again)[0].Name, (*operations)[0].Name);
  EXPECT_EQ((*again)[0].Value, (*operations)[0].Value);
}

TEST(DavXml, LockInfo) {
  TXmlFault fault = TXmlFault::None;
  const auto info = ParseLockInfo(
      "<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:shared/></D:lockscope><D:locktype><D:write/>"
      "</D:locktype><D:owner><D:href>me</D:href></D:owner></D:lockinfo>",
      fault);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->Exclusive);
  EXPECT_EQ(info->OwnerXml, "<x:href xmlns:x=\"DAV:\">me</x:href>");
  EXPECT_FALSE(ParseLockInfo("<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/>"
                             "</D:lockscope></D:lockinfo>",
                             fault));
}

}  // namespace
}  // namespace vm
