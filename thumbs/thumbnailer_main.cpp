// The thumbnail program: makes thumbnails of the images the server hands it, one at a time.
//
// It runs apart from the server so that an image that is hostile or merely huge costs at most
// this process: it holds no share, no socket but its own, has capped memory and no right to
// write files, and the server ends it when a job takes too long.
//
//   velmarind-thumbnailer SIZE MAX_PIXELS MEMORY_MIB SECONDS   (the socket on descriptor 3)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vips/vips.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "thumbs/thumbnail_protocol.h"

namespace {

using vm::thumbs::kJobByte;
using vm::thumbs::kMaxReplyBytes;
using vm::thumbs::kSocketFd;
using vm::thumbs::TJobMessage;
using vm::thumbs::TReplyHead;
using vm::thumbs::TReplyKind;

constexpr int kJpegQuality = 80;
// The largest file the program may write: the vector code generator's code file (64 KiB) fits.
constexpr rlim_t kMaxWrittenFile = rlim_t{1} << 20;
constexpr int kWebpQuality = 80;
constexpr int kArguments = 5;

// The loaders of the formats the gallery shows; every other one (SVG, PDF, TIFF and what else
// the library may read) stays blocked, whatever a file's bytes claim it is.
constexpr const char* kAllowedLoaders[] = {
    "VipsForeignLoadJpeg", "VipsForeignLoadPng",  "VipsForeignLoadNsgif",
    "VipsForeignLoadWebp", "VipsForeignLoadHeif",
};

struct TParameters {
  int Size = 0;
  long long MaxPixels = 0;
  long long MemoryMiB = 0;
  unsigned Seconds = 0;  // a job that takes longer ends the program
};

bool ReadParameters(int argc, char** argv, TParameters& out) {
  if (argc != kArguments) return false;
  out.Size = std::atoi(argv[1]);
  out.MaxPixels = std::atoll(argv[2]);
  out.MemoryMiB = std::atoll(argv[3]);
  out.Seconds = static_cast<unsigned>(std::atoi(argv[4]));
  return out.Size > 0 && out.MaxPixels > 0 && out.MemoryMiB > 0 && out.Seconds > 0;
}

void Limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  setrlimit(resource, &limit);
}

// Receives one job: the image's descriptor; -1 when the server has gone.
int ReceiveJob() {
  TJobMessage job;
  ssize_t n;
  do {
    n = recvmsg(kSocketFd, &job.Message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n != 1 || job.Byte != kJobByte) return -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&job.Message); c != nullptr; c = CMSG_NXTHDR(&job.Message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(c), sizeof(fd));
      return fd;
    }
  }
  return -2;  // a job without an image: answered with a placeholder
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

bool Reply(TReplyKind kind, const void* data = nullptr, size_t size = 0) {
  const TReplyHead head{kind, static_cast<uint32_t>(size)};
  return SendAll(&head, sizeof(head)) && (size == 0 || SendAll(data, size));
}

// The image's thumbnail, upright, fitting in size x size; false for a placeholder.
bool MakeThumbnail(int fd, const TParameters& p, TReplyKind& kind, void*& bytes, size_t& length) {
  vips_error_clear();
  // The descriptor's offset is the server's: read from the start whatever it is.
  lseek(fd, 0, SEEK_SET);
  VipsSource* source = vips_source_new_from_descriptor(fd);
  if (source == nullptr) return false;
  bool made = false;
  // The header alone tells the size: an image over the cap is never decoded.
  VipsImage* header =
      vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  if (header != nullptr) {
    const long long pixels =
        static_cast<long long>(vips_image_get_width(header)) * vips_image_get_height(header);
    g_object_unref(header);
    VipsImage* thumbnail = nullptr;
    if (pixels > 0 && pixels <= p.MaxPixels &&
        vips_thumbnail_source(source, &thumbnail, p.Size, "height", p.Size, "size", VIPS_SIZE_DOWN,
                              "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr) == 0) {
      if (vips_image_hasalpha(thumbnail)) {
        kind = TReplyKind::Webp;
        made = vips_webpsave_buffer(thumbnail, &bytes, &length, "Q", kWebpQuality, "strip", TRUE,
                                    nullptr) == 0;
      } else {
        kind = TReplyKind::Jpeg;
        made = vips_jpegsave_buffer(thumbnail, &bytes, &length, "Q", kJpegQuality, "strip", TRUE,
                                    "optimize_coding", TRUE, nullptr) == 0;
      }
      g_object_unref(thumbnail);
    }
  }
  g_object_unref(source);
  // Decoding runs while the thumbnail is saved; a damaged image (data cut short) may still give
  // a saved picture, grey below the damage, with only the error recorded.
  if (vips_error_buffer()[0] != '\0') made = false;
  vips_error_clear();
  return made && length <= kMaxReplyBytes;
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

  for (;;) {
    const int fd = ReceiveJob();
    if (fd == -1) break;
    alarm(parameters.Seconds);
    TReplyKind kind = TReplyKind::Placeholder;
    void* bytes = nullptr;
    size_t length = 0;
    const bool made = fd >= 0 && MakeThumbnail(fd, parameters, kind, bytes, length);
    if (fd >= 0) close(fd);
    alarm(0);
    const bool sent = made ? Reply(kind, bytes, length) : Reply(TReplyKind::Placeholder);
    g_free(bytes);
    if (!sent) break;
  }
  vips_shutdown();
  return 0;
}
