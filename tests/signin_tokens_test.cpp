#include "state/signin_tokens.h"

#include <gtest/gtest.h>

namespace {

using vm::TSignInTokens;
using Clock = TSignInTokens::TClock;
using std::chrono::minutes;
using std::chrono::seconds;

// A code shown at t0, after what the row does, sent back at t0 + at.
TEST(SignInTokens, EachCodeAdmitsOnceWhileItLives) {
  const Clock::time_point t0 = Clock::now();
  using TStep = void (*)(TSignInTokens&, const std::string& shown, Clock::time_point t0);
  const TStep nothing = [](TSignInTokens&, const std::string&, Clock::time_point) {};
  const struct {
    const char* label;
    TStep before;
    Clock::duration at;
    bool admits;
  } rows[] = {
      {"a moment before it expires", nothing, minutes(10) - seconds(1), true},
      {"expired", nothing, minutes(10), false},
      {"spent",
       [](TSignInTokens& t, const std::string& c, Clock::time_point t0) { t.Redeem(c, t0); },
       seconds(1), false},
      {"replaced", [](TSignInTokens& t, const std::string&, Clock::time_point t0) { t.Renew(t0); },
       seconds(1), false},
      {"revoked", [](TSignInTokens& t, const std::string&, Clock::time_point) { t.Revoke(); },
       seconds(1), false},
      {"after a wrong guess",
       [](TSignInTokens& t, const std::string& c, Clock::time_point t0) {
         t.Redeem(std::string(c.size(), '0'), t0);
       },
       seconds(1), true},
  };
  for (const auto& row : rows) {
    TSignInTokens tokens;
    const std::string code = tokens.Current(t0)->Token;
    row.before(tokens, code, t0);
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
