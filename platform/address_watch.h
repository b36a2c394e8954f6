// Tells when this machine's addresses change (a network joined or left, a cable pulled, a VPN
// up): the kernel's routing socket reports each address added or removed. Where that socket
// cannot be had, the addresses are looked at every few seconds instead.
#pragma once

#include <functional>
#include <thread>

#include "platform/unique_fd.h"

namespace vm {

class TAddressWatch {
 public:
  // changed runs on the watch's own thread, once for each burst of changes (a new network
  // brings several messages), and may be late by up to a poll interval where the kernel cannot
  // tell.
  explicit TAddressWatch(std::function<void()> changed);
  ~TAddressWatch();  // stops and joins the thread; changed is not called afterwards
  TAddressWatch(const TAddressWatch&) = delete;
  TAddressWatch& operator=(const TAddressWatch&) = delete;

 private:
  void Run();

  std::function<void()> changed_;
  TUniqueFd routes_;    // the routing socket; empty when it could not be opened
  TUniqueFd stopRead_;  // the watch ends when the other end of this pipe is closed
  TUniqueFd stopWrite_;
  std::thread thread_;
};

}  // namespace vm
