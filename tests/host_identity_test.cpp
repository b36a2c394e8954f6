#include "platform/host_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Domains = std::vector<std::string>;

TEST(HostIdentity, ResolvConfDomainAndSearchLines) {
  struct Row {
    const char* label;
    const char* text;
    Domains domains;
  };
  const Row rows[] = {
      {"domain line", "nameserver 10.0.0.1\ndomain home.arpa\n", {"home.arpa"}},
      {"search list", "search corp.example lan.\n", {"corp.example", "lan"}},
      {"both, repeated names once",
       "domain lan\nsearch lan Other.example\n",
       {"lan", "Other.example"}},
      {"tabs and CR LF", "search\tone.example\t two.example\r\n", {"one.example", "two.example"}},
      {"comments",
       "# search hidden.example\n; domain gone.example\nsearch a.example # b\n",
       {"a.example"}},
      {"root domain adds nothing", "search .\n", {}},
      {"keyword alone", "search\ndomain\n", {}},
      {"keyword as a prefix", "searching x.example\n", {}},
      {"no final newline", "domain last.example", {"last.example"}},
      {"empty", "", {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vm::ResolvConfDomains(row.text), row.domains) << row.label;
  }
}

TEST(HostIdentity, HostsFileNamesOfThisHost) {
  struct Row {
    const char* label;
    const char* text;
    Domains domains;
  };
  const Row rows[] = {
      {"fully qualified name first", "127.0.1.1\tbox.home.arpa box\n", {"home.arpa"}},
      {"alias after the short name", "10.0.0.5 box Box.Lan\n", {"Lan"}},
      {"several lines",
       "127.0.1.1 box.a.example\n10.0.0.5 box.b.example box\n",
       {"a.example", "b.example"}},
      {"other hosts' lines", "10.0.0.9 other.example other\n127.0.0.1 localhost\n", {}},
      {"a longer name starting alike", "10.0.0.9 boxer.example boxer\n", {}},
      {"the address field is no name", "box.example.org 10.0.0.1\n", {}},
      {"commented out", "# 10.0.0.5 box.old.example box\n", {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vm::HostsFileDomains(row.text, "box"), row.domains) << row.label;
  }
  EXPECT_EQ(vm::HostsFileDomains("10.0.0.5 .example\n", ""), Domains{}) << "no host name";
}

}  // namespace
