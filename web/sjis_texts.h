// The system's Japanese texts, kept readable here in UTF-8 and converted to Shift_JIS once.
#pragma once

#include <string>

// Sjis(): the conversion of a UTF-8 literal, shared with the platform layer.
#include "platform/sjis.h"

namespace vm {

namespace texts {
// Each returns the Shift_JIS bytes of the named text (converted once, then cached).
const std::string& WrongPassword();      // "パスワードが正しくありません"
const std::string& NothingShared();      // "このPCはまだフォルダを公開していません。"
const std::string& LoginDone();          // "ログイン完了"
const std::string& CodeRefused();        // "このQRコードは使用済みか期限切れです。…"
const std::string& Send();               // "送信"
const std::string& CreateText();         // "テキスト作成"
const std::string& FileNameLabel();      // "ファイル名："
const std::string& Save();               // "保存"
const std::string& Clear();              // "クリア"
const std::string& Cancel();             // "キャンセル"
const std::string& ConfirmSave();        // "登録しますか?"
const std::string& RefusedNoFolder();    // "保存先のフォルダが見つかりません"
const std::string& RefusedBadName();     // "このファイル名は使えません"
const std::string& RefusedCannotWrite();  // "ファイルを書き込めませんでした"
const std::string& NotSaved();            // "保存できませんでした"
}  // namespace texts

}  // namespace vm
