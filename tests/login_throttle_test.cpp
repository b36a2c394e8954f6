#include "web/login_throttle.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

using std::chrono::seconds;
using TTime = TLoginThrottle::TClock::time_point;

const TTime kStart = TTime() + std::chrono::hours(100);

// Wrong attempts one after the other, each made when the last was answered: the wait of each.
TEST(LoginThrottle, DelayDoublesAfterFiveWrongPasswordsUpToAMinute) {
  TLoginThrottle throttle;
  TTime now = kStart;
  const seconds expected[] = {seconds(0),  seconds(0),  seconds(0),  seconds(0), seconds(0),
                              seconds(1),  seconds(2),  seconds(4),  seconds(8), seconds(16),
                              seconds(32), seconds(64), seconds(64), seconds(64)};
  int attempt = 0;
  for (seconds wait : expected) {
    // What the login page tells before the attempt is the wait it then gets.
    EXPECT_EQ(throttle.WaitAhead("10.0.0.5", now), wait) << attempt;
    const std::optional<TTime> turn = throttle.Reserve("10.0.0.5", now);
    ASSERT_TRUE(turn) << attempt;
    EXPECT_EQ(*turn - now, wait) << "attempt " << ++attempt;
    now = *turn;
  }
  // Other addresses are not slowed; a correct password starts the count again.
  EXPECT_EQ(throttle.Reserve("10.0.0.6", now), now);
  throttle.Succeeded("10.0.0.5");
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) {
    EXPECT_EQ(throttle.Reserve("10.0.0.5", now), now);
  }
  EXPECT_EQ(throttle.Reserve("10.0.0.5", now), now + seconds(1));
}

TEST(LoginThrottle, AttemptsArrivingTogetherQueue) {
  TLoginThrottle throttle;
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) throttle.Reserve("10.0.0.5", kStart);
  // Sent at once on parallel connections: each turn lies behind the one before.
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(1));
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(3));
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(7));
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(15));
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(31));
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), kStart + seconds(63));
  // A turn further ahead than the longest delay is not given (and not counted).
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart), std::nullopt);
  EXPECT_EQ(throttle.Reserve("10.0.0.5", kStart + seconds(63)), kStart + seconds(127));
}

TEST(LoginThrottle, StateStaysBounded) {
  TLoginThrottle throttle;
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) throttle.Reserve("10.0.0.5", kStart);
  // A quiet address is forgotten: its count starts again.
  const TTime later = kStart + TLoginThrottle::kForgetAfter + seconds(1);
  EXPECT_EQ(throttle.Reserve("10.0.0.5", later), later);
  // A flood of addresses fills the table only up to its size; the quietest goes first.
  for (size_t i = 0; i < 2 * TLoginThrottle::kMaxAddresses; ++i) {
    throttle.Reserve("f" + std::to_string(i), later + seconds(1));
  }
  EXPECT_EQ(throttle.TrackedAddresses(), TLoginThrottle::kMaxAddresses);
}

// 4,100 other addresses, one attempt each, pushed a delayed address out of the table, and it
// had its free attempts again.
TEST(LoginThrottle, DelayedAddressesAreNeverDroppedForOthers) {
  TLoginThrottle throttle;
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i) throttle.Reserve("10.0.0.5", kStart);
  // Ten attempts a second: no crowd.
  TTime now = kStart;
  for (size_t i = 0; i < TLoginThrottle::kMaxAddresses + 100; ++i) {
    now += std::chrono::milliseconds(100);
    EXPECT_EQ(throttle.Reserve("f" + std::to_string(i), now), now) << i;
  }
  EXPECT_EQ(throttle.TrackedAddresses(), TLoginThrottle::kMaxAddresses);
  EXPECT_EQ(throttle.Reserve("10.0.0.5", now), now + seconds(1));
}

TEST(LoginThrottle, ACrowdOfAttemptsSlowsEveryFurtherOne) {
  TLoginThrottle throttle;
  // Each from a new address, all within one second.
  for (int i = 0; i < TLoginThrottle::kMaxWrongPerSecond; ++i) {
    EXPECT_EQ(throttle.Reserve("c" + std::to_string(i), kStart), kStart) << i;
  }
  EXPECT_EQ(throttle.Reserve("late", kStart), kStart + seconds(1));
  // A correct password is no wrong one: the crowd shrinks by it.
  throttle.Succeeded("late");
  EXPECT_EQ(throttle.Reserve("next", kStart), kStart);
  EXPECT_EQ(throttle.Reserve("next2", kStart), kStart + seconds(1));
  // A second later the crowd has gone.
  EXPECT_EQ(throttle.Reserve("calm", kStart + seconds(1)), kStart + seconds(1));
}

TEST(LoginThrottle, WaitsForTheTurnUnlessStopped) {
  TLoginThrottle throttle(std::chrono::milliseconds(20));
  for (int i = 0; i < TLoginThrottle::kFreeAttempts; ++i)
    throttle.Reserve("a", TTime::clock::now());
  const auto start = TTime::clock::now();
  EXPECT_TRUE(throttle.WaitForTurn("a"));
  EXPECT_GE(TTime::clock::now() - start, std::chrono::milliseconds(20));
  throttle.Stop();
  EXPECT_FALSE(throttle.WaitForTurn("b"));
  throttle.Start();
  EXPECT_TRUE(throttle.WaitForTurn("b"));
}

}  // namespace
}  // namespace vm
