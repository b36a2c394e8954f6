#include "state/signin_tokens.h"

#include <gtest/gtest.h>

namespace {

using vm::TSignInTokens;
using Clock = TSignInTokens::TClock;
using std::chrono::minutes;
using std::chrono::seconds;

// A code shown at t0, after what the row does to the store, sent back at t0 + at.
TEST(SignInTokens, EachCodeAdmitsOnceWhileItLives) {
  const Clock::time_point t0 = Clock::now();
  enum class TBefore { Nothing, Used, Renewed, WrongGuess };
  const struct {
    const char* label;
    TBefore before;
    Clock::duration at;
    bool admits;
  } rows[] = {
      {"a moment before it expires", TBefore::Nothing, minutes(10) - seconds(1), true},
      {"expired", TBefore::Nothing, minutes(10), false},
      {"spent", TBefore::Used, seconds(1), false},
      {"replaced by a new one", TBefore::Renewed, seconds(1), false},
      {"after a wrong guess", TBefore::WrongGuess, seconds(1), true},
  };
  for (const auto& row : rows) {
    TSignInTokens tokens;
    const std::string code = tokens.Current(t0)->Token;
    if (row.before == TBefore::Used) tokens.Redeem(code, t0);
    if (row.before == TBefore::Renewed) tokens.Renew(t0);
    if (row.before == TBefore::WrongGuess) tokens.Redeem(std::string(code.size(), '0'), t0);
    EXPECT_EQ(tokens.Redeem(code, t0 + row.at), row.admits) << row.label;
  }
}

TEST(SignInTokens, TheDisplayGetsANewCodeOnlyWhenTheOldOneIsGone) {
  const Clock::time_point t0 = Clock::now();
  TSignInTokens tokens;
  // Every byte counts, zero bytes too (hex text that stopped at one gave short codes).
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(tokens.Renew(t0)->Token.size(), 2 * TSignInTokens::kTokenBytes);
  }
  const vm::TSignInCode first = *tokens.Current(t0);
  EXPECT_EQ(tokens.Current(t0 + minutes(9))->Serial, first.Serial);
  const vm::TSignInCode next = *tokens.Current(t0 + minutes(10));
  EXPECT_NE(next.Serial, first.Serial);
  EXPECT_NE(next.Token, first.Token);
  ASSERT_TRUE(tokens.Redeem(next.Token, t0 + minutes(11)));
  EXPECT_NE(tokens.Current(t0 + minutes(11))->Token, next.Token);
  // A shorter validity holds from the next code on.
  tokens.SetValidity(seconds(5));
  EXPECT_EQ(tokens.Renew(t0)->Expires, t0 + seconds(5));
}

}  // namespace
