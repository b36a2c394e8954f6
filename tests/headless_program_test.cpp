// The whole program, started without a display from a copy in a temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/expected_pages.h"
#include "support/loopback_client.h"
#include "support/program_folder.h"
#include "support/served_core.h"
#include "support/waiting.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vm::testing::Exchange;
using vmtest::FileExists;
using vmtest::ReadFileBytes;
using vmtest::SplitAnswer;
using vmtest::WriteFileBytes;

constexpr auto kStartTimeout = std::chrono::seconds(10);  // start-up and bind, on a busy machine

// A program folder holding a copy of the built program, with a settings file for the port.
struct Installation : vmtest::TProgramFolder {
  std::string program = Path() + "velmarind";

  explicit Installation(int port, const std::string& moreSettings = "") {
    Write("velmarind", ReadFileBytes(VELMARIND_EXE));
    chmod(program.c_str(), 0755);
    WriteSettings("[COMMON]\r\nHTTP_PORT=" + std::to_string(port) + "\r\n" + moreSettings);
  }
};

// Reads from fd until the predicate holds on what was read, EOF, or the deadline.
std::string ReadUntil(int fd, Clock::time_point deadline, bool (*done)(const std::string&)) {
  std::string text;
  char buffer[4096];
  while (!done(text)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

bool HasLine(const std::string& text) { return text.find('\n') != std::string::npos; }
bool Never(const std::string&) { return false; }

// The port the printed address names ("http://host:port/velmarind/\n"); 0 for none.
int PortIn(const std::string& line) {
  const size_t colon = line.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

// The program run headless, its stdout and stderr on pipes. Killed if a test leaves it running.
class Program {
 public:
  Program(const Installation& installation) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
          entry.rfind("XDG_CONFIG_HOME=", 0) == 0) {
        continue;
      }
      env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + installation.ConfigHome());
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = installation.program;
    char jArgument[] = "-j";
    char* argv[] = {program.data(), jArgument, nullptr};

    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  bool Started() const { return pid_ > 0; }
  std::string FirstLine() { return ReadUntil(out_, Clock::now() + kStartTimeout, HasLine); }
  std::string ErrorText() { return ReadUntil(err_, Clock::now() + kStartTimeout, Never); }
  void Signal(int signal) { kill(pid_, signal); }
  // The exit status, or -1 when it does not end in time (it is then killed).
  int Wait() {
    int status = 0;
    if (!vmtest::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

TEST(HeadlessProgram, ServesTheIndexAndCleansItsPagesOnSigterm) {
  // Port 0: the system's choice, which the address names.
  Installation installation(0);
  const std::string pages = installation.PageFolder();
  // A page file the user left and a folder named like one: the file goes, the folder stays.
  WriteFileBytes(pages + "old.html", "x");
  installation.MakeSubfolder("page/keep.html");

  Program program(installation);
  ASSERT_TRUE(program.Started());
  std::string line = program.FirstLine();
  const int port = PortIn(line);
  ASSERT_NE(port, 0) << line << program.ErrorText();
  std::string suffix = ":" + std::to_string(port) + "/velmarind/\n";
  ASSERT_GE(line.size(), suffix.size()) << line << program.ErrorText();
  EXPECT_EQ(line.rfind("http://", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix) << line;

  const vmtest::THttpAnswer answer =
      SplitAnswer(Exchange(port, "GET /velmarind/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.body, vmtest::JoinCrLf(vmtest::ExpectedIndexPage({})));
  EXPECT_TRUE(FileExists(pages + "index_127.0.0.1.html"));

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_EQ(installation.List("page"),
            (std::vector<std::string>{"keep.html", "vcom.css", "vcom.js"}));
  // Started with "-j": no autostart entry is made, as AUTO_RUN is off.
  EXPECT_FALSE(FileExists(installation.AutostartFile()));
}

TEST(HeadlessProgram, AsksForThePasswordAndEndsCleanlyOnSigint) {
  // Port 0: the system's choice, which the address names.
  Installation installation(0, "PASS_FLG=1\r\nPASSWORD=616263\r\n");
  Program program(installation);
  ASSERT_TRUE(program.Started());
  const int port = PortIn(program.FirstLine());
  ASSERT_NE(port, 0);
  const vmtest::THttpAnswer answer =
      SplitAnswer(Exchange(port, "GET /velmarind/ HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  const std::string stamp = vmtest::StampAfter(answer.body, "name=\"tt\" value=\"");
  EXPECT_EQ(answer.body, vmtest::JoinCrLf(vmtest::ExpectedLoginForm(false, stamp)));
  EXPECT_TRUE(FileExists(installation.PageFolder() + "login_127.0.0.1.html"));
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_EQ(installation.List("page"), (std::vector<std::string>{"vcom.css", "vcom.js"}));
}

TEST(HeadlessProgram, SecondInstanceOnTheSamePortFails) {
  Installation first(0);
  Program running(first);
  ASSERT_TRUE(running.Started());
  const int port = PortIn(running.FirstLine());
  ASSERT_NE(port, 0);
  Installation second(port);

  Program refused(second);
  ASSERT_TRUE(refused.Started());
  std::string errors = refused.ErrorText();
  int status = refused.Wait();
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  // In Japanese (UTF-8 on the terminal): which port, why, and that nothing is served.
  for (const std::string& part :
       {"ポート " + std::to_string(port) + " は他のプログラムが使っています。",
        std::string("何も公開していません。")}) {
    EXPECT_NE(errors.find(part), std::string::npos) << errors;
  }

  // The first one is unharmed and still stops cleanly.
  EXPECT_EQ(Exchange(port, "GET /velmarind/ HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  running.Signal(SIGTERM);
  EXPECT_EQ(running.Wait(), 0);
}

}  // namespace
