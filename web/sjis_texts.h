// The system's Japanese texts, kept readable here in UTF-8 and converted to Shift_JIS once.
#pragma once

#include <string>
#include <string_view>

namespace vm {

// The Shift_JIS bytes of a UTF-8 literal; the literal must be representable in CP932.
std::string Sjis(std::string_view utf8);

namespace texts {
// Each returns the Shift_JIS bytes of the named text (converted once, then cached).
const std::string& WrongPassword();      // "パスワードが正しくありません"
const std::string& LoginDone();          // "ログイン完了"
const std::string& Send();               // "送信"
const std::string& CreateText();         // "テキスト作成"
const std::string& FileNameLabel();      // "ファイル名："
const std::string& Save();               // "保存"
const std::string& Clear();              // "クリア"
const std::string& Cancel();             // "キャンセル"
const std::string& ConfirmSave();        // "登録しますか?"
const std::string& CannotCreateFile();   // "ファイル %s を作成できません"
const std::string& CannotOpenFile();     // "ファイル %s は開けません"
}  // namespace texts

}  // namespace vm
