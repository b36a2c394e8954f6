// The server announced on the local network through the mDNS daemon. Without a daemon the server
// serves all the same; with one (the private daemon tests/announce/run.sh starts, which sets
// VELMARIND_MDNS_TEST) the announcement follows the port served and leaves with the server.
// The D-Bus library takes the system bus address once per process: the script runs the second
// test alone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/form_hide_core.h"
#include "state/stored_settings.h"
#include "support/loopback_client.h"
#include "support/page_lines.h"
#include "support/ports.h"
#include "support/program_folder.h"
#include "support/scoped_env.h"
#include "support/waiting.h"

namespace {

using vmtest::TScopedEnv;
using vmtest::WaitUntil;
using TStatus = vm::TNetworkName::TStatus;
using vmtest::FreePort;

struct Fixture {
  vmtest::TProgramFolder program;
  vm::TFormHideCore core{program.Path()};

  // Serves on loopback (port 0: a free one), announced.
  void Start() {
    program.WriteSettings("[COMMON]\r\nHTTP_PORT=0\r\n");
    core.Server().BindAddress = "127.0.0.1";
    core.EnableAnnouncing();
    core.FormCreate();
  }
  TStatus Status() { return core.State().NetworkName().Status; }
};

// The ports of the services named "Velmarind ..." that the daemon lists now, one per line
// with their TXT record: "port path=/velmarind/".
std::string BrowsedServices() {
  FILE* pipe = popen(
      "timeout 5 avahi-browse --resolve --terminate --parsable --no-db-lookup "
      "_http._tcp 2>/dev/null",
      "r");
  if (!pipe) return "";
  std::string found;
  char line[1024];
  while (fgets(line, sizeof line, pipe)) {
    // =;interface;protocol;name;type;domain;host;address;port;txt
    std::vector<std::string> fields;
    std::string field;
    for (const char* c = line; *c && *c != '\n'; ++c) {
      if (*c == ';') {
        fields.push_back(field);
        field.clear();
      } else {
        field += *c;
      }
    }
    fields.push_back(field);
    if (fields.size() >= 10 && fields[0] == "=" && fields[3].rfind("Velmarind", 0) == 0) {
      const std::string entry = fields[8] + " " + fields[9] + "\n";
      if (found.find(entry) == std::string::npos) found += entry;
    }
  }
  pclose(pipe);
  return found;
}

std::string Listed(int port) { return std::to_string(port) + " \"path=/velmarind/\"\n"; }

TEST(Announce, WithoutTheDaemonTheServerServesAndSaysSo) {
  // No system bus at this address, so certainly no daemon behind it.
  TScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/velmarind-test-bus");
  Fixture f;
  f.Start();
  ASSERT_TRUE(f.core.Server().Active());
  EXPECT_TRUE(WaitUntil([&] { return f.Status() == TStatus::NoDaemon; }));
  const std::string answer = vm::testing::Exchange(
      f.core.Server().BoundPort(), "GET /velmarind/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  f.core.FormClose();
}

TEST(Announce, FollowsThePortServedAndLeavesWithTheServer) {
  if (!std::getenv("VELMARIND_MDNS_TEST")) {
    GTEST_SKIP() << "needs the private mDNS daemon of tests/announce/run.sh";
  }
  Fixture f;
  f.Start();
  const int first = f.core.Server().BoundPort();
  ASSERT_TRUE(WaitUntil([&] { return f.Status() == TStatus::Announced; }));
  EXPECT_FALSE(f.core.State().NetworkName().HostName.empty());
  EXPECT_TRUE(WaitUntil([&] { return BrowsedServices() == Listed(first); })) << BrowsedServices();

  // The name is one the server answers under.
  const std::string host = f.core.State().NetworkName().HostName;
  const std::string answer =
      vm::testing::Exchange(first, "GET /velmarind/ HTTP/1.1\r\nHost: " + host + ":" +
                                       std::to_string(first) + "\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;

  // Moved by the settings window's OK: one service, on the new port.
  vm::TStoredSettings edited = vm::ReadStoredSettings(f.program.Path());
  const int second = FreePort();
  edited.Port = second;
  f.core.StoreSettings(edited);
  ASSERT_EQ(f.core.Server().BoundPort(), second);
  EXPECT_TRUE(WaitUntil([&] { return BrowsedServices() == Listed(second); })) << BrowsedServices();

  f.core.FormClose();
  EXPECT_TRUE(WaitUntil([&] { return BrowsedServices().empty(); })) << BrowsedServices();
}

}  // namespace
