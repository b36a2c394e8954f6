#include "state/signin_tokens.h"

#include <sys/random.h>

#include <cerrno>
#include <string>

namespace vm {

namespace {

// Fills bytes from the kernel's random source; false when it gives none.
bool FillRandom(unsigned char* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::getrandom(bytes + done, size - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

// Every byte as two lowercase hex digits (zero bytes too, unlike the text helpers' HexEncode).
std::string HexOfBytes(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

// Compares in a time that does not depend on where the texts differ, so that the answer's
// timing tells nothing about how much of a guess was right.
bool SameToken(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

TSignInTokens::TSignInTokens(TClock::duration validity) : validity_(validity) {}

void TSignInTokens::SetValidity(TClock::duration validity) {
  std::lock_guard<std::mutex> lock(mutex_);
  validity_ = validity;
}

std::optional<TSignInCode> TSignInTokens::MakeCode(TClock::time_point now) {
  live_.reset();
  unsigned char bytes[kTokenBytes];
  if (!FillRandom(bytes, sizeof bytes)) return std::nullopt;
  live_ = TSignInCode{HexOfBytes(bytes, sizeof bytes), now + validity_, ++serial_};
  return live_;
}

std::optional<TSignInCode> TSignInTokens::Current(TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (live_ && now < live_->Expires) return live_;
  return MakeCode(now);
}

std::optional<TSignInCode> TSignInTokens::Renew(TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  return MakeCode(now);
}

void TSignInTokens::Revoke() {
  std::lock_guard<std::mutex> lock(mutex_);
  live_.reset();
}

bool TSignInTokens::Redeem(std::string_view token, TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!live_ || !SameToken(token, live_->Token)) return false;
  const bool inTime = now < live_->Expires;
  // Spent or expired alike: it is gone, and the display makes the next one.
  live_.reset();
  return inTime;
}

std::string SignInUrl(const std::string& baseUrl, const std::string& token) {
  return baseUrl + kSignInDocument + "?" + kSignInParam + "=" + token;
}

}  // namespace vm
