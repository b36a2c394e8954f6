#include "thumbs/thumbnail_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

#include "thumbs/thumbnail_protocol.h"

extern char** environ;

namespace vm::thumbs {

namespace {

// How often a waiting request looks whether its browser is still there.
constexpr auto kClientCheckInterval = std::chrono::milliseconds(100);
// A program told to stop (its socket closed) gets this long before it is killed.
constexpr auto kStopGrace = std::chrono::milliseconds(500);

// Seconds the program's own time limit per job lies beyond ours.
constexpr long long kOwnLimitMargin = 2;

// The program's environment: one worker thread and few malloc arenas keep its memory small;
// the library's warnings about damaged images are of no use to anyone here.
std::vector<std::string> ProgramEnvironment() {
  std::vector<std::string> env = {"VIPS_CONCURRENCY=1", "MALLOC_ARENA_MAX=2", "VIPS_WARNING=0"};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("PATH=") || entry.starts_with("LANG=") || entry.starts_with("HOME=")) {
      env.emplace_back(entry);
    }
  }
  return env;
}

bool SendJob(int socket, int fd, TJobKind kind) {
  TJobMessage job;
  job.Byte = static_cast<char>(kind);
  cmsghdr* c = CMSG_FIRSTHDR(&job.Message);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &fd, sizeof(fd));
  ssize_t n;
  do {
    n = sendmsg(socket, &job.Message, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

// Reads exactly size bytes before the deadline.
bool ReadAll(int socket, void* into, size_t size, std::chrono::steady_clock::time_point deadline) {
  char* at = static_cast<char*>(into);
  while (size > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{socket, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = recv(socket, at, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TThumbnailWorkers::TThumbnailWorkers(std::string program, TThumbnailLimits limits)
    : program_(std::move(program)), limits_(limits), slots_(std::max(1, limits.Workers)) {}

TThumbnailWorkers::~TThumbnailWorkers() {
  for (TSlot& slot : slots_) End(slot);
}

TWorkerCounters TThumbnailWorkers::Counters() const {
  const std::lock_guard lock(mutex_);
  return counters_;
}

std::vector<pid_t> TThumbnailWorkers::ProgramIds() const {
  const std::lock_guard lock(mutex_);
  std::vector<pid_t> ids;
  for (const TSlot& slot : slots_) {
    const pid_t pid = slot.Pid.load();
    if (pid > 0) ids.push_back(pid);
  }
  return ids;
}

int TThumbnailWorkers::TakeSlot(const std::function<bool()>& clientGone, TMade::TOutcome& refusal) {
  std::unique_lock lock(mutex_);
  const uint64_t ticket = nextTicket_++;
  waiting_.push_back(ticket);
  if (waiting_.size() > limits_.MaxWaiting) {
    pushedOut_.insert(waiting_.front());
    waiting_.pop_front();
    turn_.notify_all();
  }
  for (;;) {
    if (pushedOut_.erase(ticket) != 0) {
      ++counters_.busy;
      refusal = TMade::TOutcome::Busy;
      return -1;
    }
    if (waiting_.back() == ticket) {
      for (size_t k = 0; k < slots_.size(); ++k) {
        if (slots_[k].Busy) continue;
        slots_[k].Busy = true;
        waiting_.pop_back();
        turn_.notify_all();  // the next newest may find another free slot
        return static_cast<int>(k);
      }
    }
    turn_.wait_for(lock, kClientCheckInterval);
    if (clientGone && clientGone()) {
      waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
      ++counters_.dropped;
      turn_.notify_all();
      refusal = TMade::TOutcome::Dropped;
      return -1;
    }
  }
}

void TThumbnailWorkers::GiveBack(int slot) {
  const std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(slot)].Busy = false;
  turn_.notify_all();
}

TMade TThumbnailWorkers::Make(int fd, const std::function<bool()>& clientGone, TJobKind kind) {
  TMade::TOutcome refusal = TMade::TOutcome::Placeholder;
  const int slot = TakeSlot(clientGone, refusal);
  if (slot < 0) return {refusal, "", ""};
  // The slot is the caller's alone until it is given back.
  TSlot& held = slots_[static_cast<size_t>(slot)];
  bool ended = false;
  TMade made = RunJob(held, fd, kind, ended);
  {
    const std::lock_guard lock(mutex_);
    if (made.Outcome == TMade::TOutcome::Image) {
      ++counters_.made;
    } else if (made.Outcome == TMade::TOutcome::Placeholder) {
      ++counters_.placeholders;
    }
    if (ended) ++counters_.ended;
  }
  GiveBack(slot);
  return made;
}

bool TThumbnailWorkers::Start(TSlot& slot) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  TUniqueFd ours(pair[0]);
  TUniqueFd theirs(pair[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.Get(), kSocketFd);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Nothing of the server's (listening socket, connections, open files) reaches the program.
  posix_spawn_file_actions_addclosefrom_np(&actions, kSocketFd + 1);
  const std::string size = std::to_string(limits_.Size);
  const std::string viewSize = std::to_string(limits_.ViewSize);
  const std::string pixels = std::to_string(limits_.MaxPixels);
  const std::string memory = std::to_string(limits_.MemoryMiB);
  // The program's own limit comes after ours: it matters only when we are gone.
  const std::string seconds = std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(std::max(limits_.Time, limits_.ViewTime))
          .count() +
      kOwnLimitMargin);
  char* argv[] = {const_cast<char*>(program_.c_str()),
                  const_cast<char*>(size.c_str()),
                  const_cast<char*>(pixels.c_str()),
                  const_cast<char*>(memory.c_str()),
                  const_cast<char*>(seconds.c_str()),
                  const_cast<char*>(viewSize.c_str()),
                  nullptr};
  std::vector<std::string> env = ProgramEnvironment();
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return false;
  slot.Pid = pid;
  slot.Socket = std::move(ours);
  return true;
}

void TThumbnailWorkers::End(TSlot& slot) {
  const pid_t pid = slot.Pid.load();
  if (pid <= 0) return;
  slot.Socket.Reset();  // the program ends when it reads the end of its socket
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  for (;;) {
    const pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || done < 0) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  slot.Pid = -1;
}

TMade TThumbnailWorkers::RunJob(TSlot& slot, int fd, TJobKind kind, bool& ended) {
  if (slot.Pid <= 0 && !Start(slot)) return {TMade::TOutcome::Unavailable, "", ""};
  const auto deadline =
      std::chrono::steady_clock::now() + (kind == TJobKind::View ? limits_.ViewTime : limits_.Time);
  TReplyHead head{};
  TMade made;
  bool answered = SendJob(slot.Socket.Get(), fd, kind) &&
                  ReadAll(slot.Socket.Get(), &head, sizeof(head), deadline);
  if (answered && head.Kind != TReplyKind::Placeholder) {
    answered = head.Length > 0 && head.Length <= MaxReplyBytes(kind) &&
               (head.Kind == TReplyKind::Facts) == (kind == TJobKind::VideoFacts);
    if (answered) {
      made.Bytes.resize(head.Length);
      answered = ReadAll(slot.Socket.Get(), made.Bytes.data(), head.Length, deadline);
    }
    if (answered) {
      made.Outcome = TMade::TOutcome::Image;
      made.ContentType = head.Kind == TReplyKind::Facts  ? "text/plain"
                         : head.Kind == TReplyKind::Webp ? "image/webp"
                                                         : "image/jpeg";
    } else {
      made.Bytes.clear();
    }
  }
  if (!answered) {
    // Too slow, dead (out of memory, a crash in a decoder) or talking nonsense: a new program
    // takes the next job.
    if (const pid_t pid = slot.Pid.load(); pid > 0) kill(pid, SIGKILL);
    End(slot);
    ended = true;
  }
  return made;
}

}  // namespace vm::thumbs
