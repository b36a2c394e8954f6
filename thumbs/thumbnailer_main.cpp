// The thumbnail program: makes thumbnails and converted views of the images and videos the
// server hands it, and reads videos' facts, one job at a time.
//
// It runs apart from the server so that an image that is hostile or merely huge costs at most
// this process: it holds no share, no socket but its own, has capped memory and no right to
// write files, and the server ends it when a job takes too long.
//
//   velmarind-thumbnailer SIZE MAX_PIXELS MEMORY_MIB SECONDS VIEW_SIZE
//   (the socket on descriptor 3)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vips/vips.h>
extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "thumbs/thumbnail_protocol.h"
#include "thumbs/thumbnailer_jobs.h"

namespace {

using vm::thumbs::IsJobKind;
using vm::thumbs::kSocketFd;
using vm::thumbs::TJobKind;
using vm::thumbs::TJobMessage;
using vm::thumbs::TJobParameters;
using vm::thumbs::TJobResult;
using vm::thumbs::TReplyHead;
using vm::thumbs::TReplyKind;

// The largest file the program may write: the vector code generator's code file (64 KiB) fits.
constexpr rlim_t kMaxWrittenFile = rlim_t{1} << 20;
constexpr int kArguments = 6;

// The loaders of the formats the server shows or converts; every other one (SVG, PDF and what
// else the library may read) stays blocked, whatever a file's bytes claim it is. A loader this
// library was built without is simply not there.
constexpr const char* kAllowedLoaders[] = {
    "VipsForeignLoadJpeg", "VipsForeignLoadPng",  "VipsForeignLoadNsgif", "VipsForeignLoadWebp",
    "VipsForeignLoadHeif", "VipsForeignLoadTiff", "VipsForeignLoadJxl",
};

struct TParameters {
  TJobParameters Job;
  long long MemoryMiB = 0;
  unsigned Seconds = 0;  // a job that takes longer ends the program
};

bool ReadParameters(int argc, char** argv, TParameters& out) {
  if (argc != kArguments) return false;
  out.Job.Size = std::atoi(argv[1]);
  out.Job.MaxPixels = std::atoll(argv[2]);
  out.MemoryMiB = std::atoll(argv[3]);
  out.Seconds = static_cast<unsigned>(std::atoi(argv[4]));
  out.Job.ViewSize = std::atoi(argv[5]);
  return out.Job.Size > 0 && out.Job.MaxPixels > 0 && out.MemoryMiB > 0 && out.Seconds > 0 &&
         out.Job.ViewSize > 0;
}

void Limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  setrlimit(resource, &limit);
}

// Receives one job: the file's descriptor (-2 for a job without one) and its kind; -1 when the
// server has gone.
int ReceiveJob(TJobKind& kind) {
  TJobMessage job;
  ssize_t n;
  do {
    n = recvmsg(kSocketFd, &job.Message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n != 1 || !IsJobKind(job.Byte)) return -1;
  kind = static_cast<TJobKind>(job.Byte);
  for (cmsghdr* c = CMSG_FIRSTHDR(&job.Message); c != nullptr; c = CMSG_NXTHDR(&job.Message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(c), sizeof(fd));
      return fd;
    }
  }
  return -2;  // a job without a file: answered with a placeholder
}

bool SendAll(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(kSocketFd, at, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Reply(const TJobResult& result) {
  const TReplyHead head{result.Kind, static_cast<uint32_t>(result.Bytes.size())};
  return SendAll(&head, sizeof(head)) &&
         (result.Bytes.empty() || SendAll(result.Bytes.data(), result.Bytes.size()));
}

TJobResult Run(TJobKind kind, int fd, const TJobParameters& parameters) {
  switch (kind) {
    case TJobKind::Thumbnail:
      return MakeImageThumbnail(fd, parameters);
    case TJobKind::View:
      return MakeImageView(fd, parameters);
    case TJobKind::VideoThumbnail:
      return MakeVideoThumbnail(fd, parameters);
    case TJobKind::VideoFacts:
      return ReadVideoFacts(fd, parameters);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  TParameters parameters;
  if (!ReadParameters(argc, argv, parameters)) return 2;
  // The server ends the program by closing the socket, and ends it when a job is late; should
  // the server be gone meanwhile, the alarm set for each job ends a job that never finishes.
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  Limit(RLIMIT_CORE, 0);
  // No file larger than the vector code generator's (a page or so of machine code, mapped
  // from a file of its own) is written: an image too large for memory is not spilled to disk.
  // A larger write fails rather than ending the program.
  signal(SIGXFSZ, SIG_IGN);
  Limit(RLIMIT_FSIZE, kMaxWrittenFile);
  if (VIPS_INIT(argv[0]) != 0) return 1;
  // Heap and every private writable mapping count here: a decoder that wants more fails its
  // allocation, and the image gets a placeholder. Set once the library has loaded.
  Limit(RLIMIT_DATA, static_cast<rlim_t>(parameters.MemoryMiB) << 20);
  vips_concurrency_set(1);
  vips_cache_set_max(0);
  vips_block_untrusted_set(TRUE);
  vips_operation_block_set("VipsForeignLoad", TRUE);
  for (const char* loader : kAllowedLoaders) vips_operation_block_set(loader, FALSE);
  av_log_set_level(AV_LOG_QUIET);

  for (;;) {
    TJobKind kind = TJobKind::Thumbnail;
    const int fd = ReceiveJob(kind);
    if (fd == -1) break;
    alarm(parameters.Seconds);
    const TJobResult result = fd >= 0 ? Run(kind, fd, parameters.Job) : TJobResult();
    if (fd >= 0) close(fd);
    alarm(0);
    if (!Reply(result)) break;
  }
  vips_shutdown();
  return 0;
}
