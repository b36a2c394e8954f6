// The system's Japanese texts, written here in UTF-8 and converted to Shift_JIS on first use.
#include "web/sjis_texts.h"

namespace vm {

namespace texts {

// Function-local statics: converted once, thread-safe by the language's initialisation rule.
#define VM_SJIS_TEXT(Name, utf8)                \
  const std::string& Name() {                   \
    static const std::string text = Sjis(utf8); \
    return text;                                \
  }

VM_SJIS_TEXT(WrongPassword, "パスワードが正しくありません")
VM_SJIS_TEXT(NothingShared, "このPCはまだフォルダを公開していません。")
VM_SJIS_TEXT(LoginDone, "ログイン完了")
VM_SJIS_TEXT(CodeRefused,
             "このQRコードは使用済みか期限切れです。パスワードを入力するか、PCに表示されている新しい"
             "QRコードを読み取ってください。")
VM_SJIS_TEXT(Send, "送信")
VM_SJIS_TEXT(CreateText, "テキスト作成")
VM_SJIS_TEXT(FileNameLabel, "ファイル名：")
VM_SJIS_TEXT(Save, "保存")
VM_SJIS_TEXT(Clear, "クリア")
VM_SJIS_TEXT(Cancel, "キャンセル")
VM_SJIS_TEXT(ConfirmSave, "登録しますか?")
VM_SJIS_TEXT(RefusedNoFolder, "保存先のフォルダが見つかりません")
VM_SJIS_TEXT(RefusedBadName, "このファイル名は使えません")
VM_SJIS_TEXT(RefusedCannotWrite, "ファイルを書き込めませんでした")
VM_SJIS_TEXT(NotSaved, "保存できませんでした")

#undef VM_SJIS_TEXT

}  // namespace texts

}  // namespace vm
