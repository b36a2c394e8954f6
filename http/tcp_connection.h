// The buffered connection: one accepted socket, its input buffer and its write buffer.
// Used by one connection thread; only CloseSocket may be called from another thread. The
// socket is made non-blocking: every wait is a poll with its own time limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/stream.h"
#include "platform/transfer_progress.h"

namespace vm {

class TIdTCPConnection {
 public:
  // Largest single receive into the input buffer, and largest block of a body read.
  static constexpr size_t kRecvBufferSize = 32768;
  // Largest block taken from a stream for one send.
  static constexpr size_t kSendBufferSize = 32768;
  // A request line or header line longer than this is refused, so that a client without line
  // ends cannot make the input buffer grow without bound.
  static constexpr size_t kDefaultMaxLineLength = 16384;
  // At close, unread bytes still arriving are drained for at most this long: closing with unread
  // input makes the kernel send a reset, which can destroy the response before the peer reads it.
  static constexpr int kLingerMs = 1000;
  // ... and at most this many bytes, so that an endless sender cannot hold the close.
  static constexpr size_t kLingerMaxBytes = 1 << 20;

  // Takes ownership of a connected socket; peerIP is the dotted peer address.
  TIdTCPConnection(int socket, std::string peerIP);
  ~TIdTCPConnection();  // disconnects
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  size_t MaxLineLength = kDefaultMaxLineLength;
  // Milliseconds a read may wait for the next byte; 0 = without limit. Also bounds how long a
  // send may find no room: a peer that takes no byte of the answer for this long (it stopped
  // reading) fails the send.
  int ReadTimeout = 0;
  void SetReadTimeout(int milliseconds) { ReadTimeout = milliseconds; }
  // Reads fail with EIdReadTimeout once this moment has passed, however recently the last byte
  // came: a client dribbling a byte now and then would otherwise hold its thread for hours.
  void SetReadDeadline(std::chrono::steady_clock::time_point deadline) { readDeadline_ = deadline; }
  void ClearReadDeadline() { readDeadline_.reset(); }

  // Reads up to the next LF; the LF and one CR before it are removed.
  // Throws EIdMaxLineLengthExceeded, EIdConnClosedGracefully, EIdReadTimeout, EIdSocketError.
  std::string ReadLn();
  // Appends exactly count bytes to stream (at its position), in blocks of kRecvBufferSize.
  void ReadStream(TStream& stream, int64_t count);
  // Appends every byte until the peer closes its side; the close is not an error.
  void ReadStreamUntilClose(TStream& stream);
  // Takes up to count bytes into buffer: those already received first, else what one receive
  // brings (waiting as a read does). 0 when the peer has closed its side.
  size_t ReadSome(char* buffer, size_t count);
  // Bytes received and not yet consumed.
  size_t InputBufferSize() const { return inputBuffer_.size() - inputStart_; }
  // Those bytes; valid until the next read or Consume.
  std::string_view InputBuffer() const {
    return std::string_view(inputBuffer_).substr(inputStart_);
  }
  // Marks the first count bytes of InputBuffer() as consumed.
  void Consume(size_t count);
  // Receives once more into the input buffer (waiting as a read does); false when the peer has
  // closed its side. Throws EIdReadTimeout, EIdSocketError, EIdClosedSocket.
  bool ReceiveMore();

  // Sends (or collects, while the write buffer is open) the bytes.
  void Write(std::string_view bytes);
  // Write plus CR LF.
  void WriteLn(std::string_view line);
  // Sends the stream from position 0 to its end in blocks of kSendBufferSize.
  void WriteStream(TStream& stream);
  // Sends count bytes of an open file from offset, directly (the write buffer is bypassed).
  // Returns the bytes sent; fewer than count when the file ended early.
  uint64_t WriteFile(int fileDescriptor, uint64_t offset, uint64_t count);

