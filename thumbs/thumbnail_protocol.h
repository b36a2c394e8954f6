// What the server and the thumbnail program say to each other over their socket.
//
// The server sends one byte, the job's kind, with the file's descriptor attached (SCM_RIGHTS);
// the program answers with a TReplyHead and, for an image or facts, Length bytes of them. One
// job at a time.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>

namespace vm::thumbs {

// The descriptor of the program's end of the socket.
inline constexpr int kSocketFd = 3;
// What a job wants of its file: the byte it is sent with.
enum class TJobKind : char {
  Thumbnail = 'J',       // an image's thumbnail
  VideoThumbnail = 'F',  // a frame about a tenth of the way into a video, as a thumbnail
  View = 'V',            // an image browsers cannot show, converted to be looked at
  VideoFacts = 'P',      // a video's container, codecs, duration and size, as TVideoFacts lines
};

inline bool IsJobKind(char byte) {
  for (const TJobKind kind :
       {TJobKind::Thumbnail, TJobKind::VideoThumbnail, TJobKind::View, TJobKind::VideoFacts}) {
    if (byte == static_cast<char>(kind)) return true;
  }
  return false;
}

// A job as it crosses the socket: the byte, and room for one descriptor beside it. Not copied:
// the message points into the object itself.
struct TJobMessage {
  char Byte = 0;
  iovec Part{&Byte, 1};
  alignas(cmsghdr) char Control[CMSG_SPACE(sizeof(int))] = {};
  msghdr Message{};

  TJobMessage() {
    Message.msg_iov = &Part;
    Message.msg_iovlen = 1;
    Message.msg_control = Control;
    Message.msg_controllen = sizeof(Control);
  }
  TJobMessage(const TJobMessage&) = delete;
  TJobMessage& operator=(const TJobMessage&) = delete;
};

enum class TReplyKind : uint32_t {
  Jpeg = 1,         // an opaque image
  Webp = 2,         // an image with transparency
  Placeholder = 3,  // not a readable image, larger than the pixel cap, or cut short
  Facts = 4,        // "name=value" lines of plain ASCII
};

struct TReplyHead {
  TReplyKind Kind;
  uint32_t Length;
};

// A reply larger than this is not one of its kind: it is refused and the program ended. A view
// of 2560 pixels is about 1 MiB as a JPEG; one of noise may be several times that.
inline constexpr uint32_t MaxReplyBytes(TJobKind kind) {
  return kind == TJobKind::View ? 16u << 20 : 1u << 20;
}

}  // namespace vm::thumbs
