// The URLs the desktop lists: the base URL first, every other address once, the announced name.
#include "state/served_urls.h"

#include <gtest/gtest.h>

namespace {

using vm::TNetworkName;
using TStatus = TNetworkName::TStatus;

TEST(ServedUrls, BaseUrlFirstThenEachOtherAddressAndTheNameOnlyOnceAnnounced) {
  struct Row {
    const char* label;
    int port;
    std::vector<std::string> addresses;
    TNetworkName name;
    std::vector<std::string> byAddress;
    std::string byName;
  } rows[] = {
      {"wired, Wi-Fi and VPN",
       8080,
       {"192.168.1.5", "10.8.0.2", "172.16.0.9"},
       {TStatus::Announced, "pc.local", ""},
       {"http://192.168.1.5:8080/velmarind/", "http://10.8.0.2:8080/velmarind/",
        "http://172.16.0.9:8080/velmarind/"},
       "http://pc.local:8080/velmarind/"},
      {"port 80 has no colon",
       80,
       {"192.168.1.5"},
       {TStatus::Announced, "pc.local", ""},
       {"http://192.168.1.5/velmarind/"},
       "http://pc.local/velmarind/"},
      {"the base URL stays first when the interfaces changed since the start",
       8080,
       {"10.8.0.2"},
       {TStatus::NoDaemon, "", ""},
       {"http://192.168.1.5:8080/velmarind/", "http://10.8.0.2:8080/velmarind/"},
       ""},
      {"a name not confirmed yet is not listed",
       8080,
       {"192.168.1.5"},
       {TStatus::Waiting, "pc.local", ""},
       {"http://192.168.1.5:8080/velmarind/"},
       ""},
  };
  for (const Row& row : rows) {
    vm::TMainState state;
    vm::TSettings settings;
    settings.Port = row.port;
    settings.BaseURL =
        row.port == 80 ? "http://192.168.1.5/velmarind/" : "http://192.168.1.5:8080/velmarind/";
    state.Replace(settings, {});
    state.SetNetworkName(row.name);
    const vm::TServedUrls urls = vm::MakeServedUrls(state, row.addresses);
    EXPECT_EQ(urls.ByAddress, row.byAddress) << row.label;
    EXPECT_EQ(urls.ByName, row.byName) << row.label;
  }
}

TEST(ServedUrls, TheAnnouncedNameIsAnsweredBesideTheUsersNames) {
  vm::TMainState state;
  vm::TSettings settings;
  settings.ExtraHosts = {"nas.lan"};
  state.Replace(settings, {});
  state.SetNetworkName({TStatus::Announced, "pc-2.local", ""});
  EXPECT_EQ(state.Settings().ExtraHosts, (std::vector<std::string>{"nas.lan", "pc-2.local"}));
  // The user's names replaced by the settings window's OK: the announced one stays.
  settings.ExtraHosts = {"other.lan"};
  state.Replace(settings, {});
  EXPECT_EQ(state.Settings().ExtraHosts, (std::vector<std::string>{"other.lan", "pc-2.local"}));
}

}  // namespace