  // From now on Write collects instead of sending, without a size limit.
  void OpenWriteBuffer();
  // Sends what was collected; collecting goes on.
  void FlushWriteBuffer();
  // Sends what was collected and stops collecting. With moreFollows the bytes may wait for the
  // next send (or the close) to leave with it: for a header whose body comes next.
  void CloseWriteBuffer(bool moreFollows = false);
  // Sends what was collected and then body, in one call when the socket takes it all, and
  // stops collecting: a header and its body without copying the body.
  void CloseWriteBuffer(std::string_view body);
  bool WriteBufferOpen() const { return writeBufferOpen_; }

  // Says that the peer's last message has been read to its end: Disconnect then closes at once
  // when no byte waits unread, as the peer is not sending. Reset by every read of input.
  void MarkMessageEnd() { messageEnded_ = true; }
  // Closes the socket. After an answer, when the peer may still be sending (its message was not
  // read to the end, or bytes wait unread), sending is shut down first and what still arrives is
  // drained for a moment: closing with unread input makes the kernel send a reset, which can
  // destroy the answer before the peer reads it.
  void Disconnect();
  // From any thread: shuts the socket down both ways so that a blocked read or send of the
  // owning thread returns at once. The owner still closes it.
  void CloseSocket();
  // The socket is open and the peer has not closed its side (or there are bytes left to read).
  bool Connected() const;
  const std::string& PeerIP() const { return peerIP_; }
  // Tells connections apart by age: a later connection has a larger number.
  uint64_t Serial() const { return serial_; }
  // While set, the bytes of bodies read (ReadStream, ReadStreamUntilClose) and of files sent
  // (WriteFile) are counted there, once per block; cancelling it shuts the socket down
  // (CloseSocket), which ends the transfer.
  void SetTransferProgress(std::shared_ptr<TTransferProgress> progress);
  TTransferProgress* TransferProgress() const { return progress_.get(); }
  void SetPeerIP(std::string peerIP) { peerIP_ = std::move(peerIP); }
  int Socket() const { return socket_; }

 private:
  enum class WaitResult { Ready, TimedOut };
  WaitResult WaitFor(short events, int timeoutMs);
  // Receives once into buffer (at most count bytes); 0 when the peer has closed its side.
  size_t ReceiveInto(char* buffer, size_t count);
  void SendAll(const char* data, size_t size, bool moreFollows = false);
  // A send took bytes: the peer reads.
  void NoteSendProgress() {
    sentAny_ = true;
    stalledSince_.reset();
  }
  // A send found no room: waits for some, or fails the send once the peer has taken no byte
  // for ReadTimeout since a send first found no room.
  void AwaitSendRoom(const char* call);
  // Sends first and then second, as one stream of bytes.
  void SendBoth(std::string_view first, std::string_view second);
  // A failed send: closes when the peer is gone, then throws the socket error.
  [[noreturn]] void FailSend(int errorCode, const char* call);
  [[noreturn]] void FailSocket(int errorCode, const char* call);
  void CloseNow(bool linger);

  const uint64_t serial_;
  int socket_;  // -1 once closed; written only under socketLock_
  mutable std::mutex socketLock_;
  std::string peerIP_;
  std::string inputBuffer_;
  size_t inputStart_ = 0;   // bytes before this offset are consumed
  size_t lineSearched_ = 0;  // bytes after inputStart_ already searched for LF
  bool closedGracefully_ = false;
  std::optional<std::chrono::steady_clock::time_point> readDeadline_;
  std::optional<std::chrono::steady_clock::time_point> stalledSince_;  // see AwaitSendRoom
  bool sentAny_ = false;  // a response (part) went out: closing must not reset it away
  bool messageEnded_ = false;  // see MarkMessageEnd
  bool writeBufferOpen_ = false;
  std::string writeBuffer_;
  std::shared_ptr<TTransferProgress> progress_;  // see SetTransferProgress
};

}  // namespace vm
