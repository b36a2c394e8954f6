// One-time sign-in codes. While a password is required, the QR code the desktop shows carries a
// code, so that the phone that scans it is admitted without typing the password on its keyboard.
//
// One code lives at a time, made when a display first asks for it: whoever scans the screen gets
// in once, and a code nobody looks at is never made. It is spent by its first use, void after
// its validity, and replaced at once by the next code a display asks for.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vm {

// The document a sign-in code is opened with, below the base URL, and the parameter holding the
// code ("http://192.168.0.12:8080/velmarind/vm-signin?t=<code>").
inline constexpr char kSignInDocument[] = "vm-signin";
inline constexpr char kSignInParam[] = "t";

// A code as a display shows it.
struct TSignInCode {
  std::string Token;                              // kTokenBytes random bytes as hex text
  std::chrono::steady_clock::time_point Expires;  // unusable from this moment
  uint64_t Serial = 0;  // one more for every code made: redraw when it changes
};

class TSignInTokens {
 public:
  using TClock = std::chrono::steady_clock;
  // 128 bits: far beyond guessing, even without the login throttle in front.
  static constexpr size_t kTokenBytes = 16;
  static constexpr auto kDefaultValidity = std::chrono::minutes(10);

  explicit TSignInTokens(TClock::duration validity = kDefaultValidity);

  // Codes made from now on are valid this long; the live one keeps its time.
  void SetValidity(TClock::duration validity);
  // The code to show: the live one, or a new one when it was spent, has expired, was revoked or
  // none was made yet. Nothing when the system gives no random bytes (show no code then).
  std::optional<TSignInCode> Current(TClock::time_point now = TClock::now());
  // A new code at once; the one before is void.
  std::optional<TSignInCode> Renew(TClock::time_point now = TClock::now());
  // Voids the live code (the password settings changed, sign-in by code was turned off).
  void Revoke();
  // True when token is the live code and has not expired at now. The code is spent by it: of
  // any number of callers with the same code, exactly one gets true.
  bool Redeem(std::string_view token, TClock::time_point now = TClock::now());

 private:
  std::optional<TSignInCode> MakeCode(TClock::time_point now);  // requires mutex_

  std::mutex mutex_;
  TClock::duration validity_;        // guarded by mutex_
  std::optional<TSignInCode> live_;  // guarded by mutex_
  uint64_t serial_ = 0;              // guarded by mutex_
};

// The address a QR code carries for token: baseUrl (ending in "/") and the sign-in document.
std::string SignInUrl(const std::string& baseUrl, const std::string& token);

}  // namespace vm
