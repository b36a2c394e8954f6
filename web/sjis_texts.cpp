// The system's Japanese texts, written here in UTF-8 and converted to Shift_JIS on first use.
#include "web/sjis_texts.h"

#include <stdexcept>

#include "platform/fs_names.h"

namespace vm {

std::string Sjis(std::string_view utf8) {
  std::optional<std::string> sjis = Utf8ToShiftJis(utf8);
  // Only our own literals come here, so a text CP932 cannot hold is a programming error.
  if (!sjis) throw std::logic_error("text has no Shift_JIS form: " + std::string(utf8));
  return *sjis;
}

namespace texts {

// Function-local statics: converted once, thread-safe by the language's initialisation rule.
#define VM_SJIS_TEXT(Name, utf8)                \
  const std::string& Name() {                   \
    static const std::string text = Sjis(utf8); \
    return text;                                \
  }

VM_SJIS_TEXT(WrongPassword, "パスワードが正しくありません")
VM_SJIS_TEXT(LoginDone, "ログイン完了")
VM_SJIS_TEXT(Send, "送信")
VM_SJIS_TEXT(CreateText, "テキスト作成")
VM_SJIS_TEXT(FileNameLabel, "ファイル名：")
VM_SJIS_TEXT(Save, "保存")
VM_SJIS_TEXT(Clear, "クリア")
VM_SJIS_TEXT(Cancel, "キャンセル")
VM_SJIS_TEXT(ConfirmSave, "登録しますか?")
VM_SJIS_TEXT(CannotCreateFile, "ファイル %s を作成できません")
VM_SJIS_TEXT(CannotOpenFile, "ファイル %s は開けません")

#undef VM_SJIS_TEXT

}  // namespace texts

}  // namespace vm
