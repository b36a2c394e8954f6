// The whole program, started without a display from a copy in a temporary folder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_client.h"
#include "support/page_lines.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vm::testing::Exchange;
using vmtest::FileExists;
using vmtest::ReadFileBytes;
using vmtest::TTempFolder;
using vmtest::WriteFileBytes;

constexpr auto kStartTimeout = std::chrono::seconds(10);  // start-up and bind, on a busy machine
constexpr auto kStopTimeout = std::chrono::seconds(10);   // close handling after SIGTERM

// A port free on this machine now: bound to port 0 on loopback, read, and released.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  // Probed on every address, as the program binds it: a port free on loopback alone may still
  // be held on another local address (a client socket in TIME_WAIT, say).
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return 0;
  }
  close(fd);
  return ntohs(address.sin_port);
}

// A copy of the built program with its page folder and a settings file for the port.
struct Installation {
  TTempFolder folder;
  std::string program;

  explicit Installation(int port, const std::string& moreSettings = "") {
    program = folder.Path() + "velmarind";
    WriteFileBytes(program, ReadFileBytes(VELMARIND_EXE));
    chmod(program.c_str(), 0755);
    std::string built = VELMARIND_EXE;
    std::string builtPages = built.substr(0, built.rfind('/') + 1) + "page/";
    std::string pages = folder.MakeSubfolder("page");
    for (const char* name : {"vcom.css", "vcom.js"}) {
      WriteFileBytes(pages + name, ReadFileBytes(builtPages + name));
    }
    WriteFileBytes(folder.Path() + "velmarind.ini",
                   "[COMMON]\r\nHTTP_PORT=" + std::to_string(port) + "\r\n" + moreSettings);
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
    env.push_back("XDG_CONFIG_HOME=" + installation.folder.Path() + "config");
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
  int Wait(std::chrono::seconds timeout) {
    auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

TEST(HeadlessProgram, ServesTheIndexAndCleansItsPagesOnSigterm) {
  int port = FreePort();
  ASSERT_NE(port, 0);
  Installation installation(port);
  const std::string pages = installation.folder.Path() + "page/";
  // A page file the user left and a folder named like one: the file goes, the folder stays.
  WriteFileBytes(pages + "old.html", "x");
  installation.folder.MakeSubfolder("page/keep.html");

  Program program(installation);
  ASSERT_TRUE(program.Started());
  std::string line = program.FirstLine();
  std::string suffix = ":" + std::to_string(port) + "/velmarind/\n";
  ASSERT_GE(line.size(), suffix.size()) << line << program.ErrorText();
  EXPECT_EQ(line.rfind("http://", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix) << line;

  std::string answer = Exchange(port, "GET /velmarind/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  size_t body = answer.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos) << answer;
  EXPECT_EQ(answer.substr(body + 4, 8), "<HTML>\r\n");
  EXPECT_TRUE(FileExists(pages + "index_127.0.0.1.html"));

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(kStopTimeout), 0);
  EXPECT_EQ(installation.folder.List("page"),
            (std::vector<std::string>{"keep.html", "vcom.css", "vcom.js"}));
  // Started with "-j": no autostart entry is made, as AUTO_RUN is off.
  EXPECT_FALSE(FileExists(installation.folder.Path() + "config/autostart/velmarind.desktop"));
}

TEST(HeadlessProgram, AsksForThePasswordAndEndsCleanlyOnSigint) {
  int port = FreePort();
  ASSERT_NE(port, 0);
  Installation installation(port, "PASS_FLG=1\r\nPASSWORD=616263\r\n");
  Program program(installation);
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(HasLine(program.FirstLine()));
  std::string answer = Exchange(port, "GET /velmarind/ HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\n<form name=\"mform\" action=\"login.html\" method=\"POST\" "
                        "onsubmit=\"return cmd_go()\">\r\n"),
            std::string::npos)
      << answer;
  EXPECT_TRUE(FileExists(installation.folder.Path() + "page/login_127.0.0.1.html"));
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(kStopTimeout), 0);
  EXPECT_EQ(installation.folder.List("page"), (std::vector<std::string>{"vcom.css", "vcom.js"}));
}

TEST(HeadlessProgram, SecondInstanceOnTheSamePortFails) {
  int port = FreePort();
  ASSERT_NE(port, 0);
  Installation first(port);
  Installation second(port);
  Program running(first);
  ASSERT_TRUE(running.Started());
  ASSERT_TRUE(HasLine(running.FirstLine()));

  Program refused(second);
  ASSERT_TRUE(refused.Started());
  std::string errors = refused.ErrorText();
  int status = refused.Wait(kStopTimeout);
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
  EXPECT_EQ(running.Wait(kStopTimeout), 0);
}

}  // namespace
