// The thumbnail programs at work: at most a few at once, each a process of its own.
//
// A request waits on its own (connection) thread for a free worker, so that nothing else the
// server does waits with it. The newest request is served first: in a gallery that is the image
// in view now, while older ones have often scrolled away; a request whose browser went away
// leaves the queue, and with too many waiting the oldest is told to ask again later.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "thumbs/thumbnail_protocol.h"

namespace vm::thumbs {

struct TThumbnailLimits {
  // Thumbnails fit in this square (pixels).
  int Size = 256;
  // Converted views fit in this square: a phone's or a laptop's screen at full resolution.
  int ViewSize = 2560;
  // Images larger than this are never decoded: 100 megapixels is beyond every camera's photo
  // and a decompression bomb's dimensions show in its header.
  int64_t MaxPixels = 100'000'000;
  // Memory of one program (heap and private mappings); a decode that needs more fails.
  int64_t MemoryMiB = 512;
  // A job that runs longer has its program ended; the image gets a placeholder.
  std::chrono::milliseconds Time{10'000};
  // The same for a view: a 50-megapixel photo is decoded whole, on a machine that may be busy.
  std::chrono::milliseconds ViewTime{30'000};
  // Programs at work at once.
  int Workers = 2;
  // Requests waiting beyond the workers; a newer one pushes the oldest out.
  size_t MaxWaiting = 64;
};

struct TMade {
  // Image: made (an image, or the facts of a video, as ContentType says).
  // Unavailable: the program could not be started (not installed); nothing is known of the image.
  enum class TOutcome { Image, Placeholder, Busy, Dropped, Unavailable };
  TOutcome Outcome = TOutcome::Placeholder;
  std::string ContentType;
  std::string Bytes;
};

// Counts since the workers were made, for tests and figures.
struct TWorkerCounters {
  uint64_t made = 0;          // thumbnails made
  uint64_t placeholders = 0;  // images that got none
  uint64_t ended = 0;         // programs ended for time, or found dead
  uint64_t dropped = 0;       // requests whose browser went away while they waited
  uint64_t busy = 0;          // requests pushed out of the queue
};

class TThumbnailWorkers {
 public:
  // program: the thumbnail program's path (native).
  TThumbnailWorkers(std::string program, TThumbnailLimits limits);
  ~TThumbnailWorkers();  // ends the programs; no Make may still run
  TThumbnailWorkers(const TThumbnailWorkers&) = delete;
  TThumbnailWorkers& operator=(const TThumbnailWorkers&) = delete;

  // The job's answer for the file open on fd (read, not taken over): by default the thumbnail
  // of an image. clientGone is asked while the request waits for a worker. Thread-safe.
  TMade Make(int fd, const std::function<bool()>& clientGone, TJobKind kind = TJobKind::Thumbnail);

  TWorkerCounters Counters() const;
  // The process ids of the programs running now (for figures of their memory).
  std::vector<pid_t> ProgramIds() const;

 private:
  struct TSlot {
    // Written by the slot's taker only; read by anyone (ProgramIds) without taking the slot.
    std::atomic<pid_t> Pid{-1};
    TUniqueFd Socket;
    bool Busy = false;
  };

  // Waits for a free slot as the newest waiter; -1 when pushed out or the client went away.
  int TakeSlot(const std::function<bool()>& clientGone, TMade::TOutcome& refusal);
  void GiveBack(int slot);
  // Runs one job on a slot held by the caller (no lock): starts the program when needed, ends it
  // on any failure.
  // ended: the program had to be ended (too slow, dead, or talking nonsense).
  TMade RunJob(TSlot& slot, int fd, TJobKind kind, bool& ended);
  bool Start(TSlot& slot);
  static void End(TSlot& slot);

  const std::string program_;
  const TThumbnailLimits limits_;
  mutable std::mutex mutex_;
  std::condition_variable turn_;
  std::vector<TSlot> slots_;      // guarded by mutex_ (a Busy slot belongs to its taker)
  std::deque<uint64_t> waiting_;  // tickets, oldest first; guarded by mutex_
  std::set<uint64_t> pushedOut_;  // guarded by mutex_
  uint64_t nextTicket_ = 0;       // guarded by mutex_
  TWorkerCounters counters_;      // guarded by mutex_
};

}  // namespace vm::thumbs
