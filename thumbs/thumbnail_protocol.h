// What the server and the thumbnail program say to each other over their socket.
//
// The server sends one byte with the image's descriptor attached (SCM_RIGHTS); the program
// answers with a TReplyHead and, for an image, Length bytes of it. One job at a time.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>

namespace vm::thumbs {

// The descriptor of the program's end of the socket.
inline constexpr int kSocketFd = 3;
// The byte a job is sent with.
inline constexpr char kJobByte = 'J';

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
};

struct TReplyHead {
  TReplyKind Kind;
  uint32_t Length;
};

// A thumbnail larger than this is not one: the reply is refused and the program ended.
inline constexpr uint32_t kMaxReplyBytes = 1u << 20;

}  // namespace vm::thumbs
